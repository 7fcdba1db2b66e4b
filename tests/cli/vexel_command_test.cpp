// The vexel command as a user runs it: dump, decode (HTJ2K frames from OpenJPH's ojph_compress
// too), scan against DCMTK's grouping, render against DCMTK's dcmj2pnm and ImageMagick, and its
// annotations against dcmdump's values; refusals, FIFOs and decimal-comma locales.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "cli/option_number.h"
#include "common/byte_builder.h"
#include "common/flat_json.h"
#include "common/test_paths.h"
#include "phantom/phantom_writer.h"

namespace vexel {
namespace {

using test::Quote;
using test::Vexel;

phantom::PhantomOptions SmallStudy() {
    phantom::PhantomOptions options;
    options.columns = 64, options.rows = 48, options.slices = 2;
    return options;
}

// A small CT series written by the phantom writer.
const std::filesystem::path& Study() {
    static const std::filesystem::path dir = test::ScratchDir("cli-study");
    static const bool written = phantom::WriteCtSeries(dir / "CT", SmallStudy(), nullptr);
    EXPECT_TRUE(written);
    return dir;
}

TEST(VexelDump, ListsEveryFileAndReportsUnreadableOnes) {
    const auto ct = Study() / "CT" / "CT0001.dcm";
    const auto missing = Study() / "missing.dcm";
    int code = 0;
    const std::string out = test::RunCommand(
        Vexel() + " dump " + Quote(missing) + " " + Quote(ct) + " 2>/dev/null", &code);
    EXPECT_EQ(code, 1);
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
    // The PGM holds the decoded words big-endian: the stored values the phantom wrote.
    int columns = 0;
    const std::vector<int> words = test::ReadNetpbm(pgm, &columns);
    EXPECT_EQ(columns, 64);
    const std::vector<int16_t> stored = phantom::CtSliceStored(SmallStudy(), 0);
    ASSERT_EQ(words.size(), stored.size());
    for (size_t i = 0; i < stored.size(); ++i)
        ASSERT_EQ(int16_t(uint16_t(words[i])), stored[i]) << "pixel " << i;
}


namespace fs = std::filesystem;

TEST(VexelSpecialFiles, AFifoOnTheCommandLineIsRefusedNotWaitedOn) {
    const fs::path root = test::ScratchDir("cli-fifo");
    const fs::path fifo = root / "pipe.dcm";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const auto& [command, message] :
         {std::pair{"dump", ": cannot open file"}, std::pair{"decode", ": cannot open file"},
          std::pair{"scan", "No DICOM images found"}}) {
        int code = 0;
        // Nobody ever opens the FIFO for writing: a blocking open would wait forever.
        const std::string text = test::RunCommand("timeout -s KILL 120 " + test::Vexel() + " " +
                                                      command + " " + Quote(fifo) + " 2>&1",
                                                  &code);
        EXPECT_EQ(code, 1) << command << " (137: it hung and was killed)";
        EXPECT_NE(text.find(message), std::string::npos) << command << ": " << text;
    }
}

TEST(VexelOptionNumbers, KeepTheirDecimalPointUnderAGermanLocale) {
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed (scripts/setup makes it)";
    // Accepted numbers with their value; refused ones with NAN.
    for (const auto& [text, expected] :
         {std::pair{"40.5", 40.5f}, {"-0.25", -0.25f}, {"2e1", 20.0f}, {"400", 400.0f},
          {"40,5", NAN}, {"1.5x", NAN}, {"", NAN}, {"nan", NAN}, {"inf", NAN}, {"1e40", NAN}}) {
        float value = -1;
        EXPECT_EQ(cli::ParseFloatOption(text, value), !std::isnan(expected)) << '"' << text << '"';
        EXPECT_TRUE(std::isnan(expected) || value == expected) << text;
    }
    std::setlocale(LC_ALL, previous.c_str());
}



using SeriesMembers = std::map<std::string, std::vector<std::string>>;

// Series UID -> SOP instance UIDs ordered by instance number, as dcmdump reads them. Each
// file lists the three in this order: its SOP instance UID, series UID, instance number.
SeriesMembers GroupWithDcmdump(const fs::path& root) {
    const std::string out =
        test::RunCommand("find '" + root.string() + "' -type f -exec dcmdump -q +P 0008,0018 " +
                         "+P 0020,000e +P 0020,0013 {} + 2>/dev/null");
    const std::regex value(R"(\((0020,000e|0008,0018|0020,0013)\) \w\w \[([^\]]*)\])");
    std::map<std::string, std::vector<std::pair<int, std::string>>> numbered;
    std::string sop, seriesUid;
    for (std::sregex_iterator it(out.begin(), out.end(), value), end; it != end; ++it) {
        const std::string tag = (*it)[1], text = (*it)[2];
        if (tag == "0008,0018") sop = text;
        if (tag == "0020,000e") seriesUid = text;
        if (tag == "0020,0013") numbered[seriesUid].push_back({std::stoi(text), sop});
    }
    SeriesMembers series;
    for (auto& [uid, members] : numbered) {
        std::sort(members.begin(), members.end());
        for (const auto& member : members)
            series[uid].push_back(member.second);
    }
    return series;
}

SeriesMembers GroupWithVexel(const fs::path& root, int* exitCode) {
    const std::string json = test::RunCommand(
        (test::BinaryDir() / "bin" / "vexel").string() + " scan --json '" + root.string() + "'",
        exitCode);
    std::map<std::string, std::string> leaves;
    EXPECT_TRUE(test::JsonReader(json).Read(leaves)) << json;
    SeriesMembers series;
    const std::regex seriesUid(R"(^(/patients/\d+/studies/\d+/series/\d+)/seriesInstanceUid$)");
    std::smatch match;
    for (const auto& [path, text] : leaves) {
        if (!std::regex_match(path, match, seriesUid)) continue;
        std::vector<std::string>& members = series[text];
        for (int i = 0;; ++i) {
            const auto it = leaves.find(match[1].str() + "/sopInstanceUids/" + std::to_string(i));
            if (it == leaves.end()) break;
            members.push_back(it->second);
        }
    }
    return series;
}

TEST(ScanCommand, SeriesAndTheirMembersMatchDcmtk) {
    if (!test::HaveProgram("dcmdump")) GTEST_SKIP() << "dcmdump not installed";
    const fs::path root = test::ScratchDir("cli-scan");
    phantom::PhantomOptions options;
    options.columns = options.rows = 32;
    options.slices = 5;
    options.frames = 3;
    std::string error;
    for (const char* uidRoot : {"2.25.5001", "2.25.5002"}) {
        options.uidRoot = uidRoot;
        ASSERT_TRUE(phantom::WriteStudy(root / uidRoot, {true, true, true, true}, options, &error))
            << error;
    }
    int exitCode = -1;
    const SeriesMembers vexel = GroupWithVexel(root, &exitCode);
    EXPECT_EQ(exitCode, 0);
    const SeriesMembers dcmtk = GroupWithDcmdump(root);
    ASSERT_EQ(dcmtk.size(), 8u);
    EXPECT_EQ(vexel, dcmtk);
}


using test::ByteBuilder;

constexpr int kColumns = 64;  // the small study's
constexpr int kRows = 48;

struct HtCase {
    const char* name;
    const char* uid;
    const char* options;  // ojph_compress coding options
    int tolerance;        // against the source (lossless) or ojph_expand (lossy)
};

const HtCase kCases[] = {
    {"LosslessRpcl", "1.2.840.10008.1.2.4.201", "-reversible true -prog_order RPCL", 0},
    {"Lossy", "1.2.840.10008.1.2.4.203", "-qstep 0.0002", 1},
};

// A phantom CT slice with noise, so every bit plane carries data, made unsigned: OpenJPH 0.9
// codes negative samples in a way of its own that other decoders do not share.
std::vector<uint16_t> CtSource() {
    const std::vector<int16_t> stored = phantom::CtSliceStored(SmallStudy(), 1);
    std::vector<uint16_t> samples(stored.size());
    uint32_t state = 2024;
    for (size_t i = 0; i < stored.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        samples[i] = static_cast<uint16_t>(stored[i] + 2048 + static_cast<int>(state >> 28) - 8);
    }
    return samples;
}

bool WriteBytes(const fs::path& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary);
    return bool(out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size)));
}

