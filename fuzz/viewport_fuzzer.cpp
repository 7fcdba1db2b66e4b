// A viewport driven by arbitrary sequences of view changes, mouse drags, window values and
// resizes, over images from 1 x 1 up, on screen and off: layouts, clamping and both resampler
// stages must stay inside their bitmaps whatever the numbers. Cine plays on a clock the input
// moves, with frame rates and frame time vectors taken from the input. Measurements of every
// kind are made, edited and deleted with the mouse, and come back from the store when the
// image is shown again.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "dicom/dicom_dictionary.h"
#include "dicom/dicom_file.h"
#include "imaging/binary_value_mem_cacher.h"
#include "imaging/dicom_image.h"
#include "measure/measurement_list.h"
#include "platform/checked_alloc.h"
#include "platform/gui/surface_canvas.h"
#include "viewer/cine_engine.h"
#include "viewer/series_state_store.h"
#include "viewer/viewport_2d.h"
#include "viewer/viewport_annotations.h"
#include "viewer/viewport_cine.h"
#include "viewer/viewport_measurements.h"
#include "viewer/viewport_window_tool.h"
#include "viewer/window_preset.h"

namespace {

vexel::CDicomDictionary g_dictionary;

class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool Empty() const { return m_at >= m_size; }
    uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    int16_t Short() { return int16_t(uint16_t(Byte()) | uint16_t(Byte()) << 8); }
    int32_t Int() {
        return int32_t(uint32_t(uint16_t(Short())) | uint32_t(uint16_t(Short())) << 16);
    }
    // Text of decimal-looking characters, for rates and time vectors.
    std::string Text() {
        static constexpr char kChars[] = "0123456789.-\\ eE+x";
        std::string text(Byte() % 24, ' ');
        for (char& c : text)
            c = kChars[Byte() % (sizeof kChars - 1)];
        return text;
    }
    float Float() {
        const uint32_t bits = uint32_t(Int());
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

vexel::CDicomImage* MakeImage(vexel::CDicomFile& file, Input& in) {
    const uint16_t columns = uint16_t(1 + in.Byte() % 48);
    const uint16_t rows = uint16_t(1 + in.Byte() % 48);
    file.MakeInMemory();
    file.SetUS(0x00280010, rows);
    file.SetUS(0x00280011, columns);
    file.SetUS(0x00280100, 16);
    file.SetUS(0x00280101, 16);
    file.SetText(nullptr, 0x00280004, "MONOCHROME2");
    file.SetText(nullptr, 0x00082144, in.Text());
    file.SetText(nullptr, 0x00180040, in.Text());
    file.SetText(nullptr, 0x00181063, in.Text());
    file.SetText(nullptr, 0x00181065, in.Text());
    vexel::CDicomImage* image = vexel::CDicomImage::AttachTo(file, false);
    if (image == nullptr) return nullptr;
    const size_t size = size_t(columns) * rows * 2;
    for (int frame = 1 + in.Byte() % 4; frame > 0; --frame) {
        auto* buffer = static_cast<uint8_t*>(vexel::CheckedAlloc(size));
        if (buffer == nullptr) return nullptr;
        for (size_t i = 0; i < size; ++i)
            buffer[i] = uint8_t(i * 31 + in.Byte());
        if (!image->AddFrameFromBuffer(buffer, size, nullptr, nullptr, nullptr)) return nullptr;
    }
    return image;
}

class CNullWindow final : public vexel::IViewportWindow {
public:
    void PresentSurface(const vexel::CViewportSurface&, const vexel::PixelRect*) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Texts are drawn as on screen.
    static const bool gui = vexel::EnsureGuiApplication();
    (void)gui;
    Input in(data, size);
    vexel::CDicomFile file;
    vexel::CDicomImage* image = MakeImage(file, in);
    if (image == nullptr) return 0;
    vexel::CSeriesStateStore states;
    vexel::CWindowPresetTable presets;
    uint64_t now = 1;
    vexel::CCineEngine cine(
        {[&now] { return now; }, [](std::function<void()>) { return true; }, {}});
    vexel::CBinaryValueMemCacher cache;
    vexel::ViewportServices services;
    services.states = &states;
    services.presets = &presets;
    services.resamplerThreads = 2;
    services.cine = &cine;
    services.renderCache = &cache;
    vexel::CMeasurementLists measurements;
    services.measurements = &measurements;
    vexel::CViewport2D viewport(services);
    CNullWindow window;
    const bool offscreen = in.Byte() & 1;
    if (offscreen) {
        if (!viewport.CreateOffscreen(1 + in.Byte() % 200, 1 + in.Byte() % 200, {})) return 0;
    } else {
        viewport.Create(window);
        viewport.SizeChanged(1 + in.Byte() % 200, 1 + in.Byte() % 200);
    }
    viewport.SetPanelId(1);
    viewport.AddImage(vexel::CFileRef(), *image, 0);
    for (int step = 0; step < 64 && !in.Empty(); ++step) {
        switch (in.Byte() % 19) {
            case 0:
                viewport.SetZoom(in.Float());
                break;
            case 1:
                viewport.ZoomBy(in.Int());
                break;
            case 2:
                viewport.Pan(in.Int(), in.Int());
                break;
            case 3:
                viewport.Transform(90 * (in.Byte() % 5) - 180, in.Byte() & 1, in.Byte() & 1, false);
                break;
            case 4:
                viewport.Transform(0, false, false, true);
                break;
            case 5:
                viewport.FitToViewport();
                break;
            case 6:
                viewport.ActualSize();
                break;
            case 7:
                // Small windows, zero and negative included: large ones only cost time.
                viewport.SizeChanged(in.Short() % 320, in.Short() % 320);
                break;
            case 8:
                viewport.WindowTool().ApplyWindow(in.Float(), in.Float());
                break;
            case 9:
                viewport.SelectPreset(in.Byte() % 10 - 1);
                break;
            case 10: {
                const auto button = vexel::MouseButton(1 + in.Byte() % 3);
                viewport.MouseDown(in.Short(), in.Short(), button,
                                   {bool(in.Byte() & 1), bool(in.Byte() & 1)});
                viewport.MouseMove(in.Int(), in.Int());
                viewport.MouseUp(in.Short(), in.Short(), button);
                break;
            }
            case 11:
                viewport.MouseWheel(in.Int());
                break;
            case 12: {
                const float x = in.Float(), y = in.Float();
                if (auto p = viewport.ScreenToImage(x, y)) viewport.ImageToScreen(p->x, p->y);
                break;
            }
            case 13: {
                vexel::CViewport2DCine& tool = viewport.Cine();
                if (in.Byte() & 1) tool.SetRate(in.Float());
                if (!tool.Playing()) tool.Start();
                for (int frame = in.Byte() % 8; frame > 0; --frame) {
                    const uint64_t due = tool.Advance();
                    now = due != 0 ? due + uint64_t(in.Short()) % 50000 : now + 1;
                }
                if (in.Byte() & 1) tool.Stop();
                break;
            }
            case 14:
                viewport.MouseMove(in.Int(), in.Int());
                if (in.Byte() & 1) viewport.MouseLeft();
                break;
            case 15:
                viewport.Annotations().SetMode(vexel::AnnotationMode(in.Byte() % 5));
                viewport.Compose();
                break;
            case 16:
                viewport.SetLayerMask(uint32_t(in.Int()));
                viewport.KeyDown(vexel::CViewport2D::kKeyPlus, {true, bool(in.Byte() & 1)});
                break;
            case 17: {
                // Clicks and drags near the image, where measurements are made and hit.
                vexel::CViewport2DROI& tool = viewport.Measurements();
                tool.SetKind(vexel::MeasurementKind(2 + in.Byte() % 5));
                viewport.SetLeftTool(tool);
                for (int event = in.Byte() % 12; event > 0; --event) {
                    const int32_t x = in.Byte(), y = in.Byte();
                    switch (in.Byte() % 3) {
                        case 0:
                            viewport.MouseDown(x, y, vexel::MouseButton(1 + in.Byte() % 3));
                            break;
                        case 1:
                            viewport.MouseMove(x, y);
                            break;
                        default:
                            viewport.MouseUp(x, y, vexel::MouseButton::Left);
                            break;
                    }
                }
                break;
            }
            case 18: {
                vexel::CViewport2DROI& tool = viewport.Measurements();
                switch (in.Byte() % 5) {
                    case 0:
                        tool.DeleteSelected();
                        break;
                    case 1:
                        tool.DeleteAllInImage();
                        break;
                    case 2:
                        tool.DeleteAllInSeries();
                        break;
                    case 3:
                        tool.Escape();
                        break;
                    default:
                        // Closed and shown again: the measurements come back from the store.
                        viewport.Clear(in.Byte() & 1);
                        viewport.AddImage(vexel::CFileRef(), *image, 0);
                        break;
                }
                break;
            }
            default:
                viewport.SetNegative(in.Byte() & 1);
                break;
        }
    }
    return 0;
}
