// Patient, study and image texts at the corners of a viewport, the orientation letters at
// the middle of each edge, and the position and value of the pixel under the mouse. Texts
// are built once per frame change; the readout redraws only its own line.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "viewer/overlay_annotation.h"
#include "viewer/viewport_tool.h"

namespace vexel {

class ICanvas;

enum class AnnotationMode : uint32_t { None = 0, Basic = 1, Full = 2, Cine = 3 };

// One text as drawn: its place ("top-left" .. "bottom-right", "left" .. "bottom") and text.
struct ShownAnnotation {
    std::string place;
    std::string text;
};

class CViewport2DAnnotations final : public CViewport2DTool {
public:
    // The readout's position for "the mouse left the viewport".
    static constexpr int32_t kNoMouse = 0x0FFFFFFF;

    explicit CViewport2DAnnotations(CViewport2D& viewport);
    ~CViewport2DAnnotations() override;

    ToolAnswer MouseMove(int32_t x, int32_t y) override;
    void Draw(ICanvas& canvas, const PixelRect* clip) override;
    void FrameChanged(CDicomFrame* frame) override;

    // Basic leaves out whatever identifies the patient; cine shows the frame rate alone.
    void SetMode(AnnotationMode mode);
    AnnotationMode Mode() const { return m_mode; }
    // Cine playback: the rate shown while playing.
    void SetFrameRate(float rate, bool shown);
    // The image number shown as this place (from 0) of that many, instead of the viewport's
    // own: an exported picture shows its place in the export.
    void SetImageNumber(std::optional<std::pair<size_t, size_t>> placeOfTotal);
    // Whole years at the image's date; nothing when a date is missing.
    std::optional<int32_t> Age() const { return m_age; }
    const std::string& PatientName() const { return m_texts[kPatientName]; }

    // The texts as they are drawn now (blocks in corner and line order, then the edges);
    // empty ones are left out. The viewport must have drawn since the last change.
    std::vector<ShownAnnotation> ShownTexts() const;
    // Lays every block out again (the readout's partial redraw needs the rectangles).
    void MeasureBlocks(ICanvas& canvas);

private:
    enum Field : uint32_t {
        kImageNumber, kSeries, kPatientName, kPatientId, kBirthLine, kInstitution, kStudyId,
        kStudyDescription, kSeriesDescription, kImageComments, kStudyComments, kTransform,
        kSlice, kWindow, kReadout, kDate, kMr, kFieldStrength, kFrameRate, kFieldCount
    };

    void BuildBlocks();
    void BuildFrameTexts(CDicomFrame& frame);
    void ClearTexts();
    // Lines that follow the viewport's state rather than the frame.
    void RefreshViewTexts();
    std::string ReadoutText(int32_t x, int32_t y) const;
    bool ReadoutAllowed() const;
    void DrawEdgeLabels(ICanvas& canvas, const PixelRect* clip);
    COverlayAnnotation* BlockOf(Field field) const;

    AnnotationMode m_mode = AnnotationMode::Full;
    std::array<std::string, kFieldCount> m_texts;
    std::array<std::string, 6> m_letters;  // L, R, S, I, A, P
    std::array<std::string, 4> m_edges;  // left, right, top, bottom
    std::optional<int32_t> m_age;
    std::vector<std::unique_ptr<COverlayAnnotation>> m_blocks;
    std::array<COverlayAnnotation*, kFieldCount> m_blockOf{};
    int32_t m_mouseX = kNoMouse;
    int32_t m_mouseY = kNoMouse;
    float m_frameRate = 0;
    bool m_frameRateShown = false;
    std::optional<std::pair<size_t, size_t>> m_imageNumber;
};

}  // namespace vexel