// Explicit VR little endian file: image pixel module and one fragment with the codestream.
bool WriteDicom(const fs::path& path, const HtCase& c, std::vector<uint8_t> codestream) {
    ByteBuilder b;
    b.Preamble().Meta(c.uid);
    b.Explicit(0x0008, 0x0016, "UI", std::string("1.2.840.10008.5.1.4.1.1.7") + '\0');
    b.Explicit(0x0028, 0x0004, "CS", "MONOCHROME2 ");
    for (const auto& [element, value] : {std::pair<uint16_t, int>{0x0002, 1}, {0x0010, kRows},
                                         {0x0011, kColumns}, {0x0100, 16}, {0x0101, 16},
                                         {0x0102, 15}, {0x0103, 0}})
        b.Explicit(0x0028, element, "US", ByteBuilder::LittleU16(uint16_t(value)));
    if (codestream.size() % 2) codestream.push_back(0);
    b.ExplicitHeader(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).Item(0);
    b.Item(static_cast<uint32_t>(codestream.size())).Raw(codestream).SequenceEnd();
    return b.WriteTo(path);
}

class Htj2kDecode : public testing::TestWithParam<HtCase> {};

TEST_P(Htj2kDecode, VexelDecodeGivesTheFrame) {
    if (!test::HaveProgram("ojph_compress") || !test::HaveProgram("ojph_expand"))
        GTEST_SKIP() << "ojph_compress/ojph_expand (openjph-tools) not found; HTJ2K not tested";
    const HtCase& c = GetParam();
    const fs::path dir = test::ScratchDir(std::string("htj2k-") + c.name);
    const std::vector<uint16_t> source = CtSource();
    ASSERT_TRUE(WriteBytes(dir / "source.raw", source.data(), source.size() * 2));
    int code = 0;
    const fs::path j2c = dir / "frame.j2c";
    const std::string log = test::RunCommand(
        "ojph_compress -i " + Quote(dir / "source.raw") + " -dims '{" + std::to_string(kColumns) +
            "," + std::to_string(kRows) + "}' -num_comps 1 -signed false -bit_depth 16" +
            " -downsamp '{1,1}' -o " + Quote(j2c) + " " + c.options + " 2>&1",
        &code);
    ASSERT_EQ(code, 0) << log;
    ASSERT_TRUE(WriteDicom(dir / "frame.dcm", c, test::ReadFileBytes(j2c)));
    const fs::path decoded = dir / "decoded.pgm";
    const std::string out = test::RunCommand(test::Vexel() + " decode " + Quote(dir / "frame.dcm") +
                                                 " --out " + Quote(decoded) + " 2>&1",
                                             &code);
    ASSERT_EQ(code, 0) << out;

    std::vector<int> expected(source.begin(), source.end());
    if (c.tolerance > 0) {  // lossy: OpenJPH's decode of the same codestream
        const fs::path oracle = dir / "oracle.raw";
        const std::string expandLog = test::RunCommand(
            "ojph_expand -i " + Quote(j2c) + " -o " + Quote(oracle) + " 2>&1", &code);
        ASSERT_EQ(code, 0) << expandLog;
        const std::vector<uint8_t> bytes = test::ReadFileBytes(oracle);
        ASSERT_EQ(bytes.size(), source.size() * 2);
        for (size_t i = 0; i < source.size(); ++i)
            expected[i] = bytes[2 * i] | bytes[2 * i + 1] << 8;
    }
    const std::vector<int> actual = test::ReadNetpbm(decoded);
    ASSERT_EQ(actual.size(), expected.size()) << decoded;
    for (size_t i = 0; i < expected.size(); ++i)
        ASSERT_LE(std::abs(actual[i] - expected[i]), c.tolerance)
            << "row " << i / kColumns << ", column " << i % kColumns;
}

