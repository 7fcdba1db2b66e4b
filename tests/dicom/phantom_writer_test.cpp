// The phantom writer checked from outside: hand-assembled byte layouts for the element encoder,
// DCMTK (dcmdump, dcm2pnm) for the files, and CT numbers and SUVs known from the phantom's
// design for the pixels.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "phantom/data_set_writer.h"
#include "phantom/part10_writer.h"
#include "phantom/phantom_writer.h"
#include "support/test_paths.h"

namespace vexel::phantom {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr const char* kRoot = "2.25.271828182845904523536028747135";

#define PHANTOM_REQUIRE_PROGRAM(name)                                                   \
    do {                                                                                \
        if (!::vexel::test::HaveProgram(name)) GTEST_SKIP() << name " is not on PATH";  \
    } while (0)

std::string Quote(const fs::path& path) { return "'" + path.string() + "'"; }

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The value dcmdump prints for the first occurrence of tag: the text between the brackets,
// or the number after the VR for binary VRs; empty when absent.
std::string DumpValue(const fs::path& file, const std::string& tag) {
    const std::string out = test::RunCommand("dcmdump -q -Un +U8 -s +P " + tag + " " + Quote(file));
    const std::string line = out.substr(0, out.find('\n'));
    const size_t hash = line.find(" #");
    const std::string body = line.substr(0, hash);
    const size_t open = body.find('[');
    if (open != std::string::npos) return body.substr(open + 1, body.rfind(']') - open - 1);
    if (body.size() < 15 || body.find("no value") != std::string::npos) return {};
    std::string value = body.substr(15);
    value.erase(value.find_last_not_of(' ') + 1);
    return value;
}

std::vector<double> DumpNumbers(const fs::path& file, const std::string& tag) {
    std::vector<double> numbers;
    std::stringstream in(DumpValue(file, tag));
    std::string item;
    while (std::getline(in, item, '\\')) numbers.push_back(std::stod(item));
    return numbers;
}

// Pixel data bytes as dcmdump writes them out.
Bytes DumpPixelBytes(const fs::path& file) {
    const fs::path dir = test::ScratchDir("phantom_raw");
    test::RunCommand("dcmdump -q +W " + Quote(dir) + " " + Quote(file) + " >/dev/null");
    return ReadFile(dir / (file.filename().string() + ".0.raw"));
}

int32_t Sample16(const Bytes& bytes, size_t index, bool isSigned) {
    const auto value = static_cast<uint16_t>(bytes.at(2 * index) | (bytes.at(2 * index + 1) << 8));
    return isSigned ? static_cast<int16_t>(value) : value;
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
    {"ShortVrPaddedWithSpace", VrEncoding::kExplicit,
     [](CDataSetWriter& w) { w.AddString(0x00100010, "PN", "Doe^J"); },
     {0x10, 0x00, 0x10, 0x00, 'P', 'N', 6, 0, 'D', 'o', 'e', '^', 'J', ' '}},
    {"UidPaddedWithNul", VrEncoding::kExplicit,
     [](CDataSetWriter& w) { w.AddString(0x00080016, "UI", "1.2.3"); },
     {0x08, 0x00, 0x16, 0x00, 'U', 'I', 6, 0, '1', '.', '2', '.', '3', 0}},
    {"LongVrHasReservedBytes", VrEncoding::kExplicit,
     [](CDataSetWriter& w) { w.AddRaw(0x00020001, "OB", Bytes{0, 1}); },
     {0x02, 0x00, 0x01, 0x00, 'O', 'B', 0, 0, 2, 0, 0, 0, 0, 1}},
    {"OddRawGetsNulPad", VrEncoding::kExplicit,
     [](CDataSetWriter& w) { w.AddRaw(0x00091001, "UN", Bytes{7}); },
     {0x09, 0x00, 0x01, 0x10, 'U', 'N', 0, 0, 2, 0, 0, 0, 7, 0}},
    {"UnpaddedKeepsOddLength", VrEncoding::kImplicit,
     [](CDataSetWriter& w) { w.AddRawUnpadded(0x00100020, "LO", Bytes{'A', 'B', 'C'}); },
     {0x10, 0x00, 0x20, 0x00, 3, 0, 0, 0, 'A', 'B', 'C'}},
    {"ImplicitUS", VrEncoding::kImplicit, [](CDataSetWriter& w) { w.AddUS(0x00280010, 512); },
     {0x28, 0x00, 0x10, 0x00, 2, 0, 0, 0, 0x00, 0x02}},
    {"ExplicitSSNegative", VrEncoding::kExplicit,
     [](CDataSetWriter& w) { w.AddSS(0x00280106, -2); },
     {0x28, 0x00, 0x06, 0x01, 'S', 'S', 2, 0, 0xFE, 0xFF}},
    {"ExplicitFDOne", VrEncoding::kExplicit, [](CDataSetWriter& w) { w.AddFD(0x00189087, 1.0); },
     {0x18, 0x00, 0x87, 0x90, 'F', 'D', 8, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
    {"ExplicitULAndAT", VrEncoding::kExplicit,
     [](CDataSetWriter& w) {
         w.AddAT(0x00280009, 0x00181063);
         w.AddUL(0x00081161, 0x01020304);
     },
     {0x28, 0x00, 0x09, 0x00, 'A', 'T', 4, 0, 0x18, 0x00, 0x63, 0x10,  // group, element
      0x08, 0x00, 0x61, 0x11, 'U', 'L', 4, 0, 4, 3, 2, 1}},
    {"DefinedLengthSequenceExplicit", VrEncoding::kExplicit,
     [](CDataSetWriter& w) {
         w.BeginSequence(0x00540016);
         w.BeginItem();
         w.AddUS(0x00280010, 1);
         w.EndItem();
         w.EndSequence();
     },
     {0x54, 0x00, 0x16, 0x00, 'S', 'Q', 0, 0, 18, 0, 0, 0,  // sequence, 18 bytes
      0xFE, 0xFF, 0x00, 0xE0, 10, 0, 0, 0,                  // item, 10 bytes
      0x28, 0x00, 0x10, 0x00, 'U', 'S', 2, 0, 1, 0}},
    {"UndefinedLengthSequenceImplicit", VrEncoding::kImplicit,
     [](CDataSetWriter& w) {
         w.BeginSequence(0x00540016, true);
         w.BeginItem(true);
         w.AddUS(0x00280010, 1);
         w.EndItem();
         w.EndSequence();
     },
     {0x54, 0x00, 0x16, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0xE0, 0xFF, 0xFF, 0xFF,
      0xFF, 0x28, 0x00, 0x10, 0x00, 2,    0,    0,    0,    1,    0,    0xFE, 0xFF, 0x0D, 0xE0,
      0,    0,    0,    0,    0xFE, 0xFF, 0xDD, 0xE0, 0,    0,    0,    0}},
    {"EmptySequenceFromItems", VrEncoding::kExplicit,
     [](CDataSetWriter& w) { w.AddSequence(0x00540410, {}); },
     {0x54, 0x00, 0x10, 0x04, 'S', 'Q', 0, 0, 0, 0, 0, 0}},
};

INSTANTIATE_TEST_SUITE_P(Cases, PhantomEncodingTest, testing::ValuesIn(kEncodingCases),
                         [](const auto& info) { return std::string(info.param.name); });

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
    EXPECT_FALSE(WritePart10File(test::ScratchDir("phantom_misuse") / "x.dcm", FileMeta{}, open,
                                 &error));
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
    writer.AddUS(0x00280010, 7);
    FileMeta meta{"1.2.840.10008.5.1.4.1.1.7", "1.2.3.4.5", "", kImplementationClassUid, "X"};
    const fs::path file = test::ScratchDir("phantom_handbuilt") / "hand.dcm";
    std::string error;
    ASSERT_TRUE(WritePart10File(file, meta, writer, &error)) << error;

    int code = 0;
    const std::string warnings = test::RunCommand("dcmdump " + Quote(file) + " 2>&1 >/dev/null", &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(warnings, "");
    EXPECT_EQ(DumpValue(file, "0018,1074"), "123");
    EXPECT_EQ(DumpValue(file, "0008,0100"), "C-111A1");
    EXPECT_EQ(DumpValue(file, "0028,0010"), "7");  // after the sequence: lengths were right
    EXPECT_EQ(DumpValue(file, "0002,0010"), encoding == VrEncoding::kExplicit
                                                ? "1.2.840.10008.1.2.1"
                                                : "1.2.840.10008.1.2");
}

INSTANTIATE_TEST_SUITE_P(Kinds, PhantomHandBuiltTest,
                         testing::Combine(testing::Values(VrEncoding::kExplicit,
                                                          VrEncoding::kImplicit),
                                          testing::Bool()),
                         [](const auto& info) {
                             return std::string(EncodingName(std::get<0>(info.param))) +
                                    (std::get<1>(info.param) ? "Undefined" : "Defined");
                         });

// ---------------------------------------------------------------------------------------------
// The study's attributes as DCMTK reads them.

struct AttributeCase {
    const char* name;
    const char* file;
    const char* tag;
    std::string expected;
};

class PhantomAttributeTest
    : public testing::TestWithParam<std::tuple<AttributeCase, VrEncoding>> {};

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
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    EncodingName(std::get<1>(info.param));
                         });

// Both encodings carry the same elements and pixels; only the meta group's syntax differs.
std::vector<std::string> DataSetLines(const fs::path& file) {
    std::stringstream in(test::RunCommand("dcmdump -q -Un " + Quote(file)));
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("(0002,", 0) == 0 || line.rfind("# ", 0) == 0 || line.empty()) continue;
        line = line.substr(0, line.find(" #"));
        line.erase(line.find_last_not_of(' ') + 1);
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
                         [](const auto& info) {
                             std::string name = fs::path(info.param).stem().string();
                             return name;
                         });

}  // namespace
}  // namespace vexel::phantom
