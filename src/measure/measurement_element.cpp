#include "measure/measurement_element.h"

#include <algorithm>
#include <cmath>

#include "measure/measurement_list.h"
#include "viewer/viewport_2d.h"

namespace vexel {
namespace {

constexpr const MeasurementStyle& kStyle = kMeasurementStyle;

PixelRect Union(const PixelRect& a, const PixelRect& b) {
    if (a.Empty()) return b;
    if (b.Empty()) return a;
    const int32_t left = std::min(a.x, b.x);
    const int32_t top = std::min(a.y, b.y);
    const int32_t right = std::max(a.x + a.width, b.x + b.width);
    const int32_t bottom = std::max(a.y + a.height, b.y + b.height);
    return {left, top, right - left, bottom - top};
}

PixelRect Grown(const PixelRect& r, int32_t by) {
    return {r.x - by, r.y - by, r.width + 2 * by, r.height + 2 * by};
}

double Distance(CanvasPoint a, CanvasPoint b) {
    return std::hypot(double(a.x) - b.x, double(a.y) - b.y);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace

CMeasurementElement::CMeasurementElement(CViewport2D& viewport, MeasurementKind kind,
                                         size_t points)
    : COverlayElement(viewport), m_kind(kind), m_points(points), m_screen(points) {}

double CMeasurementElement::Reach(double logical) const {
    return logical * double(m_viewport->DevicePixelRatio());
}

// ---- mouse ----

ToolAnswer CMeasurementElement::MouseDown(int32_t x, int32_t y, MouseButton button) {
    if (!m_finished) return CreateDown(x, y, button);
    if (button != MouseButton::Left || m_state != ElementState::Hovered) {
        return ToolAnswer::NotHandled;
    }
    const CanvasPoint centre = Centre(x, y);
    const auto image = m_viewport->ScreenToImage(centre.x, centre.y);
    if (!image) return ToolAnswer::NotHandled;
    m_list->Select(this);
    m_state = ElementState::Dragging;
    m_press = {x, y};
    m_pressImage = *image;
    m_startPoints = m_points;
    m_startLabel = m_labelAt;
    m_dragLabel = m_hover.label;
    m_drag = m_dragLabel ? DragMask(m_points.size(), 0) : DragFor(m_hover, centre);
    return ToolAnswer::Handled;
}

ToolAnswer CMeasurementElement::MouseMove(int32_t x, int32_t y) {
    if (!m_finished) return CreateMove(x, y);
    if (m_state == ElementState::Dragging) return Drag({x, y});
    return Hover(Centre(x, y));
}

ToolAnswer CMeasurementElement::MouseUp(int32_t x, int32_t y, MouseButton button) {
    if (!m_finished) return CreateUp(x, y, button);
    if (m_state != ElementState::Dragging) return ToolAnswer::NotHandled;
    m_state = ElementState::Hovered;
    m_drag.clear();
    m_dragLabel = false;
    m_list->Committed();
    return ToolAnswer::NotHandled;
}

ToolAnswer CMeasurementElement::Hover(CanvasPoint p) {
    std::optional<Hit> hit;
    if (InLabel(p)) {
        hit = Hit{};
        hit->label = true;
    } else {
        hit = HitShape(p);
    }
    if (!hit) {
        if (m_state == ElementState::Idle) return ToolAnswer::NotHandled;
        m_hover = {};
        m_state = ElementState::Idle;
        Changed();
        return ToolAnswer::NotHandled;
    }
    if (m_state != ElementState::Hovered || !(m_hover == *hit)) {
        m_hover = *hit;
        m_state = ElementState::Hovered;
        Changed();
    }
    return ToolAnswer::Capture;
}

ToolAnswer CMeasurementElement::Drag(ScreenPoint p) {
    if (m_dragLabel) {
        m_labelAt = {m_startLabel.x + DragDistance(p.x, m_press.x),
                     m_startLabel.y + DragDistance(p.y, m_press.y)};
        if (const auto image = m_viewport->ScreenToImage(float(m_labelAt.x), float(m_labelAt.y))) {
            m_labelImage = *image;
            m_labelMoved = true;
        }
        Changed();
        return ToolAnswer::Handled;
    }
    // Image offsets, so a shape keeps its size and place exactly whatever the zoom.
    const CanvasPoint centre = Centre(p.x, p.y);
    const auto image = m_viewport->ScreenToImage(centre.x, centre.y);
    if (!image) return ToolAnswer::Handled;
    const float dx = image->x - m_pressImage.x;
    const float dy = image->y - m_pressImage.y;
    for (size_t i = 0; i < m_points.size() && i < m_drag.size(); ++i) {
        if (m_drag[i] & 1) m_points[i].x = m_startPoints[i].x + dx;
        if (m_drag[i] & 2) m_points[i].y = m_startPoints[i].y + dy;
    }
    const bool whole = std::all_of(m_drag.begin(), m_drag.end(), [](uint8_t m) { return m == 3; });
    // A whole shape moved keeps its value; the ellipse's statistics change with the place.
    if (!whole || m_kind == MeasurementKind::Ellipse) UpdateText();
    Changed();
    return ToolAnswer::Handled;
}

CMeasurementElement::DragMask CMeasurementElement::DragFor(const Hit& /*hit*/,
                                                         CanvasPoint press) const {
    const int handle = HandleNear(press, Reach(kHandleReach));
    DragMask mask(m_points.size(), handle < 0 ? 3 : 0);
    if (handle >= 0) mask[size_t(handle)] = 3;
    return mask;
}

// ---- creation helpers ----

bool CMeasurementElement::SetPoint(size_t i, int32_t x, int32_t y) {
    const CanvasPoint centre = Centre(x, y);
    const auto image = m_viewport->ScreenToImage(centre.x, centre.y);
    if (!image || i >= m_points.size()) return false;
    m_points[i] = *image;
    return true;
}

ToolAnswer CMeasurementElement::DragCreateDown(int32_t x, int32_t y) {
    if (m_phase != 0 || !SetPoint(0, x, y)) return ToolAnswer::NotHandled;
    m_points[1] = m_points[0];
    m_phase = 1;
    return ToolAnswer::Capture;
}

ToolAnswer CMeasurementElement::DragCreateMove(int32_t x, int32_t y) {
    if (SetPoint(1, x, y)) {
        m_phase = 2;
        UpdateText();
        Changed();
    }
    return ToolAnswer::Capture;
}

ToolAnswer CMeasurementElement::DragCreateUp() {
    if (m_phase == 2) Finish();
    return ToolAnswer::NotHandled;
}

void CMeasurementElement::Finish() {
    m_finished = true;
    m_state = ElementState::Idle;
    m_list->Release(this);
    m_list->Committed();
}

bool CMeasurementElement::EndInteraction() {
    const bool dragging = m_state == ElementState::Dragging;
    m_state = ElementState::Idle;
    m_hover = {};
    m_drag.clear();
    m_dragLabel = false;
    return dragging;
}

void CMeasurementElement::Changed() {
    const PixelRect before = m_rect;
    if (auto canvas = m_viewport->SurfaceCanvas()) Measure(*canvas);
    const PixelRect area = Union(before, m_rect);
    m_viewport->RedrawRect(&area);
}

// ---- layout ----

void CMeasurementElement::Measure(ICanvas& canvas) {
    if (m_text != m_measuredText || m_lineHeight == 0) {
        m_measuredText = m_text;
        m_labelSize = {};
        if (!m_text.empty() && canvas.SetFont(kStyle.fontSize)) {
            int32_t width = 0;
            const std::vector<std::string> lines = Lines(m_text);
            for (const std::string& line : lines) {
                const CanvasSize size = canvas.MeasureText(line);
                width = std::max(width, size.width);
                m_lineHeight = size.height;
            }
            m_labelSize = {width + m_viewport->DevicePixels(4),
                           m_lineHeight * int32_t(lines.size()) + m_viewport->DevicePixels(2)};
        }
    }
    Place();
}

PixelRect CMeasurementElement::ShapeBox() const {
    if (m_screen.empty()) return {};
    float left = m_screen[0].x, right = left, top = m_screen[0].y, bottom = top;
    for (const CanvasPoint& p : m_screen) {
        left = std::min(left, p.x);
        right = std::max(right, p.x);
        top = std::min(top, p.y);
        bottom = std::max(bottom, p.y);
    }
    const auto low = [](float v) { return int32_t(std::clamp(std::floor(v), -1e9f, 1e9f)); };
    const auto high = [](float v) { return int32_t(std::clamp(std::ceil(v), -1e9f, 1e9f)); };
    return {low(left), low(top), high(right) - low(left) + 1, high(bottom) - low(top) + 1};
}

void CMeasurementElement::Place() {
    const ViewGeometry& geometry = m_viewport->Geometry();
    for (size_t i = 0; i < m_points.size(); ++i) {
        if (const auto p = ImageToScreenExact(geometry, m_points[i].x, m_points[i].y)) {
            m_screen[i] = {p->x, p->y};
        }
    }
    const auto px = [&](int32_t logical) { return m_viewport->DevicePixels(logical); };
    m_box = Grown(ShapeBox(), px(4));
    if (m_labelMoved) {
        if (const auto p = m_viewport->ImageToScreen(m_labelImage.x, m_labelImage.y)) {
            m_labelAt = *p;
        }
    } else if (!m_screen.empty()) {
        // Right of the rightmost point (the later one when two share the place).
        const CanvasPoint* anchor = &m_screen[0];
        for (const CanvasPoint& p : m_screen) {
            if (p.x >= anchor->x) anchor = &p;
        }
        const auto whole = [](float v) { return int32_t(std::clamp(std::lround(v), -1000000000L, 1000000000L)); };
        m_labelAt = {whole(anchor->x) + px(7), whole(anchor->y) - m_labelSize.height / 2};
    }
    PixelRect rect = m_box;
    if (!m_text.empty()) {
        rect = Union(rect, Grown({m_labelAt.x, m_labelAt.y, m_labelSize.width, m_labelSize.height},
                                 px(1)));
    }
    m_rect = Grown(rect, px(5));
}

// ---- hit tests ----

bool CMeasurementElement::InLabel(CanvasPoint p) const {
    const auto left = float(m_labelAt.x), top = float(m_labelAt.y);
    return !m_text.empty() && p.x > left && p.y > top && p.x < left + float(m_labelSize.width) &&
           p.y < top + float(m_labelSize.height);
}

bool CMeasurementElement::InBox(CanvasPoint p) const {
    return p.x >= float(m_box.x) && p.y >= float(m_box.y) && p.x < float(m_box.x + m_box.width) &&
           p.y < float(m_box.y + m_box.height);
}

int CMeasurementElement::HandleNear(CanvasPoint p, double reach) const {
    for (size_t i = 0; i < m_screen.size(); ++i) {
        if (Distance(p, m_screen[i]) <= reach) return int(i);
    }
    return -1;
}

double CMeasurementElement::ToSegment(CanvasPoint p, size_t a, size_t b) const {
    const auto point = [](CanvasPoint s) { return ImagePoint{s.x, s.y}; };
    return DistanceToSegment(point(p), point(m_screen[a]), point(m_screen[b]));
}

// ---- drawing ----

uint32_t CMeasurementElement::LineColour() const {
    const bool hovered = m_state != ElementState::Idle && m_hover.handle < 0;
    return kStyle.line[uint32_t(hovered     ? MeasurementLook::Hovered
                                : m_selected ? MeasurementLook::Selected
                                             : MeasurementLook::Normal)];
}

uint32_t CMeasurementElement::HandleColour(int handle) const {
    const bool hovered = m_state != ElementState::Idle && m_hover.handle == handle;
    return kStyle.handle[uint32_t(hovered     ? MeasurementLook::Hovered
                                  : m_selected ? MeasurementLook::Selected
                                               : MeasurementLook::Normal)];
}

void CMeasurementElement::DrawOutlined(ICanvas& canvas, std::span<const CanvasPoint> points,
                                       uint32_t colour) const {
    // The dark band is drawn rough: smooth wide pens are stroked as shapes at many times the
    // cost. A straight line takes one wide line; a longer path the thin one moved a pixel to
    // each side, as joins of wide paths cost as much as smoothing.
    if (points.size() == 2) {
        canvas.DrawPolyline(points, kStyle.outline, 3.0f, false);
        canvas.DrawPolyline(points, colour, 1.0f, true);
        return;
    }
    std::vector<CanvasPoint> shifted(points.begin(), points.end());
    static constexpr CanvasPoint kOffsets[] = {{-1, 0}, {2, 0}, {-1, -1}, {0, 2}};
    // The canvas widens the thin line to whole device pixels: the steps follow.
    const auto step = float(std::max(1, m_viewport->DevicePixels(1)));
    for (const CanvasPoint offset : kOffsets) {
        for (CanvasPoint& p : shifted) {
            p.x += offset.x * step;
            p.y += offset.y * step;
        }
        canvas.DrawPolyline(shifted, kStyle.outline, 1.0f, false);
    }
    canvas.DrawPolyline(points, colour, 1.0f, true);
}

void CMeasurementElement::DrawSegment(ICanvas& canvas, CanvasPoint a, CanvasPoint b,
                                      uint32_t colour) const {
    const CanvasPoint line[] = {a, b};
    DrawOutlined(canvas, line, colour);
}

void CMeasurementElement::DrawCross(ICanvas& canvas, CanvasPoint p, uint32_t colour) const {
    // Upright bars on whole pixels need no smoothing, and filling them is many times cheaper
    // than stroking.
    // Arms and bars in whole device pixels: as long and as thick on screen at every ratio.
    const int32_t arm = m_viewport->DevicePixels(kStyle.handleArm);
    const int32_t t = std::max(1, m_viewport->DevicePixels(1));
    const auto x = int32_t(std::clamp(std::floor(p.x), -1e9f, 1e9f));
    const auto y = int32_t(std::clamp(std::floor(p.y), -1e9f, 1e9f));
    canvas.FillRect({x - arm - t, y - t, 2 * arm + 3 * t, 3 * t}, kStyle.outline);
    canvas.FillRect({x - t, y - arm - t, 3 * t, 2 * arm + 3 * t}, kStyle.outline);
    canvas.FillRect({x - arm, y, 2 * arm + t, t}, colour);
    canvas.FillRect({x, y - arm, t, 2 * arm + t}, colour);
}

void CMeasurementElement::DrawHandles(ICanvas& canvas) const {
    for (size_t i = 0; i < m_screen.size(); ++i)
        DrawCross(canvas, m_screen[i], HandleColour(int(i)));
}

void CMeasurementElement::DrawLabel(ICanvas& canvas) const {
    if (m_text.empty() || m_labelSize.width <= 0) return;
    const MeasurementLook look = m_state != ElementState::Idle && m_hover.label
                                     ? MeasurementLook::Hovered
                                 : m_selected ? MeasurementLook::Selected
                                              : MeasurementLook::Normal;
    canvas.FillRect({m_labelAt.x, m_labelAt.y, m_labelSize.width, m_labelSize.height},
                    kStyle.labelPlate[uint32_t(look)]);
    canvas.SetFont(kStyle.fontSize);
    const int32_t one = m_viewport->DevicePixels(1), two = m_viewport->DevicePixels(2);
    int32_t y = m_labelAt.y + one;
    for (const std::string& line : Lines(m_text)) {
        canvas.DrawText(line, {m_labelAt.x + two, y, m_labelSize.width - 2 * two, m_lineHeight},
                        TextAlign::Left, kStyle.labelText);
        y += m_lineHeight;
    }
}

void CMeasurementElement::Draw(ICanvas& canvas) {
    DrawShape(canvas);
    DrawLabel(canvas);
}

// ---- records ----

std::optional<MeasurementRecord> CMeasurementElement::Record() const {
    if (!m_finished) return std::nullopt;
    MeasurementRecord record;
    record.kind = m_kind;
    record.points = m_points;
    record.labelMoved = m_labelMoved;
    record.label = m_labelImage;
    return record;
}

void CMeasurementElement::Restore(const MeasurementRecord& record) {
    m_points = record.points;
    m_screen.assign(m_points.size(), {});
    m_labelMoved = record.labelMoved;
    m_labelImage = record.label;
    m_finished = true;
    UpdateText();
}

}  // namespace vexel