INSTANTIATE_TEST_SUITE_P(Syntaxes, Htj2kDecode, testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });


namespace fs = std::filesystem;
using test::Quote;
using test::Vexel;

// The pixels of an image file as 8-bit samples ("gray" or "rgb"), read by ImageMagick.
std::vector<uint8_t> Samples(const fs::path& image, const std::string& kind, const fs::path& raw) {
    int code = 0;
    test::RunCommand("convert " + Quote(image) + " -depth 8 " + kind + ":" + Quote(raw), &code);
    return code == 0 ? test::ReadFileBytes(raw) : std::vector<uint8_t>();
}

int LargestDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    int largest = a.size() != b.size() || a.empty() ? 256 : 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        largest = std::max(largest, std::abs(a[i] - b[i]));
    return largest;
}

struct RealFile {
    const char* path;  // under the shared test data
    int columns;
    int rows;
    bool colour;
};

class RenderAgainstDcmtk : public testing::TestWithParam<RealFile> {};

TEST_P(RenderAgainstDcmtk, SameWindowSamePicture) {
    VEXEL_REQUIRE_TESTDATA();
    if (!test::HaveProgram("dcmj2pnm") || !test::HaveProgram("convert"))
        GTEST_SKIP() << "dcmj2pnm or convert missing";
    const RealFile& file = GetParam();
    const fs::path input = test::TestDataDir() / file.path;
    const fs::path dir = test::ScratchDir("render-dcmtk");
    const std::string size = std::to_string(file.columns) + "x" + std::to_string(file.rows);
    const std::string window = file.colour ? "" : " --window 40,400";
    const std::string kind = file.colour ? "rgb" : "gray";
    int code = 0;
    test::RunCommand("dcmj2pnm -q +on" + std::string(file.colour ? "" : " +Ww 40 400") + " " +
                         Quote(input) + " " + Quote(dir / "dcmtk.png"),
                     &code);
    ASSERT_EQ(code, 0);

    struct View {
        std::string options;  // of vexel render
        std::string magick;   // the same change applied to DCMTK's picture
        bool swapsSides;
    };
    for (const View& view : {View{"", "", false}, View{"--rotate 90", "-rotate 90", true},
                             View{"--rotate 270 --flip h", "-rotate 270 -flop", true},
                             View{"--flip v", "-flip", false}}) {
        const std::string viewSize =
            view.swapsSides ? std::to_string(file.rows) + "x" + std::to_string(file.columns) : size;
        test::RunCommand(Vexel() + " render " + Quote(input) + " --size " + viewSize +
                             " --zoom 1 --no-layers" + window + " " + view.options + " --out " +
                             Quote(dir / "vexel.png") + " >/dev/null",
                         &code);
        ASSERT_EQ(code, 0) << view.options;
        test::RunCommand("convert " + Quote(dir / "dcmtk.png") + " " + view.magick + " " +
                             Quote(dir / "expected.png"),
                         &code);
        ASSERT_EQ(code, 0);
        const auto ours = Samples(dir / "vexel.png", kind, dir / "vexel.raw");
        const auto theirs = Samples(dir / "expected.png", kind, dir / "expected.raw");
        ASSERT_EQ(ours.size(), size_t(file.columns) * file.rows * (file.colour ? 3 : 1));
        // DCMTK rounds the VOI function differently by at most one level; colour is exact.
        EXPECT_LE(LargestDifference(ours, theirs), file.colour ? 0 : 1)
            << file.path << " " << view.options;
    }
}

