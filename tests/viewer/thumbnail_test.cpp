// Thumbnails: their size from the image's columns and rows, and their pixels against an
// off-screen viewport of that size showing the same frame, over real files of several kinds.
#include <gtest/gtest.h>

#include <set>

#include "common/test_paths.h"
#include "imaging/jpeg_engine.h"
#include "viewer/thumbnail.h"
#include "viewer_test_support.h"

namespace vexel {
namespace {

TEST(Thumbnail, SizeKeepsTheAspectWithTheLongerSideAt90) {
    struct Case {
        uint32_t columns, rows;
        std::optional<ThumbnailDimensions> expected;
    };
    using D = ThumbnailDimensions;
    const Case cases[] = {{512, 512, D{90, 90}},     {1024, 768, D{90, 67}}, {768, 1024, D{67, 90}},
                          {2000, 10, D{90, 1}},      {10, 2000, D{1, 90}},   {1, 1, D{90, 90}},
                          {65535, 65534, D{90, 89}}, {3, 2, D{90, 60}},      {512, 0, std::nullopt},
                          {0, 512, std::nullopt}};
    for (const Case& c : cases)
        EXPECT_EQ(ThumbnailSize(c.columns, c.rows), c.expected) << c.columns << "x" << c.rows;
}

// An off-screen viewport of the thumbnail's size with a store and presets of its own and
// no layers, showing the image's first frame.
std::vector<uint32_t> ViewportPixels(CDicomImage& image, int32_t width, int32_t height) {
    CSeriesStateStore states;
    CWindowPresetTable presets;
    ViewportServices services;
    services.states = &states;
    services.presets = &presets;
    services.layerMask = 0;
    CViewport2D viewport(services);
    if (!viewport.CreateOffscreen(width, height, ViewGeometry{})) return {};
    viewport.AddImage(CFileRef(), image, 0);
    const CViewportSurface& surface = viewport.Surface();
    return {surface.Pixels(), surface.Pixels() + size_t(width) * size_t(height)};
}

TEST(Thumbnail, PixelsEqualAnOffscreenViewportOfTheSameSize) {
    VEXEL_REQUIRE_TESTDATA();
    CJPEGEngine codecs(test::BinaryDir() / "bin");  // JPEG baseline and JPEG 2000 files
    const char* files[] = {"CT_small.dcm", "liver_1frame.dcm", "examples_ybr_color.dcm",
                           "JPEG2000.dcm", "MR_small_RLE.dcm"};
    for (const char* name : files) {
        SCOPED_TRACE(name);
        const auto opened = test::OpenFile(test::TestDataDir() / "pydicom/test_files" / name);
        ASSERT_NE(opened.image, nullptr);
        const auto size =
            ThumbnailSize(uint32_t(opened.image->Columns()), uint32_t(opened.image->Rows()));
        const auto thumbnail = RenderThumbnail(*opened.image);
        ASSERT_TRUE(thumbnail && size);
        EXPECT_EQ(thumbnail->width, size->width);
        EXPECT_EQ(thumbnail->height, size->height);
        const auto expected = ViewportPixels(*opened.image, size->width, size->height);
        ASSERT_EQ(thumbnail->pixels.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            ASSERT_EQ(thumbnail->pixels[i], expected[i])
                << "pixel " << i % size_t(size->width) << "," << i / size_t(size->width);
        }
        // Not a flat square: the frame was drawn.
        EXPECT_GT(std::set<uint32_t>(expected.begin(), expected.end()).size(), 16u);
    }
}

}  // namespace
}  // namespace vexel
