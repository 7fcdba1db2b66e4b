// The phantom's marker image through `vexel render`: for rotations, mirrors, fractional zooms,
// pans and odd sizes, every marker peaks in the PNG exactly where ImageToScreen puts it.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "common/test_paths.h"
#include "phantom/phantom_writer.h"
#include "viewer/view_geometry.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

constexpr int kColumns = 61;
constexpr int kRows = 47;

phantom::PhantomOptions MarkerOptions() {
    phantom::PhantomOptions options;
    options.columns = kColumns;
    options.rows = kRows;
    options.slices = 1;
    return options;
}

const fs::path& MarkerFile() {
    static const fs::path file = [] {
        const fs::path dir = test::ScratchDir("render-markers") / "MK";
        std::string error;
        EXPECT_TRUE(phantom::WriteMarkerImage(dir, MarkerOptions(), &error)) << error;
        return dir / "MK0001.dcm";
    }();
    return file;
}

struct MarkerCase {
    const char* name;
    int width;
    int height;
    int rotate;
    bool flipHorizontal;
    bool flipVertical;
    float zoom;  // 0: fitted
    int panX;
    int panY;
};

// The view the command documents: fit, transform (which fits again), zoom about the centre,
// then pan.
ViewGeometry ExpectedView(const MarkerCase& c) {
    ViewGeometry g;
    SetImageSize(g, kColumns, kRows);
    SetViewportSize(g, c.width, c.height);
    LayoutFit(g);
    if (ApplyTransform(g, c.rotate, c.flipVertical, c.flipHorizontal, false)) LayoutFit(g);
    if (c.zoom > 0) {
        const ViewGeometry start = g;
        LayoutZoomAbout(g, start, c.zoom, c.width / 2, c.height / 2);
    }
    if (c.panX != 0 || c.panY != 0) {
        const ViewGeometry start = g;
        LayoutPan(g, start, c.panX, c.panY);
    }
    return g;
}

std::vector<uint8_t> GreyPixels(const fs::path& png, const fs::path& raw) {
    int code = 0;
    test::RunCommand("convert '" + png.string() + "' -depth 8 gray:'" + raw.string() + "'", &code);
    std::ifstream in(raw, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class RenderMarkers : public testing::TestWithParam<MarkerCase> {};

TEST_P(RenderMarkers, PeakWhereImageToScreenPoints) {
    if (!test::HaveProgram("convert")) GTEST_SKIP() << "ImageMagick's convert is missing";
    const MarkerCase& c = GetParam();
    const fs::path dir = test::ScratchDir(std::string("render-markers-") + c.name);
    std::ostringstream command;
    command << (test::BinaryDir() / "bin" / "vexel").string() << " render '"
            << MarkerFile().string() << "' --no-layers --size " << c.width << "x" << c.height;
    if (c.rotate != 0) command << " --rotate " << c.rotate;
    if (c.flipHorizontal) command << " --flip h";
    if (c.flipVertical) command << " --flip v";
    if (c.zoom > 0) command << " --zoom " << c.zoom;
    if (c.panX != 0 || c.panY != 0) command << " --pan " << c.panX << "," << c.panY;
    command << " --out '" << (dir / "out.png").string() << "' >/dev/null";
    int code = 0;
    test::RunCommand(command.str(), &code);
    ASSERT_EQ(code, 0) << command.str();
    const std::vector<uint8_t> pixels = GreyPixels(dir / "out.png", dir / "out.raw");
    ASSERT_EQ(pixels.size(), size_t(c.width) * size_t(c.height));
    const auto at = [&](int x, int y) { return int(pixels[size_t(y) * c.width + x]); };

    const ViewGeometry g = ExpectedView(c);
    int checked = 0;
    for (const phantom::MarkerPosition& m : phantom::MarkerPositions(MarkerOptions())) {
        const auto exact = ImageToScreenExact(g, float(m.column) + 0.5f, float(m.row) + 0.5f);
        const auto rounded = ImageToScreen(g, float(m.column) + 0.5f, float(m.row) + 0.5f);
        ASSERT_TRUE(exact && rounded);
        const int x = int(std::floor(exact->x)), y = int(std::floor(exact->y));
        EXPECT_TRUE(rounded->x == x || rounded->x == x + 1);
        EXPECT_TRUE(rounded->y == y || rounded->y == y + 1);
        // Markers on the edge of what is shown have no full neighbourhood to compare with.
        if (x < 1 || y < 1 || x >= c.width - 1 || y >= c.height - 1) continue;
        if (x < g.visibleDestX + 1 || y < g.visibleDestY + 1 ||
            x >= g.visibleDestX + g.visibleDestWidth - 1 ||
            y >= g.visibleDestY + g.visibleDestHeight - 1) {
            continue;
        }
        ++checked;
        const int peak = at(x, y);
        EXPECT_GT(peak, 0) << "marker " << m.column << "," << m.row << " at " << x << "," << y;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                EXPECT_LE(at(x + dx, y + dy), peak)
                    << "marker " << m.column << "," << m.row << " at " << x << "," << y;
    }
    EXPECT_GT(checked, 3);
}

INSTANTIATE_TEST_SUITE_P(
    Views, RenderMarkers,
    testing::Values(MarkerCase{"Fitted", 201, 157, 0, false, false, 0, 0, 0},
                    MarkerCase{"Rotate90", 157, 201, 90, false, false, 0, 0, 0},
                    MarkerCase{"Rotate180FlipH", 180, 180, 180, true, false, 0, 0, 0},
                    MarkerCase{"Rotate270FlipV", 233, 101, 270, false, true, 0, 0, 0},
                    MarkerCase{"FlipBoth", 99, 77, 0, true, true, 0, 0, 0},
                    MarkerCase{"Zoom2p5Pan", 151, 97, 90, true, false, 2.5f, -17, 9},
                    MarkerCase{"Zoom5Pan", 200, 150, 0, false, true, 5.0f, 40, -25},
                    MarkerCase{"ActualSize", 75, 53, 270, false, false, 1.0f, 0, 0},
                    MarkerCase{"Reduced", 40, 31, 0, false, false, 0.6f, 3, 2}),
    [](const testing::TestParamInfo<MarkerCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vexel
