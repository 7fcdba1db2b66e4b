#include "viewer/viewport_annotations.h"

#include <cmath>

#include "dicom/dicom_file.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "platform/canvas.h"
#include "viewer/annotation_texts.h"
#include "viewer/viewport_2d.h"
#include "viewer/viewport_view_tools.h"
#include "viewer/viewport_window_tool.h"

namespace vexel {
namespace {

struct BlockRow {
    Corner corner;
    int32_t line;
    uint32_t field;
    uint32_t colour;
    bool fullOnly;  // identifies the patient
};

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    size_t start = 0;
    while (start < text.size() && text[start] == ' ') ++start;
    return text.substr(start);
}

const char* CornerName(Corner corner) {
    switch (corner) {
        case Corner::TopLeft:
            return "top-left";
        case Corner::TopRight:
            return "top-right";
        case Corner::BottomLeft:
            return "bottom-left";
        default:
            return "bottom-right";
    }
}

std::optional<float> FloatOf(CDicomFile& file, uint32_t tag) {
    if (file.FindElement(tag) == nullptr) return std::nullopt;
    const float value = file.Float(tag, NAN);
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace

CViewport2DAnnotations::CViewport2DAnnotations(CViewport2D& viewport)
    : CViewport2DTool(viewport, ToolType::Annotations) {
    for (uint32_t i = 0; i < 6; ++i)
        m_letters[i] = LookUpText(m_viewport.Texts(), textid::kLetterL + i);
    BuildBlocks();
}

CViewport2DAnnotations::~CViewport2DAnnotations() = default;

void CViewport2DAnnotations::SetMode(AnnotationMode mode) {
    if (uint32_t(mode) > uint32_t(AnnotationMode::Cine)) mode = AnnotationMode::None;
    m_mode = mode;
    BuildBlocks();
}

void CViewport2DAnnotations::BuildBlocks() {
    // Image comments and study comments often carry names or record numbers, so the basic
    // mode (anonymous export) leaves them out with the patient rows.
    static constexpr BlockRow kRows[] = {
        {Corner::TopLeft, 0, kImageNumber, kLightRed, false},
        {Corner::TopLeft, 1, kSeries, kLightYellow, false},
        {Corner::TopRight, 0, kPatientName, kLightYellow, true},
        {Corner::TopRight, 1, kPatientId, kLightYellow, true},
        {Corner::TopRight, 2, kBirthLine, kLightYellow, true},
        {Corner::TopRight, 3, kInstitution, kLightYellow, false},
        {Corner::TopRight, 4, kStudyId, kLightYellow, false},
        {Corner::TopRight, 5, kStudyDescription, kLightYellow, false},
        {Corner::TopRight, 6, kSeriesDescription, kLightYellow, false},
        {Corner::TopRight, 7, kImageComments, kLightYellow, true},
        {Corner::TopRight, 8, kStudyComments, kLightYellow, true},
        {Corner::TopRight, 9, kTransform, kLightRed, false},
        {Corner::BottomLeft, 0, kSlice, kLightYellow, false},
        {Corner::BottomLeft, 1, kWindow, kLightRed, false},
        {Corner::BottomLeft, 2, kReadout, kLightRed, false},
        {Corner::BottomRight, 0, kDate, kLightYellow, false},
        {Corner::BottomRight, 1, kMr, kLightYellow, false},
        {Corner::BottomRight, 2, kFieldStrength, kLightYellow, false},
    };
    m_blocks.clear();
    m_blockOf.fill(nullptr);
    const auto add = [this](Corner corner, int32_t line, uint32_t field, uint32_t colour) {
        m_blocks.push_back(std::make_unique<COverlayAnnotation>(m_viewport, m_texts[field],
                                                                colour, corner, line));
        m_blockOf[field] = m_blocks.back().get();
    };
    if (m_mode == AnnotationMode::Cine) {
        add(Corner::TopLeft, 0, kFrameRate, kLightRed);
        return;
    }
    if (m_mode != AnnotationMode::Basic && m_mode != AnnotationMode::Full) return;
    for (const BlockRow& row : kRows) {
        if (row.fullOnly && m_mode != AnnotationMode::Full) continue;
        add(row.corner, row.line, row.field, row.colour);
    }
}

COverlayAnnotation* CViewport2DAnnotations::BlockOf(Field field) const {
    return m_blockOf[field];
}

void CViewport2DAnnotations::ClearTexts() {
    for (std::string& text : m_texts) text.clear();
    for (std::string& edge : m_edges) edge.clear();
    m_age.reset();
}

void CViewport2DAnnotations::FrameChanged(CDicomFrame* frame) {
    ClearTexts();
    if (frame == nullptr) return;
    BuildFrameTexts(*frame);
    RefreshViewTexts();
    m_texts[kReadout] = ReadoutAllowed() ? ReadoutText(m_mouseX, m_mouseY) : std::string();
}

void CViewport2DAnnotations::BuildFrameTexts(CDicomFrame& frame) {
    const TextLookup& texts = m_viewport.Texts();
    CDicomFile& file = frame.Image().File();
    const auto text = [&](uint32_t tag) { return Trimmed(file.Text(tag)); };
    m_texts[kPatientName] = text(0x00100010);
    m_texts[kPatientId] = text(0x00100020);
    const std::string birth = text(0x00100030);
    const std::string sex = text(0x00100040);
    m_texts[kBirthLine] = FormatDate(birth);
    if (!sex.empty()) m_texts[kBirthLine] += (m_texts[kBirthLine].empty() ? "" : " ") + sex;
    m_texts[kInstitution] = text(0x00080080);
    m_texts[kStudyId] = text(0x00200010);
    m_texts[kStudyDescription] = text(0x00081030);
    m_texts[kSeriesDescription] = text(0x0008103E);
    m_texts[kImageComments] = text(0x00204000);
    m_texts[kStudyComments] = text(0x00324000);
    m_texts[kSeries] = LookUpText(texts, textid::kSeries) + text(0x00200011);

    const auto tr = FloatOf(file, 0x00180080);
    const auto te = FloatOf(file, 0x00180081);
    if (tr && te) m_texts[kMr] = MrLine(texts, *tr, *te);
    const std::string strength = text(0x00180087);
    if (!strength.empty())
        m_texts[kFieldStrength] = LookUpText(texts, textid::kFieldStrength) + strength + " T";

    // Date and time from the same level, so a date never meets another event's time.
    static constexpr uint32_t kDates[][2] = {{0x00080023, 0x00080033},
                                             {0x00080022, 0x00080032},
                                             {0x00080021, 0x00080031},
                                             {0x00080020, 0x00080030}};
    for (const auto& level : kDates) {
        const std::string date = text(level[0]);
        if (date.empty()) continue;
        const std::string time = text(level[1]);
        m_texts[kDate] = FormatDate(date) + (time.empty() ? "" : " " + FormatTime(time));
        m_age = AgeInYears(birth, date);
        break;
    }

    uint32_t sliceAxis = 2;
    if (frame.Orientation()) {
        const ViewGeometry& g = m_viewport.Geometry();
        const EdgeLabels labels = OrientationLabels(
            *frame.Orientation(), {g.rotation, g.horizontalMirror, g.verticalMirror}, m_letters);
        m_edges = {labels.left, labels.right, labels.top, labels.bottom};
        sliceAxis = labels.sliceAxis;
    }
    std::optional<float> thickness = FloatOf(file, 0x00180050);
    std::optional<CArmAngles> angles;
    const auto primary = FloatOf(file, 0x00181510);
    const auto secondary = FloatOf(file, 0x00181511);
    if (primary && secondary) angles = CArmAngles{*primary, *secondary};
    m_texts[kSlice] = SliceLine(texts, frame.Position(), thickness, sliceAxis, angles);
}

void CViewport2DAnnotations::RefreshViewTexts() {
    const TextLookup& texts = m_viewport.Texts();
    CDicomImage* image = Image();
    const auto [place, total] =
        m_imageNumber.value_or(std::pair(m_viewport.CurrentIndex(), m_viewport.ImageCount()));
    m_texts[kImageNumber] =
        image == nullptr ? std::string()
                         : ImageLine(texts, place, total, m_viewport.CurrentFrameIndex(),
                                     m_imageNumber ? 1 : image->FrameCount());
    const ViewGeometry& g = m_viewport.Geometry();
    const DisplayTransform transform{g.rotation, g.horizontalMirror, g.verticalMirror};
    m_texts[kTransform] = Frame() == nullptr ? std::string() : TransformLine(texts, transform);
    if (Frame() != nullptr && Frame()->Orientation()) {
        const EdgeLabels labels = OrientationLabels(*Frame()->Orientation(), transform, m_letters);
        m_edges = {labels.left, labels.right, labels.top, labels.bottom};
    }
    const CViewportWindowState& window = m_viewport.WindowTool().State();
    m_texts[kWindow] = Frame() == nullptr
                           ? std::string()
                           : WindowLine(texts, m_viewport.Lut().Centre(), m_viewport.Lut().Width(),
                                        window.PresetId(), window.PresetName(),
                                        m_viewport.Negative());
    m_texts[kFrameRate].clear();
    if (m_frameRateShown && !m_viewport.DragInProgress())
        m_texts[kFrameRate] = FrameRateText(texts, m_frameRate);
}

void CViewport2DAnnotations::SetFrameRate(float rate, bool shown) {
    m_frameRate = rate;
    m_frameRateShown = shown;
}

bool CViewport2DAnnotations::ReadoutAllowed() const {
    return (m_viewport.LayerMask() & kLayerAnnotations) != 0 &&
           (m_mode == AnnotationMode::Basic || m_mode == AnnotationMode::Full) &&
           !m_viewport.DragInProgress() && Frame() != nullptr;
}

std::string CViewport2DAnnotations::ReadoutText(int32_t x, int32_t y) const {
    CDicomFrame* frame = Frame();
    if (frame == nullptr || x < 0 || y < 0 || x >= m_viewport.Surface().Width() ||
        y >= m_viewport.Surface().Height()) {
        return {};
    }
    const auto point = m_viewport.ScreenToImage(float(x), float(y));
    if (!point || !(point->x >= 0) || !(point->y >= 0) || point->x >= float(frame->Columns()) ||
        point->y >= float(frame->Rows())) {
        return {};
    }
    const int px = int(point->x);
    const int py = int(point->y);
    std::string text = PositionText(m_viewport.Texts(), px, py);
    const std::string value = frame->ValueText(px, py);
    if (!value.empty()) text += " " + LookUpText(m_viewport.Texts(), textid::kValue) + value;
    return text;
}

ToolAnswer CViewport2DAnnotations::MouseMove(int32_t x, int32_t y) {
    m_mouseX = x;
    m_mouseY = y;
    const std::string text = ReadoutAllowed() ? ReadoutText(x, y) : std::string();
    if (text == m_texts[kReadout]) return ToolAnswer::NotHandled;
    m_texts[kReadout] = text;
    COverlayAnnotation* block = BlockOf(kReadout);
    if (block == nullptr) return ToolAnswer::NotHandled;
    // Only the old and the new rectangle of the line are drawn again.
    const PixelRect before = block->Rect();
    PixelRect after;
    if (auto canvas = m_viewport.SurfaceCanvas()) {
        canvas->SetFont(m_viewport.FontSize());
        block->Measure(*canvas);
        after = block->Rect();
    }
    PixelRect area = before.Empty() ? after : before;
    if (!before.Empty() && !after.Empty()) {
        const int32_t left = std::min(before.x, after.x);
        const int32_t top = std::min(before.y, after.y);
        area = {left, top, std::max(before.x + before.width, after.x + after.width) - left,
                std::max(before.y + before.height, after.y + after.height) - top};
    }
    if (!area.Empty()) m_viewport.RedrawRect(&area);
    return ToolAnswer::NotHandled;
}

void CViewport2DAnnotations::SetImageNumber(std::optional<std::pair<size_t, size_t>> placeOfTotal) {
    m_imageNumber = placeOfTotal;
}

void CViewport2DAnnotations::MeasureBlocks(ICanvas& canvas) {
    canvas.SetFont(m_viewport.FontSize());
    for (auto& block : m_blocks) block->Measure(canvas);
}

void CViewport2DAnnotations::Draw(ICanvas& canvas, const PixelRect* clip) {
    if (m_mode == AnnotationMode::None) return;
    RefreshViewTexts();
    MeasureBlocks(canvas);
    for (auto& block : m_blocks) {
        if (block->Meets(clip)) block->Draw(canvas);
    }
    if (m_mode == AnnotationMode::Basic || m_mode == AnnotationMode::Full)
        DrawEdgeLabels(canvas, clip);
}

void CViewport2DAnnotations::DrawEdgeLabels(ICanvas& canvas, const PixelRect* clip) {
    const int32_t w = m_viewport.Surface().Width();
    const int32_t h = m_viewport.Surface().Height();
    const int32_t line = m_viewport.DevicePixels(AnnotationLineHeight(m_viewport.FontSize()));
    const int32_t m = m_viewport.DevicePixels(15);
    const CanvasRect middle{m, (h - line) / 2, w - 2 * m, (h + line) / 2 - (h - line) / 2};
    const CanvasRect top{m, m, w - 2 * m, line};
    const CanvasRect bottom{m, h - line - m, w - 2 * m, line};
    // A partial redraw (the readout) skips the labels it cannot reach; letters stay within
    // a line's height of their box.
    const auto reached = [&](const CanvasRect& box, TextAlign align) {
        if (clip == nullptr) return true;
        // Three letters take less than three line heights.
        const int32_t width = 3 * line;
        const int32_t left = align == TextAlign::Left    ? box.x
                             : align == TextAlign::Right ? box.Right() - width
                                                         : box.x + box.width / 2 - width / 2;
        const PixelRect around{left - line, box.y - line, width + 2 * line, box.height + 2 * line};
        return !Intersect(*clip, around).Empty();
    };
    const auto draw = [&](const std::string& text, const CanvasRect& box, TextAlign align) {
        if (!text.empty() && reached(box, align))
            canvas.DrawShadowedText(text, box, align, kLightYellow, 1, -1);
    };
    draw(m_edges[0], middle, TextAlign::Left);
    draw(m_edges[1], middle, TextAlign::Right);
    draw(m_edges[2], top, TextAlign::Centre);
    draw(m_edges[3], bottom, TextAlign::Centre);
}

std::vector<ShownAnnotation> CViewport2DAnnotations::ShownTexts() const {
    std::vector<ShownAnnotation> shown;
    for (Corner corner : {Corner::TopLeft, Corner::TopRight, Corner::BottomLeft, Corner::BottomRight}) {
        for (const auto& block : m_blocks) {
            if (block->Place() == corner && block->Visible() && !block->Text().empty())
                shown.push_back({CornerName(corner), block->Text()});
        }
    }
    if (m_mode != AnnotationMode::Basic && m_mode != AnnotationMode::Full) return shown;
    static constexpr const char* kEdges[] = {"left", "right", "top", "bottom"};
    for (size_t i = 0; i < m_edges.size(); ++i) {
        if (!m_edges[i].empty()) shown.push_back({kEdges[i], m_edges[i]});
    }
    return shown;
}

}  // namespace vexel
