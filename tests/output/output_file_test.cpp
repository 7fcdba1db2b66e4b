#include "output/output_file.h"

#include <gtest/gtest.h>

#include <fstream>

#include "common/test_paths.h"
#include "output/bmp_writer.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    return names;
}

TEST(OutputFile, CommitNeverOverwritesUnlessAsked) {
    struct Case {
        bool existing, replace, committed;
        const char* contents;  // of the final file afterwards
    };
    const Case cases[] = {
        {false, false, true, "new"}, {true, false, false, "old"}, {true, true, true, "new"}};
    for (const Case& c : cases) {
        const fs::path dir = test::ScratchDir("output_file");
        const fs::path target = dir / "IMG-0001-00001.jpg";
        if (c.existing) std::ofstream(target) << "old";
        std::string error;
        std::optional<COutputFile> file = COutputFile::Create(target, &error);
        ASSERT_TRUE(file) << error;
        std::ofstream(file->TempPath()) << "new";
        EXPECT_EQ(file->Commit(c.replace, &error), c.committed);
        EXPECT_EQ(error, c.committed ? "" : "exists");
        EXPECT_FALSE(file->Commit(true, &error));  // spent either way
        EXPECT_EQ(test::ReadFileBytes(target), std::vector<uint8_t>(c.contents, c.contents + 3));
        EXPECT_EQ(Listing(dir), std::vector<std::string>{target.filename().string()});
    }
}

TEST(OutputFile, UncommittedLeavesNothing) {
    const fs::path dir = test::ScratchDir("output_file_drop");
    std::string error;
    {
        std::optional<COutputFile> file = COutputFile::Create(dir / "a.bmp", &error);
        ASSERT_TRUE(file) << error;
        std::optional<COutputFile> moved = std::move(file);
        std::ofstream(moved->TempPath()) << "partial";
        EXPECT_TRUE(COutputFile::Exists(moved->TempPath()));
    }
    EXPECT_TRUE(Listing(dir).empty());
    EXPECT_FALSE(COutputFile::Create(dir / "missing" / "a.bmp", &error));
    EXPECT_FALSE(COutputFile::Create(dir / "", &error));  // no file name
}

TEST(BmpWriter, ImageMagickReadsEveryPixel) {
    if (!test::HaveProgram("convert")) GTEST_SKIP() << "ImageMagick's convert not found";
    const fs::path path = test::ScratchDir("bmp_writer") / "image.bmp";
    constexpr int kWidth = 5, kHeight = 3, kStride = 7;  // 15-byte rows need 1 byte of padding
    std::vector<uint32_t> pixels(kStride * kHeight, 0xFFFFFFFF);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            pixels[y * kStride + x] =
                0x00010203u * static_cast<uint32_t>(1 + x + 10 * y) + 0x400000;
    ASSERT_TRUE(WriteBmp(path.string(), pixels.data(), kWidth, kHeight, kStride));
    EXPECT_EQ(fs::file_size(path), 54u + 16u * kHeight);
    int code = -1;
    const std::string rgb = test::RunCommand("convert " + test::Quote(path) + " rgb:-", &code);
    ASSERT_EQ(code, 0);
    ASSERT_EQ(rgb.size(), 3u * kWidth * kHeight);
    for (int i = 0; i < 3 * kWidth * kHeight; ++i) {
        const int x = i / 3 % kWidth, y = i / 3 / kWidth, shift = 16 - 8 * (i % 3);
        EXPECT_EQ(uint8_t(rgb[i]), uint8_t(pixels[y * kStride + x] >> shift)) << x << "," << y;
    }
}

TEST(BmpWriter, RefusesBadSizesAndPaths) {
    const fs::path dir = test::ScratchDir("bmp_writer_bad");
    const std::vector<uint32_t> pixels(16, 0);
    const std::string path = (dir / "bad.bmp").string();
    // 65535 x 65535 would pass 4 GiB: refused before anything is read or written.
    const std::tuple<const uint32_t*, int, int, size_t> cases[] = {
        {nullptr, 1, 1, 1},       {pixels.data(), 0, 1, 1},
        {pixels.data(), 1, 0, 1}, {pixels.data(), 65536, 1, 65536},
        {pixels.data(), 4, 1, 3}, {pixels.data(), 65535, 65535, 65535}};
    for (const auto& [data, width, height, stride] : cases)
        EXPECT_FALSE(WriteBmp(path, data, width, height, stride)) << width << "x" << height;
    EXPECT_TRUE(Listing(dir).empty());
    EXPECT_FALSE(WriteBmp((dir / "missing" / "a.bmp").string(), pixels.data(), 2, 2, 2));
}

}  // namespace
}  // namespace vexel