INSTANTIATE_TEST_SUITE_P(
    RealFiles, RenderAgainstDcmtk,
    testing::Values(RealFile{"pydicom/test_files/CT_small.dcm", 128, 128, false},
                    RealFile{"dcm_qa_ts/5.dcm", 384, 384, false},
                    RealFile{"dwv/gdcm-CT-MONO2-8-abdo.dcm", 512, 512, false},
                    RealFile{"pydicom/test_files/SC_rgb_rle.dcm", 100, 100, true},
                    RealFile{"AlizaMS/001US/TESTXX02.dcm", 800, 600, true}));

TEST(VexelRender, RefusesBadRequestsWithoutWritingAFile) {
    VEXEL_REQUIRE_TESTDATA();
    const fs::path input = test::TestDataDir() / "pydicom/test_files/CT_small.dcm";
    const fs::path dir = test::ScratchDir("render-refusals");
    const fs::path out = dir / "out.png";
    struct Case {
        std::string arguments;
        int code;
    };
    for (const Case& c :
         {Case{"--size 100000x10", 2}, Case{"--zoom nan", 2}, Case{"--rotate 45", 2},
          Case{"--preset lungs --window 1,2", 2}, Case{"--frame 3", 1}}) {
        int code = 0;
        test::RunCommand(Vexel() + " render " + Quote(input) + " " + c.arguments + " --out " +
                             Quote(out) + " 2>/dev/null",
                         &code);
        EXPECT_EQ(code, c.code) << c.arguments;
        EXPECT_FALSE(fs::exists(out)) << c.arguments;
    }
}



