// The phantom writer checked from outside: hand-assembled byte layouts for the element encoder,
// DCMTK (dcmdump, dcm2pnm) for the files, and CT numbers and SUVs known from the phantom's
// design for the pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/test_paths.h"
#include "phantom/data_set_writer.h"
#include "phantom/dicom_file_writer.h"
#include "phantom/phantom_writer.h"

namespace vexel::phantom {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr const char* kRoot = "2.25.271828182845904523536028747135";

#define PHANTOM_REQUIRE_PROGRAM(name)                                                  \
    do {                                                                               \
        if (!::vexel::test::HaveProgram(name)) GTEST_SKIP() << name " is not on PATH"; \
    } while (0)

std::string Quote(const fs::path& path) {
    return "'" + path.string() + "'";
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// dcmdump runs once per file version; many cases read the same few files.
std::string CacheKey(const fs::path& file, const char* kind) {
    std::error_code ec;
    const auto stamp = fs::last_write_time(file, ec).time_since_epoch().count();
    return std::string(kind) + "|" + file.string() + "|" + std::to_string(stamp) + "|" +
           std::to_string(fs::file_size(file, ec));
}

const std::vector<std::string>& DumpLines(const fs::path& file, bool toUtf8) {
    static std::map<std::string, std::vector<std::string>> cache;
    const std::string key = CacheKey(file, toUtf8 ? "utf8" : "raw");
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    std::stringstream in(
        test::RunCommand(std::string("dcmdump -q -Un ") + (toUtf8 ? "+U8 " : "") + Quote(file)));
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return cache[key] = std::move(lines);
}

// The value dcmdump prints for the first occurrence of tag ("gggg,eeee", lower case): the
// text between the brackets, or the number after the VR for binary VRs; empty when absent.
std::string DumpValue(const fs::path& file, const std::string& tag) {
    // +U8 rewrites Specific Character Set to ISO_IR 192, so that one is read as stored.
    const bool toUtf8 = tag != "0008,0005";
    for (const std::string& line : DumpLines(file, toUtf8)) {
        const size_t at = line.find("(" + tag + ")");
        if (at == std::string::npos) continue;
        const std::string body = line.substr(at, line.find(" #", at) - at);
        const size_t open = body.find('[');
        if (open != std::string::npos) return body.substr(open + 1, body.rfind(']') - open - 1);
        if (body.size() < 15 || body.find("no value") != std::string::npos) return {};
        std::string value = body.substr(15);
        value.erase(value.find_last_not_of(' ') + 1);
        return value;
    }
    return {};
}

std::vector<double> DumpNumbers(const fs::path& file, const std::string& tag) {
    std::vector<double> numbers;
    std::stringstream in(DumpValue(file, tag));
    std::string item;
    while (std::getline(in, item, '\\'))
        numbers.push_back(std::stod(item));
    return numbers;
}

// Pixel data bytes as dcmdump writes them out.
const Bytes& DumpPixelBytes(const fs::path& file) {
    static std::map<std::string, Bytes> cache;
    const std::string key = CacheKey(file, "pixels");
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    const fs::path dir = test::ScratchDir("phantom_raw");
    test::RunCommand("dcmdump -q +W " + Quote(dir) + " " + Quote(file) + " >/dev/null");
    return cache[key] = ReadFile(dir / (file.filename().string() + ".0.raw"));
}

int32_t Sample16(const Bytes& bytes, size_t index, bool isSigned) {
    const auto value = static_cast<uint16_t>(bytes.at(2 * index) | (bytes.at(2 * index + 1) << 8));
    return isSigned ? static_cast<int16_t>(value) : value;
}

Bytes LittleEndian16(const std::vector<int16_t>& values) {
    Bytes bytes;
    for (int16_t value : values) {
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(value) & 0xFF));
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(value) >> 8));
    }
    return bytes;
}

fs::path WriteTestStudy(const std::string& name, VrEncoding encoding) {
    const fs::path dir = test::ScratchDir(name);
    PhantomOptions options;
    options.encoding = encoding;
    std::string error;
    EXPECT_TRUE(WriteStudy(dir, {true, true, true, true}, options, &error)) << error;
    return dir;
}

const fs::path& StudyDir(VrEncoding encoding) {
    static const fs::path explicitDir = WriteTestStudy("phantom_explicit", VrEncoding::kExplicit);
    static const fs::path implicitDir = WriteTestStudy("phantom_implicit", VrEncoding::kImplicit);
    return encoding == VrEncoding::kExplicit ? explicitDir : implicitDir;
}

const char* EncodingName(VrEncoding encoding) {
    return encoding == VrEncoding::kExplicit ? "Explicit" : "Implicit";
}

// ---------------------------------------------------------------------------------------------
// Element encoding against byte layouts assembled by hand from the standard's encoding rules.

struct EncodingCase {
    const char* name;
    VrEncoding encoding;
    std::function<void(CDataSetWriter&)> build;
    Bytes expected;
};

class PhantomEncodingTest : public testing::TestWithParam<EncodingCase> {};

