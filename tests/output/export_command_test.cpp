// `vexel export` against `vexel render` of the same frame, size, view and annotations (the
// export draws each item afresh, so both must agree bit for bit), JPEG within 2 levels after
// djpeg, the names of runs and prefixes, files that exist already, and the folders of every
// opened series.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/test_paths.h"
#include "phantom/phantom_writer.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

const fs::path& Study() {
    static const fs::path root = [] {
        const fs::path dir = test::ScratchDir("export-command-study");
        phantom::PhantomOptions options;
        options.columns = 128;
        options.rows = 96;
        options.slices = 5;
        std::string error;
        EXPECT_TRUE(phantom::WriteStudy(dir, {true, false, false, false}, options, &error))
            << error;
        return dir;
    }();
    return root;
}

int Vexel(const std::string& arguments, std::string* out = nullptr) {
    int code = -1;
    const std::string printed =
        test::RunCommand(test::Vexel() + " " + arguments + " 2>/dev/null", &code);
    if (out != nullptr) *out = printed;
    return code;
}

// Interleaved RGB bytes of any picture ImageMagick or djpeg reads.
std::vector<uint8_t> Rgb(const fs::path& picture) {
    const std::string bytes =
        picture.extension() == ".jpg"
            ? test::RunCommand("djpeg -pnm " + test::Quote(picture) + " | convert - rgb:-")
            : test::RunCommand("convert " + test::Quote(picture) + " rgb:-");
    return {bytes.begin(), bytes.end()};
}

std::vector<uint8_t> Render(const std::string& arguments, size_t image) {
    const fs::path png = test::ScratchDir("export-command-render") / "r.png";
    EXPECT_EQ(Vexel("render " + test::Quote(Study() / "CT") + " --out " + test::Quote(png) +
                    " --image " + std::to_string(image) + " " + arguments),
              0);
    return Rgb(png);
}

struct PictureCase {
    std::string exportArguments;
    std::string renderArguments;  // the same picture as `vexel render` draws it
};

TEST(ExportCommand, PicturesEqualTheRenderOfTheSameFrameSizeViewAndAnnotations) {
    if (!test::HaveProgram("convert")) GTEST_SKIP() << "ImageMagick not installed";
    const PictureCase cases[] = {
        {"--size default --annotations none", "--size 128x96 --no-layers"},
        {"--size default --rotate 90 --flip h --annotations full",
         "--size 96x128 --rotate 90 --flip h --annotations full"},
        {"--size default --rotate 180 --annotations basic",
         "--size 128x96 --rotate 180 --annotations basic"},
        {"--size fit:200x100 --rotate 270 --annotations basic",
         "--size 200x100 --rotate 270 --annotations basic"},
        {"--size 300x200 --flip v --annotations full", "--size 300x200 --flip v"},
        {"--size 64x64 --preset bone --annotations none", "--size 64x64 --preset bone --no-layers"},
    };
    for (const PictureCase& c : cases) {
        SCOPED_TRACE(c.exportArguments);
        const fs::path out = test::ScratchDir("export-command-pictures");
        ASSERT_EQ(Vexel("export " + test::Quote(Study() / "CT") + " --out " + test::Quote(out) +
                        " --scope series --format bmp " + c.exportArguments),
                  0);
        // Each picture shows its place in the export, as the viewer shows its place in the
        // series: the first and the last are enough.
        for (const size_t image : {size_t(0), size_t(4)}) {
            const auto exported = Rgb(out / ("IMG-0001-0000" + std::to_string(image + 1) + ".bmp"));
            ASSERT_FALSE(exported.empty());
            EXPECT_TRUE(exported == Render(c.renderArguments, image)) << "image " << image;
        }
    }
}

TEST(ExportCommand, JpegAtTheBestQualityIsWithinTwoLevelsOfTheRender) {
    if (!test::HaveProgram("djpeg") || !test::HaveProgram("convert"))
        GTEST_SKIP() << "djpeg or ImageMagick not installed";
    const fs::path out = test::ScratchDir("export-command-jpeg");
    ASSERT_EQ(Vexel("export " + test::Quote(Study() / "CT") + " --out " + test::Quote(out) +
                    " --image 2 --annotations none --quality 10"),
              0);
    const auto jpeg = Rgb(out / "IMG-0001-00001.jpg");
    const auto rendered = Render("--size 128x96 --no-layers", 2);
    ASSERT_EQ(jpeg.size(), rendered.size());
    double sum = 0;
    int worst = 0;
    for (size_t i = 0; i < jpeg.size(); ++i) {
        const int difference = std::abs(int(jpeg[i]) - int(rendered[i]));
        worst = std::max(worst, difference);
        sum += difference;
    }
    EXPECT_LE(worst, 2);
    EXPECT_LT(sum / double(jpeg.size()), 0.5);
}