struct AnnotationCase {
    const char* name;
    const char* file;  // under pydicom/test_files
    const char* options;
    // Lines that must appear, and lines that must not, in the printed list.
    std::vector<std::string> present;
    std::vector<std::string> absent;
};

class RenderAnnotationsTest : public ::testing::TestWithParam<AnnotationCase> {};

TEST_P(RenderAnnotationsTest, PrintsTheTextsDrawn) {
    VEXEL_REQUIRE_TESTDATA();
    const AnnotationCase& c = GetParam();
    const fs::path input = test::TestDataDir() / "pydicom/test_files" / c.file;
    const fs::path out = test::ScratchDir(std::string("render-annotations-") + c.name) / "out.png";
    int code = 0;
    // The C locale's date format, whatever the machine's.
    const std::string listing =
        test::RunCommand("LC_ALL=C " + (test::BinaryDir() / "bin" / "vexel").string() +
                             " render '" + input.string() + "' --out '" + out.string() +
                             "' --print-annotations " + c.options + " 2>/dev/null",
                         &code);
    ASSERT_EQ(code, 0) << listing;
    for (const std::string& line : c.present)
        EXPECT_NE(listing.find("\n" + line + "\n"), std::string::npos) << line << "\n" << listing;
    for (const std::string& line : c.absent)
        EXPECT_EQ(listing.find(line), std::string::npos) << line << "\n" << listing;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, RenderAnnotationsTest,
    ::testing::Values(
        AnnotationCase{"ct",
                       "CT_small.dcm",
                       "",
                       {"top-left: Im: 1/1", "top-left: Se: 1", "top-right: CompressedSamples^CT1",
                        "top-right: 1CT1", "top-right: O", "top-right: JFK IMAGING CENTER",
                        "bottom-left: T: 5.0mm L: -75.7mm", "bottom-right: 04/30/97 11:30:08",
                        "left: R", "right: L", "top: A", "bottom: P"},
                       {}},
        AnnotationCase{"ctRotated",
                       "CT_small.dcm",
                       "--rotate 90",
                       {"left: P", "right: A", "top: R", "bottom: L", "top-right: R: 90\u00b0 CW"},
                       {}},
        AnnotationCase{"ctBasic",
                       "CT_small.dcm",
                       "--annotations basic --preset bone",
                       {"top-right: JFK IMAGING CENTER", "bottom-left: WL: 300 WW: 1500 [CT Bone]"},
                       {"CompressedSamples", "top-right: O\n"}},
        AnnotationCase{"ctNone", "CT_small.dcm", "--annotations none", {}, {"top-left", "left:"}},
        // The date and time of the study: the file has no content, acquisition or series ones.
        AnnotationCase{"mr",
                       "MR_small.dcm",
                       "",
                       {"top-right: CompressedSamples^MR1", "top-right: TOSHIBA",
                        "bottom-left: T: 0.8mm L: 6.6mm", "bottom-right: 08/26/04 18:50:59",
                        "bottom-right: TR: 4000.0 TE: 240.0"},
                       {}},
        AnnotationCase{"ultrasoundLoop",
                       "examples_ybr_color.dcm",
                       "--frame 11",
                       {"top-left: Im: 1/1 Fr: 12/30", "top-right: PLA", "top-right: 204",
                        "bottom-right: 05/03/16 12:15:35"},
                       {"\nleft:", "bottom-left: T:"}}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace vexel
