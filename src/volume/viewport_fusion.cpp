#include "volume/viewport_fusion.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

#include "engine/volume_manager.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "platform/canvas.h"
#include "viewer/annotation_texts.h"
#include "viewer/overlay_annotation.h"
#include "viewer/viewport_2d.h"
#include "viewer/viewport_hash.h"
#include "volume/fusion_engine.h"
#include "volume/fusion_overlay.h"
#include "volume/plane_geometry.h"

namespace vexel {
namespace {

const CFusionColourTable& ColourTable() {
    static const CFusionColourTable table;
    return table;
}

// The colour bar: a column of the table at the left edge, top = the window's high end.
constexpr int32_t kBarLeft = 6;
constexpr int32_t kBarWidth = 12;

}  // namespace

CViewport2DFusion::CViewport2DFusion(CViewport2D& viewport, const FusionServices& services)
    : CViewport2DTool(viewport, ToolType::None), m_services(services) {}

CViewport2DFusion::~CViewport2DFusion() {
    if (m_services.engine != nullptr) m_services.engine->ViewportCleared(m_viewport.Id());
}

void CViewport2DFusion::SetOverlay(uint32_t overlayViewportId) {
    m_overlayViewport = overlayViewportId;
}

void CViewport2DFusion::SetFixedImage(CDicomFrame* frame, double low, double high) {
    m_fixed = frame;
    m_fixedLow = low;
    m_fixedHigh = high;
}

CDicomFrame* CViewport2DFusion::Partner(CDicomFrame& base) const {
    if (m_fixed != nullptr) return m_fixed;
    if (m_overlayViewport == 0 || m_services.volumes == nullptr) return nullptr;
    const VolumePair* pair = m_services.volumes->FindPair(base.Key(), m_overlayViewport);
    // Slabs that do not overlap show nothing rather than a slice from elsewhere.
    if (pair == nullptr || pair->margin < 0) return nullptr;
    return pair->partnerFrame;
}

void CViewport2DFusion::OverlayWindow(double* low, double* high) const {
    *low = *high = 0;
    if (m_fixed != nullptr) {
        *low = m_fixedLow;
        *high = m_fixedHigh;
        return;
    }
    const CViewport2D* overlay = CViewportHash::Instance().Find(m_overlayViewport);
    if (overlay == nullptr) return;
    const double centre = overlay->Lut().Centre(), width = overlay->Lut().Width();
    if (!std::isfinite(centre) || !std::isfinite(width) || !(width > 0)) return;
    *low = centre - width / 2;
    *high = centre + width / 2;
}

const SuvInfo& CViewport2DFusion::SuvOf(CDicomFrame& overlay) {
    if (overlay.Key() != m_suvKey) {
        m_suvKey = overlay.Key();
        m_suv = ComputeSuv(overlay.Image().File());
    }
    return m_suv;
}

std::string CViewport2DFusion::BlendKey(CDicomFrame& frame) {
    CDicomFrame* partner = Partner(frame);
    double low = 0, high = 0;
    OverlayWindow(&low, &high);
    if (partner == nullptr || !(low < high)) return {};
    char window[64];
    std::snprintf(window, sizeof window, "|%.9g|%.9g", low, high);
    return partner->Key() + window;
}

void CViewport2DFusion::Blend(CDicomFrame& frame, uint32_t* picture, const RowRunner& runRows) {
    CDicomFrame* partner = Partner(frame);
    double low = 0, high = 0;
    OverlayWindow(&low, &high);
    if (partner == nullptr || partner->IsColour()) return;
    const auto base = PlaneOf(frame), overlay = PlaneOf(*partner);
    if (!base || !overlay) return;
    const auto mapping = MapBaseToOverlay(*base, *overlay);
    const CDicomImage& image = partner->Image();
    const double slope = image.RescaleSlope(), intercept = image.RescaleIntercept();
    if (!mapping || !std::isfinite(slope) || !std::isfinite(intercept)) return;
    std::vector<CDicomFrame*> holders;
    const auto* words = reinterpret_cast<const uint16_t*>(partner->Pixels(&holders));
    const size_t count = size_t(partner->Columns()) * partner->Rows();
    if (words != nullptr && partner->BufferSize() >= count * 2) {
        std::vector<float> values(count);
        for (size_t i = 0; i < count; ++i)
            values[i] =
                float((image.IsSigned() ? double(int16_t(words[i])) : double(words[i])) * slope +
                      intercept);
        runRows(frame.Rows(), [&](uint32_t first, uint32_t end) {
            BlendOverlay(*mapping, {values.data(), partner->Columns(), partner->Rows()}, low, high,
                         ColourTable(), picture, frame.Columns(), frame.Rows(), first, end);
        });
    }
    CDicomFrame::ReleaseHolders(holders);
}

bool CViewport2DFusion::OverlayStatistics(CDicomFrame& frame, float x1, float y1, float x2,
                                          float y2, EllipseStatistics* stats, SuvInfo* suv) {
    CDicomFrame* partner = Partner(frame);
    if (partner == nullptr || partner->IsColour()) return false;
    const auto base = PlaneOf(frame), overlay = PlaneOf(*partner);
    const auto mapping = base && overlay ? MapBaseToOverlay(*base, *overlay) : std::nullopt;
    if (!mapping) return false;
    // The corners through patient space into the overlay (pixel centres at +0.5 on both
    // sides); parallel planes keep the ellipse's axes along the overlay's.
    const auto map = [&](float x, float y) {
        const double c = x - 0.5, r = y - 0.5;
        return std::array<double, 2>{
            mapping->origin[0] + c * mapping->perColumn[0] + r * mapping->perRow[0] + 0.5,
            mapping->origin[1] + c * mapping->perColumn[1] + r * mapping->perRow[1] + 0.5};
    };
    const auto a = map(x1, y1), b = map(x2, y2);
    *stats = partner->Ellipse(float(std::min(a[0], b[0])), float(std::min(a[1], b[1])),
                              float(std::max(a[0], b[0])), float(std::max(a[1], b[1])));
    *suv = SuvOf(*partner);
    return true;
}

void CViewport2DFusion::Draw(ICanvas& canvas, const PixelRect*) {
    CDicomFrame* frame = Frame();
    CDicomFrame* partner = frame != nullptr ? Partner(*frame) : nullptr;
    double low = 0, high = 0;
    OverlayWindow(&low, &high);
    if (partner == nullptr || !(low < high)) return;
    const int32_t height = m_viewport.Surface().Height();
    const int32_t top = height / 5, bottom = height - height / 5;
    if (bottom - top < 16) return;
    const CFusionColourTable& table = ColourTable();
    const auto px = [&](int32_t logical) { return m_viewport.DevicePixels(logical); };
    const int32_t barLeft = px(kBarLeft), barWidth = px(kBarWidth);
    for (int32_t y = top; y < bottom; ++y) {
        const double position = double(bottom - 1 - y) / double(bottom - 1 - top);
        const uint32_t colour =
            table.Entry(uint32_t(position * (CFusionColourTable::kEntries - 1)));
        canvas.FillRect({barLeft, y, barWidth, 1}, colour & 0x00FFFFFF);
    }
    // The window's ends in SUV (or Bq/ml), and the unit.
    const SuvInfo& suv = SuvOf(*partner);
    const double factor = suv.state == SuvState::Suv ? suv.factor : 1.0;
    const std::string unit = suv.state == SuvState::Suv && suv.suvType == "BW"
                                 ? LookUpText(m_services.text, textid::kSuvBw)
                             : suv.state == SuvState::Activity
                                 ? LookUpText(m_services.text, textid::kBqPerMl)
                                 : SuvUnitText(suv);
    canvas.SetFont(m_viewport.FontSize());
    const int32_t line = canvas.MeasureText("0").height;
    const int32_t x = barLeft + barWidth + px(4), width = px(200);
    const auto label = [&](const std::string& text, int32_t y) {
        canvas.DrawShadowedText(text, {x, y, width, line}, TextAlign::Left, kLightYellow, 1, -1);
    };
    label(FormatText(std::string("%.2f"), high * factor), top);
    label(FormatText(std::string("%.2f"), low * factor), bottom - line);
    if (!unit.empty()) label(unit, bottom + px(2));
}

}  // namespace vexel
