// The vexel command as a user runs it: output formats, messages and exit codes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "common/flat_json.h"
#include "common/test_paths.h"
#include "phantom/phantom_writer.h"
#include "vexel_run.h"

namespace vexel {
namespace {

using test::Quote;
using test::Vexel;

phantom::PhantomOptions SmallStudy() {
    phantom::PhantomOptions options;
    options.columns = 64;
    options.rows = 48;
    options.slices = 2;
    return options;
}

// A small CT slice and an RGB image written by the phantom writer.
const std::filesystem::path& Study() {
    static const std::filesystem::path dir = [] {
        const auto root = test::ScratchDir("cli-study");
        const phantom::PhantomOptions options = SmallStudy();
        std::string error;
        EXPECT_TRUE(phantom::WriteCtSeries(root / "CT", options, &error)) << error;
        EXPECT_TRUE(phantom::WriteRgbImage(root / "RGB", options, &error)) << error;
        return root;
    }();
    return dir;
}

TEST(VexelDump, ListsEveryFileAndReportsUnreadableOnes) {
    const auto ct = Study() / "CT" / "CT0001.dcm";
    const auto missing = Study() / "missing.dcm";
    int code = 0;
    const std::string out = test::RunCommand(
        Vexel() + " dump " + Quote(missing) + " " + Quote(ct) + " 2>" + Quote(Study() / "err.txt"),
        &code);
    EXPECT_EQ(code, 1);
    std::ifstream errors(Study() / "err.txt");
    std::string message;
    std::getline(errors, message);
    EXPECT_EQ(message, "vexel: " + missing.string() + ": cannot open file");
    // The readable file is still listed: tab-separated rows after a "# path" line.
    EXPECT_NE(out.find("# " + ct.string() + "\n"), std::string::npos);
    EXPECT_NE(out.find("(0028,0010)\tUS\t2\tRows\t48\t1\n"), std::string::npos)
        << out.substr(0, 400);
    EXPECT_NE(out.find("(7FE0,0010)\tOW\t6144\tPixel Data\t"), std::string::npos);
}

TEST(VexelDecode, PrintsStatisticsAndWritesNetpbm) {
    const auto ct = Study() / "CT" / "CT0001.dcm";
    const auto pgm = Study() / "ct.pgm";
    int code = 0;
    const std::string out =
        test::RunCommand(Vexel() + " decode " + Quote(ct) + " --out " + Quote(pgm), &code);
    ASSERT_EQ(code, 0) << out;
    EXPECT_NE(out.find("rows: 48\ncolumns: 64\nframes: 1\nphotometric: MONOCHROME2\n"
                       "bits allocated: 16\nbits stored: 16\nsigned: yes\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("frame 0: min "), std::string::npos);
    // The PGM holds the decoded words big-endian: the stored values the phantom wrote.
    int columns = 0;
    const std::vector<int> words = test::ReadNetpbm(pgm, &columns);
    EXPECT_EQ(columns, 64);
    const std::vector<int16_t> stored = phantom::CtSliceStored(SmallStudy(), 0);
    ASSERT_EQ(words.size(), stored.size());
    for (size_t i = 0; i < stored.size(); ++i)
        ASSERT_EQ(int16_t(uint16_t(words[i])), stored[i]) << "pixel " << i;
}

TEST(VexelDecode, ColourAndErrors) {
    const auto rgb = Study() / "RGB" / "RGB0001.dcm";
    int code = 0;
    std::string out = test::RunCommand(Vexel() + " decode " + Quote(rgb), &code);
    EXPECT_EQ(code, 0);
    EXPECT_NE(out.find("photometric: RGB\n"), std::string::npos);
    out = test::RunCommand(Vexel() + " decode " + Quote(rgb) + " --frame 3 2>&1", &code);
    EXPECT_EQ(code, 1);
    EXPECT_NE(out.find("vexel: " + rgb.string() + ": frame 3: no such frame"), std::string::npos)
        << out;
    test::RunCommand(Vexel() + " decode 2>/dev/null", &code);
    EXPECT_EQ(code, 2);
}

}  // namespace
}  // namespace vexel