TEST(ExportCommand, RunsAndPrefixesNeverOverwriteAndFoldersStayInside) {
    const fs::path out = test::ScratchDir("export-command-names");
    const std::string ct = test::Quote(Study() / "CT");
    const std::string to = " --out " + test::Quote(out);
    // An earlier file of the first run is kept byte for byte: the run counter moves past it.
    {
        std::FILE* earlier = std::fopen((out / "IMG-0001-00001.jpg").c_str(), "wb");
        ASSERT_NE(earlier, nullptr);
        std::fputs("earlier", earlier);
        std::fclose(earlier);
    }
    std::string printed;
    ASSERT_EQ(Vexel("export " + ct + to, &printed), 0);
    EXPECT_EQ(printed, (out / "IMG-0002-00001.jpg").string() + "\n");
    ASSERT_EQ(Vexel("export " + ct + to), 0);
    EXPECT_TRUE(fs::exists(out / "IMG-0003-00001.jpg"));
    EXPECT_EQ(test::ReadFileBytes(out / "IMG-0001-00001.jpg"),
              std::vector<uint8_t>({'e', 'a', 'r', 'l', 'i', 'e', 'r'}));
    // A user's prefix: numbered from 1; a second run refuses the names unless told.
    ASSERT_EQ(Vexel("export " + ct + to + " --scope series --prefix ct"), 0);
    for (int i = 1; i <= 5; ++i)
        EXPECT_TRUE(fs::exists(out / ("ct0000" + std::to_string(i) + ".jpg")));
    const auto before = test::ReadFileBytes(out / "ct00001.jpg");
    EXPECT_EQ(Vexel("export " + ct + to + " --scope series --prefix ct --annotations none"), 1);
    EXPECT_EQ(test::ReadFileBytes(out / "ct00001.jpg"), before);
    EXPECT_EQ(
        Vexel("export " + ct + to + " --scope series --prefix ct --annotations none --overwrite"),
        0);
    EXPECT_NE(test::ReadFileBytes(out / "ct00001.jpg"), before);
    EXPECT_EQ(Vexel("export " + ct + to + " --prefix ../up"), 1);
    // Every opened series, into the patient's and the study's folders; anonymous: numbered.
    const fs::path all = test::ScratchDir("export-command-all");
    ASSERT_EQ(
        Vexel("export " + test::Quote(Study()) + " --out " + test::Quote(all) + " --scope all"), 0);
    EXPECT_TRUE(fs::exists(all / "Müller Jürgen" / "2024_03_15_09_30" / "IMG-0001-00005.jpg"));
    ASSERT_EQ(Vexel("export " + test::Quote(Study()) + " --out " + test::Quote(all) +
                    " --scope all --annotations basic"),
              0);
    EXPECT_TRUE(fs::exists(all / "PATIENT001" / "STUDY01" / "IMG-0001-00001.jpg"));
    for (const auto& entry : fs::recursive_directory_iterator(all))
        EXPECT_EQ(entry.path().filename().string().rfind(".vexel-export-", 0), std::string::npos)
            << "a temporary file was left: " << entry.path();
}

// "codec,width,height,rate,frames" of the first video stream.
std::string Probe(const fs::path& movie) {
    std::string line = test::RunCommand(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=codec_name,width,height,nb_read_frames,avg_frame_rate -of csv=p=0 " +
        test::Quote(movie));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return line;
}

TEST(ExportCommand, MoviesHoldEveryFrameAtTheirSizeAndRate) {
    if (!test::HaveProgram("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
    const fs::path out = test::ScratchDir("export-command-movies");
    const std::string ct = test::Quote(Study() / "CT");
    ASSERT_EQ(Vexel("export " + ct + " --out " + test::Quote(out) +
                    " --scope series --format mp4 --fps 7"),
              0);
    EXPECT_EQ(Probe(out / "movie00001.mp4"), "h264,128,96,7/1,5");
    ASSERT_EQ(Vexel("export " + ct + " --out " + test::Quote(out) +
                    " --scope series --format wmv --prefix ct --size fit:255x255"),
              0);
    // Default rate: the images' own (none recorded: 10); odd sizes are padded to even ones.
    EXPECT_EQ(Probe(out / "ct00001.wmv"), "wmv2,256,256,10/1,5");
    EXPECT_EQ(Vexel("export " + ct + " --out " + test::Quote(out) +
                    " --scope series --format wmv --prefix ct"),
              1)
        << "an existing movie is not replaced unasked";
    if (!test::HaveTestData()) return;
    // An ultrasound loop: every frame of the multi-frame file, at its recommended rate.
    const fs::path loop = test::TestDataDir() / "pydicom/test_files/examples_ybr_color.dcm";
    ASSERT_EQ(Vexel("export " + test::Quote(loop) + " --out " + test::Quote(out) +
                    " --scope series --format wmv"),
              0);
    const std::string probed = Probe(out / "movie00001.wmv");
    EXPECT_EQ(probed.rfind("wmv2,", 0), 0u) << probed;
    int frames = -1;
    const std::string dumped = test::RunCommand("dcmdump +P 0028,0008 " + test::Quote(loop));
    const size_t open = dumped.find('[');
    if (open != std::string::npos) frames = std::atoi(dumped.c_str() + open + 1);
    // Its Frame Time of 33.333 ms makes 30 frames a second.
    EXPECT_NE(probed.find(",30/1," + std::to_string(frames)), std::string::npos) << probed;
}

}  // namespace
}  // namespace vexel
