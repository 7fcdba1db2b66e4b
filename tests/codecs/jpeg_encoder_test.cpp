// jpeg1's encoder and size reader.
#include <gtest/gtest.h>

#include <cmath>

#include "codec_module.h"
#include "common/test_paths.h"
#include "test_streams.h"

namespace vexel::test {
namespace {

namespace fs = std::filesystem;

// CompressJPEG writes a file that DCMTK reads back (wrapped by img2dcm, decoded by
// dcmdjpeg) close to the input; ReadJPEGsize reports its size.
TEST(Jpeg1Encoder, WritesBaselineFileThatDcmtkDecodes) {
    if (!HaveProgram("img2dcm") || !HaveProgram("dcmdjpeg")) GTEST_SKIP() << "DCMTK absent";
    std::string error;
    const auto module = CCodecModule::Load("jpeg1", &error);
    ASSERT_TRUE(module) << error;
    const auto compress = reinterpret_cast<decltype(&CompressJPEG)>(module->Symbol("CompressJPEG"));
    const auto readSize = reinterpret_cast<decltype(&ReadJPEGsize)>(module->Symbol("ReadJPEGsize"));
    ASSERT_TRUE(compress && readSize);

    constexpr int kWidth = 70;
    constexpr int kHeight = 45;
    std::vector<uint8_t> rgb;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x)
            rgb.insert(rgb.end(),
                       {uint8_t(x * 255 / (kWidth - 1)), uint8_t(y * 255 / (kHeight - 1)),
                        uint8_t(128 + 100 * std::sin(x * 0.1))});
    }
    const fs::path dir = ScratchDir("jpeg1-encoder");
    const fs::path jpeg = dir / "Ünïcode name.jpg";
    ASSERT_EQ(compress(rgb.data(), kWidth, kHeight, 95, jpeg.c_str()), VEXEL_CODEC_OK);
    const std::vector<uint8_t> bytes = ReadFileBytes(jpeg);
    int32_t width = 0, height = 0;
    ASSERT_EQ(readSize(bytes.data(), static_cast<uint32_t>(bytes.size()), &width, &height),
              VEXEL_CODEC_OK);
    EXPECT_EQ(std::make_pair(width, height), std::make_pair(kWidth, kHeight));
    EXPECT_EQ(readSize(bytes.data(), 3, &width, &height), VEXEL_CODEC_CORRUPT);

    fs::copy_file(jpeg, dir / "plain.jpg");
    std::string log;
    const fs::path decoded =
        ConvertOnce("jpeg1_encoder", "img2dcm {in} {out}.jpeg.dcm && dcmdjpeg {out}.jpeg.dcm {out}",
                    dir / "plain.jpg", &log);
    ASSERT_FALSE(decoded.empty()) << log;
    const auto pixels = NativePixelData(ReadFileBytes(decoded));
    ASSERT_TRUE(pixels);
    ASSERT_EQ(pixels->size(), rgb.size());
    double total = 0;
    for (size_t i = 0; i < rgb.size(); ++i) {
        total += std::abs(int{rgb[i]} - int{(*pixels)[i]});
        ASSERT_LE(std::abs(int{rgb[i]} - int{(*pixels)[i]}), 24) << "sample " << i;
    }
    EXPECT_LT(total / static_cast<double>(rgb.size()), 2.0);

    EXPECT_EQ(compress(rgb.data(), kWidth, kHeight, 95, (dir / "no/such/dir.jpg").c_str()),
              VEXEL_CODEC_BAD_ARGUMENT);
    EXPECT_EQ(compress(rgb.data(), 0, kHeight, 95, jpeg.c_str()), VEXEL_CODEC_BAD_ARGUMENT);
}

}  // namespace
}  // namespace vexel::test
