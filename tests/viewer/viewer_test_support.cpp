#include "viewer_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "common/byte_builder.h"
#include "common/test_paths.h"
#include "dicom/dicom_reader.h"
#include "imaging/dicom_frame.h"
#include "phantom/phantom_writer.h"

namespace vexel::test {

namespace {

void Element(ByteBuilder& bytes, uint16_t group, uint16_t element, std::string_view vr,
             std::string value) {
    if (value.size() % 2) value += (vr == "UI" ? '\0' : ' ');
    bytes.Explicit(group, element, vr, value);
}

void Us(ByteBuilder& bytes, uint16_t group, uint16_t element, uint16_t value) {
    Element(bytes, group, element, "US", ByteBuilder::LittleU16(value));
}

std::string PixelBytes(const HandImage& wanted) {
    std::string bytes;
    for (int frame = 0; frame < wanted.frames; ++frame)
        for (int32_t v : wanted.pixels)
            bytes += ByteBuilder::LittleU16(uint16_t(v & 0xFFFF));
    return bytes;
}

// A small phantom series (4 slices of 64 x 64) written by `write`; files in name order.
template <class Write>
std::vector<std::filesystem::path> WritePhantom(const std::string& name, Write write) {
    const auto folder = ScratchDir(name);
    phantom::PhantomOptions options;
    options.columns = options.rows = 64;
    options.slices = 4;
    std::string error;
    EXPECT_TRUE(write(folder, options, &error)) << error;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// Length of each pixel of [0, size) inside [low, high); the nearest pixel alone when none is.
std::vector<double> Coverage(double low, double high, int size) {
    std::vector<double> cover(size_t(size), 0.0);
    bool any = false;
    for (int k = 0; k < size; ++k) {
        cover[size_t(k)] = std::max(0.0, std::min(high, k + 1.0) - std::max(low, double(k)));
        any = any || cover[size_t(k)] > 0;
    }
    if (!any) cover[size_t(std::clamp(int(std::floor(low)), 0, size - 1))] = 1;
    return cover;
}

}  // namespace

OpenedImage OpenHandImage(const HandImage& wanted, const std::string& name) {
    ByteBuilder bytes;
    bytes.Preamble().Meta("1.2.840.10008.1.2.1");
    Element(bytes, 0x0008, 0x0016, "UI", "1.2.840.10008.5.1.4.1.1.7");
    const auto extras = [&](uint32_t from, uint32_t to) {
        for (const HandImage::Extra& e : wanted.extra) {
            if (e.tag > from && e.tag < to)
                Element(bytes, uint16_t(e.tag >> 16), uint16_t(e.tag & 0xFFFF), e.vr, e.value);
        }
    };
    extras(0x00080016, 0x00080060);
    Element(bytes, 0x0008, 0x0060, "CS", wanted.modality);
    extras(0x00080060, 0x00280004);
    Element(bytes, 0x0028, 0x0004, "CS", wanted.photometric);
    if (wanted.frames > 1) Element(bytes, 0x0028, 0x0008, "IS", std::to_string(wanted.frames));
    Us(bytes, 0x0028, 0x0010, wanted.rows);
    Us(bytes, 0x0028, 0x0011, wanted.columns);
    extras(0x00280011, 0x00280100);
    Us(bytes, 0x0028, 0x0100, 16);
    Us(bytes, 0x0028, 0x0101, 16);
    Us(bytes, 0x0028, 0x0102, 15);
    Us(bytes, 0x0028, 0x0103, wanted.isSigned ? 1 : 0);
    if (!wanted.windowCenter.empty()) Element(bytes, 0x0028, 0x1050, "DS", wanted.windowCenter);
    if (!wanted.windowWidth.empty()) Element(bytes, 0x0028, 0x1051, "DS", wanted.windowWidth);
    if (!wanted.rescaleIntercept.empty()) {
        Element(bytes, 0x0028, 0x1052, "DS", wanted.rescaleIntercept);
    }
    if (!wanted.rescaleSlope.empty()) Element(bytes, 0x0028, 0x1053, "DS", wanted.rescaleSlope);
    extras(0x00281053, 0x7FE00010);
    bytes.Explicit(0x7FE0, 0x0010, "OW", PixelBytes(wanted));
    const auto path = ScratchDir("viewer-" + name) / "image.dcm";
    EXPECT_TRUE(bytes.WriteTo(path));
    return OpenFile(path);
}

OpenedImage OpenFile(const std::filesystem::path& path) {
    OpenedImage opened;
    opened.file->SetDeferredValues(true);
    if (ReadDicomFile(*opened.file, path.string()) != ReadStatus::Ok) {
        ADD_FAILURE() << "cannot read " << path;
        return opened;
    }
    opened.image = CDicomImage::AttachTo(*opened.file, true);
    return opened;
}

const std::vector<std::filesystem::path>& PhantomCtSeries() {
    static const auto files = WritePhantom("viewer-phantom-ct", phantom::WriteCtSeries);
    return files;
}

const std::vector<std::filesystem::path>& PhantomPetSeries() {
    static const auto files = WritePhantom("viewer-phantom-pet", phantom::WritePetSeries);
    return files;
}

std::vector<int32_t> StoredValues(CDicomImage& image, size_t frame) {
    std::vector<int32_t> values;
    CDicomFrame* decoded = image.Frame(frame);
    if (decoded == nullptr) return values;
    std::vector<CDicomFrame*> holders;
    const auto* words = reinterpret_cast<const uint16_t*>(decoded->Pixels(&holders));
    if (words != nullptr) {
        const size_t count = size_t(decoded->Columns()) * decoded->Rows();
        for (size_t i = 0; i < count; ++i)
            values.push_back(image.IsSigned() ? int32_t(int16_t(words[i])) : int32_t(words[i]));
    }
    CDicomFrame::ReleaseHolders(holders);
    return values;
}

std::vector<OpenedImage> OpenSeries(const std::vector<std::filesystem::path>& files) {
    std::vector<OpenedImage> opened;
    for (const auto& file : files)
        opened.push_back(OpenFile(file));
    return opened;
}

OpenedImage OpenMarkerImage(const std::string& name, int width, int height,
                            const std::vector<Marker>& markers, uint16_t value,
                            const std::vector<Marker>& overlay) {
    HandImage wanted;
    wanted.columns = uint16_t(width);
    wanted.rows = uint16_t(height);
    wanted.modality = "OT";
    wanted.pixels.assign(size_t(width) * size_t(height), 0);
    for (const Marker& m : markers)
        wanted.pixels[size_t(m.y) * size_t(width) + size_t(m.x)] = value;
    if (!overlay.empty()) {
        std::string bits((size_t(width) * size_t(height) + 7) / 8, '\0');
        for (const Marker& m : overlay) {
            const size_t bit = size_t(m.y) * size_t(width) + size_t(m.x);
            bits[bit / 8] = char(uint8_t(bits[bit / 8]) | 1u << (bit % 8));
        }
        wanted.extra = {{0x60000010, "US", ByteBuilder::LittleU16(uint16_t(height))},
                        {0x60000011, "US", ByteBuilder::LittleU16(uint16_t(width))},
                        {0x60003000, "OB", bits}};
    }
    return OpenHandImage(wanted, "resample-" + name);
}

CGuardedBitmap RenderGreyChecked(CDicomFrame* frame, const ViewGeometry& g, const CDisplayLUT& lut,
                                 uint32_t threads) {
    CResampler resampler(threads);
    resampler.SetGeometry(g);
    CGuardedBitmap bitmap(g.visibleDestWidth, g.visibleDestHeight);
    if (!resampler.RenderGrey(frame, bitmap.View(), &lut) || !bitmap.GuardIntact()) {
        ADD_FAILURE() << "the render failed or wrote outside the bitmap";
        return CGuardedBitmap(0, 0);
    }
    return bitmap;
}

double ReferenceBilinear(const LevelImage& image, const ViewGeometry& g, int i, int j) {
    const double sx =
        std::clamp((i + 0.5) / g.zoom + g.visibleSourceX - 0.5, 0.0, double(image.width - 1));
    const double sy =
        std::clamp((j + 0.5) / g.zoom + g.visibleSourceY - 0.5, 0.0, double(image.height - 1));
    const int x0 = int(sx), y0 = int(sy);
    const int x1 = std::min(x0 + 1, image.width - 1), y1 = std::min(y0 + 1, image.height - 1);
    const double fx = sx - x0, fy = sy - y0;
    const double top = image.At(x0, y0) * (1 - fx) + image.At(x1, y0) * fx;
    const double bottom = image.At(x0, y1) * (1 - fx) + image.At(x1, y1) * fx;
    return top * (1 - fy) + bottom * fy;
}

double ReferenceAreaAverage(const LevelImage& image, const ViewGeometry& g, int i, int j) {
    const double z = g.zoom;
    const auto columns =
        Coverage(g.visibleSourceX + i / z, g.visibleSourceX + (i + 1) / z, image.width);
    const auto rows =
        Coverage(g.visibleSourceY + j / z, g.visibleSourceY + (j + 1) / z, image.height);
    double sum = 0, area = 0;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const double weight = columns[size_t(x)] * rows[size_t(y)];
            sum += weight * image.At(x, y);
            area += weight;
        }
    }
    return sum / area;
}

ViewGeometry MakeView(int imageWidth, int imageHeight, int viewportWidth, int viewportHeight,
                      uint32_t rotation, bool horizontalMirror, bool verticalMirror, float zoom,
                      int anchorX, int anchorY) {
    ViewGeometry g;
    g.rotation = rotation;
    g.horizontalMirror = horizontalMirror;
    g.verticalMirror = verticalMirror;
    SetImageSize(g, imageWidth, imageHeight);
    SetViewportSize(g, viewportWidth, viewportHeight);
    LayoutFit(g);
    if (zoom > 0) {
        const ViewGeometry start = g;
        LayoutZoomAbout(g, start, zoom, anchorX, anchorY);
    }
    return g;
}

}  // namespace vexel::test