TEST_P(PhantomEncodingTest, BytesMatchHandAssembledLayout) {
    const EncodingCase& c = GetParam();
    CDataSetWriter writer(c.encoding);
    c.build(writer);
    EXPECT_TRUE(writer.Ok()) << writer.Error();
    EXPECT_FALSE(writer.Open());
    EXPECT_EQ(writer.Bytes(), c.expected);
}

const EncodingCase kEncodingCases[] = {
    {"ShortVrPaddedWithSpace",
     VrEncoding::kExplicit,
     [](CDataSetWriter& w) { w.AddString(0x00100010, "PN", "Doe^J"); },
     {0x10, 0x00, 0x10, 0x00, 'P', 'N', 6, 0, 'D', 'o', 'e', '^', 'J', ' '}},
    {"UidPaddedWithNul",
     VrEncoding::kExplicit,
     [](CDataSetWriter& w) { w.AddString(0x00080016, "UI", "1.2.3"); },
     {0x08, 0x00, 0x16, 0x00, 'U', 'I', 6, 0, '1', '.', '2', '.', '3', 0}},
    {"LongVrHasReservedBytes",
     VrEncoding::kExplicit,
     [](CDataSetWriter& w) {
         w.AddRaw(0x00020001, "OB", Bytes{0, 1});
     },
     {0x02, 0x00, 0x01, 0x00, 'O', 'B', 0, 0, 2, 0, 0, 0, 0, 1}},
    {"OddRawGetsNulPad",
     VrEncoding::kExplicit,
     [](CDataSetWriter& w) { w.AddRaw(0x00091001, "UN", Bytes{7}); },
     {0x09, 0x00, 0x01, 0x10, 'U', 'N', 0, 0, 2, 0, 0, 0, 7, 0}},
    {"UnpaddedKeepsOddLength",
     VrEncoding::kImplicit,
     [](CDataSetWriter& w) {
         w.AddRawUnpadded(0x00100020, "LO", Bytes{'A', 'B', 'C'});
     },
     {0x10, 0x00, 0x20, 0x00, 3, 0, 0, 0, 'A', 'B', 'C'}},
    {"ImplicitUS",
     VrEncoding::kImplicit,
     [](CDataSetWriter& w) { w.AddUS(0x00280010, 512); },
     {0x28, 0x00, 0x10, 0x00, 2, 0, 0, 0, 0x00, 0x02}},
    {"ExplicitSSNegative",
     VrEncoding::kExplicit,
     [](CDataSetWriter& w) { w.AddSS(0x00280106, -2); },
     {0x28, 0x00, 0x06, 0x01, 'S', 'S', 2, 0, 0xFE, 0xFF}},
    {"ExplicitFDOne",
     VrEncoding::kExplicit,
     [](CDataSetWriter& w) { w.AddFD(0x00189087, 1.0); },
     {0x18, 0x00, 0x87, 0x90, 'F', 'D', 8, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
    {"ExplicitULAndAT",
     VrEncoding::kExplicit,
     [](CDataSetWriter& w) {
         w.AddAT(0x00280009, 0x00181063);
         w.AddUL(0x00081161, 0x01020304);
     },
     {0x28, 0x00, 0x09, 0x00, 'A', 'T', 4, 0, 0x18, 0x00, 0x63, 0x10,  // group, element
      0x08, 0x00, 0x61, 0x11, 'U', 'L', 4, 0, 4,    3,    2,    1}},
    {"DefinedLengthSequenceExplicit",
     VrEncoding::kExplicit,
     [](CDataSetWriter& w) {
         w.BeginSequence(0x00540016);
         w.BeginItem();
         w.AddUS(0x00280010, 1);
         w.EndItem();
         w.EndSequence();
     },
     {0x54, 0x00, 0x16, 0x00, 'S', 'Q', 0, 0, 18, 0, 0, 0,  // sequence, 18 bytes
      0xFE, 0xFF, 0x00, 0xE0, 10,  0,   0, 0,               // item, 10 bytes
      0x28, 0x00, 0x10, 0x00, 'U', 'S', 2, 0, 1,  0}},
    {"UndefinedLengthSequenceImplicit",
     VrEncoding::kImplicit,
     [](CDataSetWriter& w) {
         w.BeginSequence(0x00540016, true);
         w.BeginItem(true);
         w.AddUS(0x00280010, 1);
         w.EndItem();
         w.EndSequence();
     },
     {0x54, 0x00, 0x16, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0xE0, 0xFF, 0xFF,
      0xFF, 0xFF, 0x28, 0x00, 0x10, 0x00, 2,    0,    0,    0,    1,    0,    0xFE, 0xFF,
      0x0D, 0xE0, 0,    0,    0,    0,    0xFE, 0xFF, 0xDD, 0xE0, 0,    0,    0,    0}},
    {"EmptySequenceFromItems",
     VrEncoding::kExplicit,
     [](CDataSetWriter& w) { w.AddSequence(0x00540410, {}); },
     {0x54, 0x00, 0x10, 0x04, 'S', 'Q', 0, 0, 0, 0, 0, 0}},
};

INSTANTIATE_TEST_SUITE_P(Cases, PhantomEncodingTest, testing::ValuesIn(kEncodingCases),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(PhantomEncoding, MisuseIsReportedNotEncodedSilently) {
    const Bytes big(70000, 'A');
    CDataSetWriter tooLong;
    tooLong.AddString(0x00100010, "LO", std::string(big.begin(), big.end()));
    EXPECT_FALSE(tooLong.Ok());

    CDataSetWriter unbalanced;
    unbalanced.EndItem();
    EXPECT_FALSE(unbalanced.Ok());

    CDataSetWriter open;
    open.BeginSequence(0x00540016);
    EXPECT_TRUE(open.Ok());
    EXPECT_TRUE(open.Open());
    std::string error;
    EXPECT_FALSE(
        WriteDicomFile(test::ScratchDir("phantom_misuse") / "x.dcm", FileMeta{}, open, &error));
    EXPECT_FALSE(error.empty());
}

TEST(PhantomEncoding, FileHeaderHasPreamblePrefixAndGroupLength) {
    FileMeta meta;
    meta.sopClassUid = "1.2.840.10008.5.1.4.1.1.7";
    meta.sopInstanceUid = "1.2.3.4";
    const Bytes header = BuildFileHeader(meta, VrEncoding::kImplicit);
    ASSERT_GT(header.size(), 144u);
    EXPECT_EQ(Bytes(header.begin(), header.begin() + 128), Bytes(128, 0));
    EXPECT_EQ(std::string(header.begin() + 128, header.begin() + 132), "DICM");
    const Bytes lengthHeader = {0x02, 0x00, 0x00, 0x00, 'U', 'L', 4, 0};
    EXPECT_EQ(Bytes(header.begin() + 132, header.begin() + 140), lengthHeader);
    const uint32_t groupLength =
        header[140] | (header[141] << 8) | (header[142] << 16) | (uint32_t(header[143]) << 24);
    EXPECT_EQ(groupLength, header.size() - 144);
}

// Hand-built files with nested sequences of both length kinds, read back by DCMTK.
class PhantomHandBuiltTest : public testing::TestWithParam<std::tuple<VrEncoding, bool>> {};

TEST_P(PhantomHandBuiltTest, DcmdumpReadsNestedSequences) {
    PHANTOM_REQUIRE_PROGRAM("dcmdump");
    const auto [encoding, undefinedLength] = GetParam();
    CDataSetWriter writer(encoding);
    writer.AddString(0x00080016, "UI", "1.2.840.10008.5.1.4.1.1.7");
    writer.AddString(0x00080018, "UI", "1.2.3.4.5");
    writer.AddString(0x00100010, "PN", "Hand^Built");
    writer.BeginSequence(0x00540016, undefinedLength);
    writer.BeginItem(undefinedLength);
    writer.AddString(0x00181074, "DS", "123");
    writer.BeginSequence(0x00540300, !undefinedLength);
    writer.BeginItem(!undefinedLength);
    writer.AddString(0x00080100, "SH", "C-111A1");
    writer.EndItem();
    writer.EndSequence();
    writer.EndItem();
    writer.EndSequence();
    writer.AddUS(0x00540081, 7);
    FileMeta meta{"1.2.840.10008.5.1.4.1.1.7", "1.2.3.4.5", "", kImplementationClassUid, "X"};
    const fs::path file =
        test::ScratchDir("phantom_handbuilt") /
        (std::string(EncodingName(encoding)) + (undefinedLength ? "U" : "D") + ".dcm");
    std::string error;
    ASSERT_TRUE(WriteDicomFile(file, meta, writer, &error)) << error;

    int code = 0;
    const std::string warnings =
        test::RunCommand("dcmdump " + Quote(file) + " 2>&1 >/dev/null", &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(warnings, "");
    EXPECT_EQ(DumpValue(file, "0018,1074"), "123");
    EXPECT_EQ(DumpValue(file, "0008,0100"), "C-111A1");
    EXPECT_EQ(DumpValue(file, "0054,0081"), "7");  // after the sequence: lengths were right
    EXPECT_EQ(DumpValue(file, "0002,0010"),
              encoding == VrEncoding::kExplicit ? "1.2.840.10008.1.2.1" : "1.2.840.10008.1.2");
}

INSTANTIATE_TEST_SUITE_P(Kinds, PhantomHandBuiltTest,
                         testing::Combine(testing::Values(VrEncoding::kExplicit,
                                                          VrEncoding::kImplicit),
                                          testing::Bool()),
                         [](const auto& testInfo) {
                             return std::string(EncodingName(std::get<0>(testInfo.param))) +
                                    (std::get<1>(testInfo.param) ? "Undefined" : "Defined");
                         });

// ---------------------------------------------------------------------------------------------
// The study's attributes as DCMTK reads them.

struct AttributeCase {
    const char* name;
    const char* file;
    const char* tag;
    std::string expected;
};

class PhantomAttributeTest : public testing::TestWithParam<std::tuple<AttributeCase, VrEncoding>> {
};

TEST_P(PhantomAttributeTest, DcmdumpShowsIntendedValue) {
    PHANTOM_REQUIRE_PROGRAM("dcmdump");
    const auto& [c, encoding] = GetParam();
    EXPECT_EQ(DumpValue(StudyDir(encoding) / c.file, c.tag), c.expected);
}

const std::string R = kRoot;
const AttributeCase kAttributeCases[] = {
    {"CtCharset", "CT/CT0001.dcm", "0008,0005", "ISO_IR 100"},
    {"CtSopClass", "CT/CT0001.dcm", "0008,0016", "1.2.840.10008.5.1.4.1.1.2"},
    {"CtSopInstance", "CT/CT0001.dcm", "0008,0018", R + ".4.1.1"},
    {"CtMetaInstance", "CT/CT0001.dcm", "0002,0003", R + ".4.1.1"},
    {"CtModality", "CT/CT0001.dcm", "0008,0060", "CT"},
    {"CtPatientName", "CT/CT0001.dcm", "0010,0010", "Müller^Jürgen"},
    {"CtStudyDescription", "CT/CT0001.dcm", "0008,1030", "Thorax-Abdomen Übersicht"},
    {"CtPatientId", "CT/CT0001.dcm", "0010,0020", "PHANTOM001"},
    {"CtBirthDate", "CT/CT0001.dcm", "0010,0030", "19650412"},
    {"CtSex", "CT/CT0001.dcm", "0010,0040", "M"},
    {"CtStudyDate", "CT/CT0001.dcm", "0008,0020", "20240315"},
    {"CtStudyUid", "CT/CT0001.dcm", "0020,000d", R + ".1"},
    {"CtSeriesUid", "CT/CT0001.dcm", "0020,000e", R + ".2.1"},
    {"CtFrameOfReference", "CT/CT0001.dcm", "0020,0052", R + ".3"},
    {"CtManufacturer", "CT/CT0001.dcm", "0008,0070", "Vexel"},
    {"CtFirstPosition", "CT/CT0001.dcm", "0020,0032", "-102\\-102\\-99.375"},
    {"CtLastPosition", "CT/CT0160.dcm", "0020,0032", "-102\\-102\\99.375"},
    {"CtLastInstance", "CT/CT0160.dcm", "0020,0013", "160"},
    {"CtLastSliceLocation", "CT/CT0160.dcm", "0020,1041", "99.375"},
    {"CtOrientation", "CT/CT0001.dcm", "0020,0037", "1\\0\\0\\0\\1\\0"},
    {"CtPixelSpacing", "CT/CT0001.dcm", "0028,0030", "0.8\\0.8"},
    {"CtThickness", "CT/CT0001.dcm", "0018,0050", "1.25"},
    {"CtSpacing", "CT/CT0001.dcm", "0018,0088", "1.25"},
    {"CtRows", "CT/CT0001.dcm", "0028,0010", "256"},
    {"CtBitsStored", "CT/CT0001.dcm", "0028,0101", "16"},
    {"CtSigned", "CT/CT0001.dcm", "0028,0103", "1"},
    {"CtIntercept", "CT/CT0001.dcm", "0028,1052", "-1024"},
    {"CtSlope", "CT/CT0001.dcm", "0028,1053", "1"},
    {"CtWindowCenter", "CT/CT0001.dcm", "0028,1050", "40\\-600"},
    {"PetSopClass", "PT/PT0001.dcm", "0008,0016", "1.2.840.10008.5.1.4.1.1.128"},
    {"PetModality", "PT/PT0001.dcm", "0008,0060", "PT"},
    {"PetSeriesUid", "PT/PT0001.dcm", "0020,000e", R + ".2.2"},
    {"PetFrameOfReference", "PT/PT0001.dcm", "0020,0052", R + ".3"},
    {"PetStudyUid", "PT/PT0080.dcm", "0020,000d", R + ".1"},
    {"PetRows", "PT/PT0001.dcm", "0028,0010", "128"},
    {"PetPosition", "PT/PT0001.dcm", "0020,0032", "-101.6\\-101.6\\-98.75"},
    {"PetPixelSpacing", "PT/PT0001.dcm", "0028,0030", "1.6\\1.6"},
    {"PetUnits", "PT/PT0001.dcm", "0054,1001", "BQML"},
    {"PetDecayCorrection", "PT/PT0001.dcm", "0054,1102", "START"},
    {"PetCorrected", "PT/PT0001.dcm", "0028,0051", "ATTN\\DECY"},
    {"PetWeight", "PT/PT0001.dcm", "0010,1030", "75"},
    {"PetSize", "PT/PT0001.dcm", "0010,1020", "1.8"},
    {"PetSeriesTime", "PT/PT0001.dcm", "0008,0031", "100000"},
    {"PetAcquisitionTime", "PT/PT0001.dcm", "0008,0032", "100000"},
    {"PetTracer", "PT/PT0001.dcm", "0018,0031", "Fluorodeoxyglucose"},
    {"PetDose", "PT/PT0001.dcm", "0018,1074", "370000000"},
    {"PetHalfLife", "PT/PT0001.dcm", "0018,1075", "6586.2"},
    {"PetStartTime", "PT/PT0001.dcm", "0018,1072", "090000"},
    {"PetStartDateTime", "PT/PT0001.dcm", "0018,1078", "20240315090000"},
    {"PetUnsigned", "PT/PT0001.dcm", "0028,0103", "0"},
    {"MfFrames", "MF/MF0001.dcm", "0028,0008", "10"},
    {"MfIncrementPointer", "MF/MF0001.dcm", "0028,0009", "(0018,1063)"},
    {"MfSeriesUid", "MF/MF0001.dcm", "0020,000e", R + ".2.3"},
    {"RgbSamples", "RGB/RGB0001.dcm", "0028,0002", "3"},
    {"RgbPhotometric", "RGB/RGB0001.dcm", "0028,0004", "RGB"},
    {"RgbPlanar", "RGB/RGB0001.dcm", "0028,0006", "0"},
    {"RgbBits", "RGB/RGB0001.dcm", "0028,0100", "8"},
};

INSTANTIATE_TEST_SUITE_P(Study, PhantomAttributeTest,
                         testing::Combine(testing::ValuesIn(kAttributeCases),
                                          testing::Values(VrEncoding::kExplicit,
                                                          VrEncoding::kImplicit)),
                         [](const auto& testInfo) {
                             return std::string(std::get<0>(testInfo.param).name) +
                                    EncodingName(std::get<1>(testInfo.param));
                         });

// Both encodings carry the same elements and pixels; only the meta group's syntax differs.
// Implicit VR gives 8-bit Pixel Data the dictionary's OW, so its line is compared by tag;
// the pixel bytes are compared on their own.
std::vector<std::string> DataSetLines(const fs::path& file) {
    std::vector<std::string> lines;
    for (std::string line : DumpLines(file, false)) {
        if (line.rfind("(0002,", 0) == 0 || line.rfind("# ", 0) == 0 || line.empty()) continue;
        line = line.substr(0, line.find(" #"));
        line.erase(line.find_last_not_of(' ') + 1);
        if (line.rfind("(7fe0,0010)", 0) == 0) line = "(7fe0,0010)";
        lines.push_back(line);
    }
    return lines;
}

class PhantomSyntaxTest : public testing::TestWithParam<const char*> {};

TEST_P(PhantomSyntaxTest, ImplicitAndExplicitCarrySameElements) {
    PHANTOM_REQUIRE_PROGRAM("dcmdump");
    const fs::path explicitFile = StudyDir(VrEncoding::kExplicit) / GetParam();
    const fs::path implicitFile = StudyDir(VrEncoding::kImplicit) / GetParam();
    const std::vector<std::string> explicitLines = DataSetLines(explicitFile);
    EXPECT_GT(explicitLines.size(), 30u);
    EXPECT_EQ(DataSetLines(implicitFile), explicitLines);
    EXPECT_EQ(DumpPixelBytes(implicitFile), DumpPixelBytes(explicitFile));
    EXPECT_EQ(DumpValue(explicitFile, "0002,0010"), "1.2.840.10008.1.2.1");
    EXPECT_EQ(DumpValue(implicitFile, "0002,0010"), "1.2.840.10008.1.2");
    int code = 0;
    EXPECT_EQ(test::RunCommand("dcmdump " + Quote(implicitFile) + " 2>&1 >/dev/null", &code), "");
    EXPECT_EQ(code, 0);
}

INSTANTIATE_TEST_SUITE_P(Files, PhantomSyntaxTest,
                         testing::Values("CT/CT0001.dcm", "CT/CT0080.dcm", "PT/PT0040.dcm",
                                         "MF/MF0001.dcm", "RGB/RGB0001.dcm"),
                         [](const auto& testInfo) {
                             std::string name = fs::path(testInfo.param).stem().string();
                             return name;
                         });

// ---------------------------------------------------------------------------------------------
// Pixels at points whose CT number and SUV the phantom's design fixes, found through the
// geometry that DCMTK reads from the files.

struct SeriesGeometry {
    double x0 = 0, y0 = 0, z0 = 0;
    double pixelSpacing = 0, sliceSpacing = 0;
    int columns = 0, rows = 0, slices = 0;
};

SeriesGeometry ReadGeometry(const fs::path& seriesDir, const std::string& prefix) {
    const fs::path first = seriesDir / (prefix + "0001.dcm");
    SeriesGeometry g;
    const std::vector<double> position = DumpNumbers(first, "0020,0032");
    const std::vector<double> spacing = DumpNumbers(first, "0028,0030");
    if (position.size() != 3 || spacing.size() != 2) {
        ADD_FAILURE() << "no geometry in " << first;
        return g;
    }
    g.x0 = position[0];
    g.y0 = position[1];
    g.z0 = position[2];
    g.pixelSpacing = spacing[1];  // column spacing: along x
    g.sliceSpacing = DumpNumbers(first, "0018,0088").at(0);
    g.columns = std::stoi(DumpValue(first, "0028,0011"));
    g.rows = std::stoi(DumpValue(first, "0028,0010"));
    g.slices = static_cast<int>(
        std::distance(fs::directory_iterator(seriesDir), fs::directory_iterator()));
    return g;
}

fs::path SliceFile(const fs::path& seriesDir, const std::string& prefix, int slice) {
    char name[32];
    std::snprintf(name, sizeof name, "%04d.dcm", slice + 1);
    return seriesDir / (prefix + name);
}

struct Voxel {
    fs::path file;
    size_t index = 0;
};

Voxel NearestVoxel(const fs::path& seriesDir, const std::string& prefix, double x, double y,
                   double z) {
    const SeriesGeometry g = ReadGeometry(seriesDir, prefix);
    const auto column = std::lround((x - g.x0) / g.pixelSpacing);
    const auto row = std::lround((y - g.y0) / g.pixelSpacing);
    const auto slice = static_cast<int>(std::lround((z - g.z0) / g.sliceSpacing));
    Voxel voxel{SliceFile(seriesDir, prefix, slice),
                size_t(row) * size_t(g.columns) + size_t(column)};
    // The file with that number must really lie at that height.
    EXPECT_NEAR(DumpNumbers(voxel.file, "0020,0032").at(2), g.z0 + slice * g.sliceSpacing, 1e-6);
    return voxel;
}

double SecondsOfDay(const std::string& time) {
    return std::stoi(time.substr(0, 2)) * 3600 + std::stoi(time.substr(2, 2)) * 60 +
           std::stod(time.substr(4));
}

// SUVbw written out plainly: Bq/ml x weight in g / dose decayed from injection to series time.
double SuvFromFile(const fs::path& file, size_t index) {
    EXPECT_EQ(DumpValue(file, "0054,1001"), "BQML");
    EXPECT_EQ(DumpValue(file, "0054,1102"), "START");
    const double dose = std::stod(DumpValue(file, "0018,1074"));
    const double halfLife = std::stod(DumpValue(file, "0018,1075"));
    const double weightKg = std::stod(DumpValue(file, "0010,1030"));
    const double elapsed =
        SecondsOfDay(DumpValue(file, "0008,0031")) - SecondsOfDay(DumpValue(file, "0018,1072"));
    const double slope = std::stod(DumpValue(file, "0028,1053"));
    const double intercept = std::stod(DumpValue(file, "0028,1052"));
    const double bqPerMl = Sample16(DumpPixelBytes(file), index, false) * slope + intercept;
    return bqPerMl * weightKg * 1000 / (dose * std::pow(2.0, -elapsed / halfLife));
}

struct PointCase {
    const char* name;
    double x, y, z;
    double hu;
    double suv;
};

const PointCase kPoints[] = {
    {"Water", 0, 0, 0, 0, 1.0},
    {"AirInsideField", 0, 90, 0, -1000, 0},
    {"OutsideField", -100, -100, 0, -3024, 0},
    // The rods run through every slice, the first and the last included.
    {"FirstSliceBody", 0, 0, -99.375, 0, 1.0},
    {"LastSliceBone", -45, 0, 99.375, 1000, 1.0},
    {"Bone", -45, 0, 10, 1000, 1.0},
    {"HotSphere", 40, 0, 0, 300, 4.0},
    {"ColdSphere", 0, -40, -30, 60, 0.2},
    {"Fat", 0, 45, 30, -100, 1.0},
    {"Lung", 30, 40, -50, -800, 1.0},
};

class PhantomPointTest : public testing::TestWithParam<std::tuple<PointCase, VrEncoding>> {};

TEST_P(PhantomPointTest, CtNumberAtPoint) {
    PHANTOM_REQUIRE_PROGRAM("dcmdump");
    const auto& [point, encoding] = GetParam();
    const Voxel voxel = NearestVoxel(StudyDir(encoding) / "CT", "CT", point.x, point.y, point.z);
    const double slope = std::stod(DumpValue(voxel.file, "0028,1053"));
    const double intercept = std::stod(DumpValue(voxel.file, "0028,1052"));
    const int32_t stored = Sample16(DumpPixelBytes(voxel.file), voxel.index, true);
    EXPECT_EQ(stored * slope + intercept, point.hu) << voxel.file;
}

TEST_P(PhantomPointTest, SuvAtPoint) {
    PHANTOM_REQUIRE_PROGRAM("dcmdump");
    const auto& [point, encoding] = GetParam();
    const Voxel voxel = NearestVoxel(StudyDir(encoding) / "PT", "PT", point.x, point.y, point.z);
    EXPECT_NEAR(SuvFromFile(voxel.file, voxel.index), point.suv, 1e-9) << voxel.file;
}

INSTANTIATE_TEST_SUITE_P(Points, PhantomPointTest,
                         testing::Combine(testing::ValuesIn(kPoints),
                                          testing::Values(VrEncoding::kExplicit,
                                                          VrEncoding::kImplicit)),
                         [](const auto& testInfo) {
                             return std::string(std::get<0>(testInfo.param).name) +
                                    EncodingName(std::get<1>(testInfo.param));
                         });

// Every voxel of chosen slices agrees with the analytic phantom at the centre that the file's
// own geometry gives it: later tests rely on comparing against the phantom this way.
class PhantomSliceTest : public testing::TestWithParam<std::tuple<const char*, int>> {};

TEST_P(PhantomSliceTest, EveryVoxelMatchesAnalyticPhantom) {
    PHANTOM_REQUIRE_PROGRAM("dcmdump");
    const auto [prefix, slice] = GetParam();
    const bool isCt = std::string(prefix) == "CT";
    const fs::path seriesDir = StudyDir(VrEncoding::kExplicit) / prefix;
    const SeriesGeometry g = ReadGeometry(seriesDir, prefix);
    const fs::path file = SliceFile(seriesDir, prefix, slice);
    const double z = DumpNumbers(file, "0020,0032").at(2);
    const double slope = std::stod(DumpValue(file, "0028,1053"));
    const double intercept = std::stod(DumpValue(file, "0028,1052"));
    const Bytes pixels = DumpPixelBytes(file);
    ASSERT_EQ(pixels.size(), size_t(g.columns) * size_t(g.rows) * 2);

    const PhantomOptions options;
    const CAnalyticPhantom phantom = MakePhantom(options);
    const double background = PetBackgroundBqPerMl(options);
    int mismatches = 0;
    for (int row = 0; row < g.rows; ++row) {
        for (int column = 0; column < g.columns; ++column) {
            const Vec3 p{g.x0 + column * g.pixelSpacing, g.y0 + row * g.pixelSpacing, z};
            const size_t index = size_t(row) * size_t(g.columns) + size_t(column);
            const double value = Sample16(pixels, index, isCt) * slope + intercept;
            const double expected = isCt ? phantom.HuAt(p) : phantom.SuvAt(p) * background;
            if (std::abs(value - expected) > 1e-6 * std::max(1.0, std::abs(expected))) {
                if (++mismatches == 1)
                    ADD_FAILURE() << file << " column " << column << " row " << row << ": " << value
                                  << " != " << expected;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
    if (isCt) {
        EXPECT_EQ(LittleEndian16(CtSliceStored(options, slice)), pixels);
    }
}

INSTANTIATE_TEST_SUITE_P(Slices, PhantomSliceTest,
                         testing::Values(std::make_tuple("CT", 0), std::make_tuple("CT", 40),
                                         std::make_tuple("CT", 79), std::make_tuple("CT", 100),
                                         std::make_tuple("CT", 159), std::make_tuple("PT", 20),
                                         std::make_tuple("PT", 39), std::make_tuple("PT", 50)),
                         [](const auto& testInfo) {
                             return std::string(std::get<0>(testInfo.param)) +
                                    std::to_string(std::get<1>(testInfo.param));
                         });

TEST(PhantomPixels, PetSlopeFollowsEachSlice) {
    PHANTOM_REQUIRE_PROGRAM("dcmdump");
    const fs::path dir = StudyDir(VrEncoding::kExplicit) / "PT";
    // Slice 39 holds the hot sphere, slice 70 only background: a shared scale would waste
    // three quarters of the range on one of them.
    const double hotSlope = std::stod(DumpValue(dir / "PT0040.dcm", "0028,1053"));
    const double plainSlope = std::stod(DumpValue(dir / "PT0071.dcm", "0028,1053"));
    EXPECT_NEAR(hotSlope / plainSlope, 4.0, 1e-9);
}

TEST(PhantomPixels, MultiFrameHoldsCtSlicesInOrder) {
    PHANTOM_REQUIRE_PROGRAM("dcmdump");
    const fs::path dir = StudyDir(VrEncoding::kExplicit);
    const Bytes frames = DumpPixelBytes(dir / "MF" / "MF0001.dcm");
    const size_t frameBytes = 256 * 256 * 2;
    ASSERT_EQ(frames.size(), 10 * frameBytes);
    for (int frame = 0; frame < 10; ++frame) {
        const int slice = frame * 16;  // ten frames spread over 160 slices
        EXPECT_EQ(MultiFrameSourceSlice(PhantomOptions{}, frame), slice);
        const Bytes ct = DumpPixelBytes(SliceFile(dir / "CT", "CT", slice));
        EXPECT_TRUE(std::equal(ct.begin(), ct.end(), frames.begin() + frame * frameBytes))
            << "frame " << frame;
    }
}

// dcm2pnm decodes the RGB file through DCMTK's own image pipeline into a binary PPM.
Bytes DecodeRgb(const fs::path& file, int* columns, int* rows) {
    const fs::path ppm = test::ScratchDir("phantom_ppm") / "rgb.ppm";
    test::RunCommand("dcm2pnm +op " + Quote(file) + " " + Quote(ppm));
    std::ifstream in(ppm, std::ios::binary);
    std::string magic;
    int maxValue = 0;
    in >> magic >> *columns >> *rows >> maxValue;
    in.get();
    if (magic != "P6" || maxValue != 255) return {};
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(PhantomPixels, RgbChannelsDecodeAsDesigned) {
    PHANTOM_REQUIRE_PROGRAM("dcm2pnm");
    int columns = 0, rows = 0;
    const Bytes rgb =
        DecodeRgb(StudyDir(VrEncoding::kExplicit) / "RGB" / "RGB0001.dcm", &columns, &rows);
    ASSERT_EQ(columns, 256);
    ASSERT_EQ(rows, 256);
    ASSERT_EQ(rgb.size(), size_t(256 * 256 * 3));
    auto at = [&](int column, int row) {
        const size_t i = (size_t(row) * 256 + size_t(column)) * 3;
        return std::array<int, 3>{rgb[i], rgb[i + 1], rgb[i + 2]};
    };
    // R: middle CT slice in window 40/400; G and B: column and row ramps.
    EXPECT_EQ(at(0, 0), (std::array<int, 3>{0, 0, 0}));            // outside the field
    EXPECT_EQ(at(255, 255), (std::array<int, 3>{0, 255, 255}));    // outside the field
    EXPECT_EQ(at(128, 128), (std::array<int, 3>{102, 128, 128}));  // water: 160/400 x 255
    EXPECT_EQ(at(177, 127), (std::array<int, 3>{255, 177, 127}));  // hot sphere, 300 HU
    EXPECT_EQ(at(128, 12), (std::array<int, 3>{0, 128, 12}));      // air inside the field
    const PhantomOptions options;
    int mismatches = 0;
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column) {
            const std::array<uint8_t, 3> expected = RgbPixel(options, column, row);
            const auto got = at(column, row);
            mismatches += got[0] != expected[0] || got[1] != expected[1] || got[2] != expected[2];
        }
    EXPECT_EQ(mismatches, 0);
}

// ---------------------------------------------------------------------------------------------
// Character sets, folders and the command line.

PhantomOptions SmallOptions() {
    PhantomOptions options;
    options.columns = 16;
    options.rows = 12;
    options.slices = 4;
    return options;
}

TEST(PhantomText, Utf8StudyNamesPatientInUnicode) {
    PHANTOM_REQUIRE_PROGRAM("dcmdump");
    PhantomOptions options = SmallOptions();
    options.charset = TextCharset::kUtf8;
    const fs::path dir = test::ScratchDir("phantom_utf8");
    std::string error;
    ASSERT_TRUE(WriteCtSeries(dir / "CT", options, &error)) << error;
    const fs::path file = dir / "CT" / "CT0001.dcm";
    EXPECT_EQ(DumpValue(file, "0008,0005"), "ISO_IR 192");
    EXPECT_EQ(DumpValue(file, "0010,0010"), "Yamada^Tarou=山田^太郎=やまだ^たろう");
    EXPECT_EQ(DumpValue(file, "0008,1030"), "胸部 CT Θώρακας");
}

TEST(PhantomText, Latin1NameIsStoredAsSingleBytes) {
    const fs::path dir = test::ScratchDir("phantom_latin1");
    std::string error;
    ASSERT_TRUE(WriteCtSeries(dir / "CT", SmallOptions(), &error)) << error;
    const Bytes bytes = ReadFile(dir / "CT" / "CT0001.dcm");
    static const char kName[] = "PN\x0e\x00M\xFCller^J\xFCrgen";  // VR, length 14, ISO 8859-1
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find(std::string(kName, sizeof kName - 1)), std::string::npos);
}

std::vector<std::string> Listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(PhantomFolders, RewriteReplacesSeriesAndLeavesNoStaging) {
    const fs::path dir = test::ScratchDir("phantom_rewrite");
    PhantomOptions options = SmallOptions();
    options.slices = 6;
    std::string error;
    ASSERT_TRUE(WriteCtSeries(dir / "CT", options, &error)) << error;
    options.slices = 3;
    ASSERT_TRUE(WriteCtSeries(dir / "CT", options, &error)) << error;
    EXPECT_EQ(Listing(dir), std::vector<std::string>{"CT"});
    EXPECT_EQ(Listing(dir / "CT"),
              (std::vector<std::string>{"CT0001.dcm", "CT0002.dcm", "CT0003.dcm"}));
}

TEST(PhantomFolders, FailuresAreReportedWithReason) {
    const fs::path dir = test::ScratchDir("phantom_failures");
    std::ofstream(dir / "file") << "x";
    std::string error;
    EXPECT_FALSE(WriteCtSeries(dir / "file" / "CT", SmallOptions(), &error));
    EXPECT_FALSE(error.empty());

    PhantomOptions bad = SmallOptions();
    bad.columns = 0;
    error.clear();
    EXPECT_FALSE(WritePetSeries(dir / "PT", bad, &error));
    EXPECT_FALSE(error.empty());
    bad = SmallOptions();
    bad.uidRoot = "1.2.x";
    EXPECT_FALSE(WriteStudy(dir, {}, bad, &error));
    bad = SmallOptions();
    bad.uidRoot = std::string(60, '1');
    EXPECT_FALSE(WriteStudy(dir, {}, bad, &error));
    EXPECT_EQ(Listing(dir), std::vector<std::string>{"file"});
}

TEST(PhantomCommandLine, WritesChosenSeriesAndRejectsBadFlags) {
    const fs::path program = test::BinaryDir() / "bin" / "phantom";
    if (!fs::exists(program)) GTEST_SKIP() << program << " not built";
    const fs::path dir = test::ScratchDir("phantom_cli");
    int code = -1;
    test::RunCommand(Quote(program) + " --help", &code);
    EXPECT_EQ(code, 0);
    test::RunCommand(Quote(program) + " --out " + Quote(dir) + " --size 8x8 2>/dev/null", &code);
    EXPECT_EQ(code, 2);
    test::RunCommand(Quote(program) + " --out " + Quote(dir) +
                         " --quiet --pet --rgb --size 16x16x6 --syntax implicit",
                     &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Listing(dir), (std::vector<std::string>{"PT", "RGB"}));
    EXPECT_EQ(Listing(dir / "PT").size(), 3u);
}

}  // namespace
}  // namespace vexel::phantom
