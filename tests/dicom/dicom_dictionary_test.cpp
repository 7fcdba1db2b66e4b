// The data dictionary: content against the standard's rows and DCMTK's dictionary, exact
// lookups, and the preload set's learning under concurrent use.
//
// test_main.cpp keeps the process's dictionary alive for the whole run. Tests that change the
// preload set build a private CDicomDictionary, which never replaces the process's one, so
// reader tests elsewhere in this binary do not see tags learnt here.
#include "dicom/dicom_dictionary.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace vexel {

// Readable VRs in failure messages (internal linkage: other test files may print VRs too).
static void PrintTo(VrCode vr, std::ostream* out) {
    *out << static_cast<int>(vr) << " \"" << VrText(vr) << "\"";
}

namespace {

struct TagRow {
    uint32_t tag;
    VrCode vr;
    const char* name;
};

std::ostream& operator<<(std::ostream& out, const TagRow& row) {
    char text[16];
    std::snprintf(text, sizeof text, "(%04X,%04X)", row.tag >> 16, row.tag & 0xFFFF);
    return out << text;
}

class DictionaryRowTest : public testing::TestWithParam<TagRow> {};

TEST_P(DictionaryRowTest, VrAndNameAsInTheStandard) {
    const TagRow& row = GetParam();
    ASSERT_NE(CDicomDictionary::Instance(), nullptr);
    EXPECT_EQ(DictionaryVrOf(row.tag), row.vr);
    EXPECT_STREQ(DictionaryNameOf(static_cast<uint16_t>(row.tag >> 16),
                                  static_cast<uint16_t>(row.tag & 0xFFFF)),
                 row.name);
}

INSTANTIATE_TEST_SUITE_P(
    StandardRows, DictionaryRowTest,
    testing::Values(
        // The registry gives this retired element the VR UL (older dictionaries had none).
        TagRow{0x00080001, VrCode::UL, "Length to End"},
        TagRow{0x00080005, VrCode::CS, "Specific Character Set"},
        TagRow{0x00280010, VrCode::US, "Rows"},
        TagRow{0x00280106, VrCode::US_SS, "Smallest Image Pixel Value"},
        TagRow{0x00281101, VrCode::US_SS, "Red Palette Color Lookup Table Descriptor"},
        TagRow{0x00283006, VrCode::US_SS_OW, "LUT Data"},
        TagRow{0x00281200, VrCode::US_SS_OW, "Gray Lookup Table Data"},
        TagRow{0x60003000, VrCode::OB_OW, "Overlay Data"},
        TagRow{0x60000050, VrCode::SS, "Overlay Origin"},
        TagRow{0x50003000, VrCode::OB_OW, "Curve Data"},
        TagRow{0x54001010, VrCode::OB_OW, "Waveform Data"},
        TagRow{0x7FE00010, VrCode::OW_OB, "Pixel Data"},
        TagRow{0x7FE00008, VrCode::OF, "Float Pixel Data"},
        TagRow{0xFFFEE000, VrCode::Unknown, "Item"},
        TagRow{0xFFFEE0DD, VrCode::Unknown, "Sequence Delimitation Item"},
        TagRow{0x00020000, VrCode::UL, "Group Length"},
        TagRow{0x00040000, VrCode::UL, "Group Length"},
        TagRow{0x00020010, VrCode::UI, "Transfer Syntax UID"},
        TagRow{0x00041430, VrCode::CS, "Directory Record Type"},
        TagRow{0x00203100, VrCode::CS, "Source Image IDs"},
        // Retired rows the standard leaves without name, VR and VM.
        TagRow{0x00080202, VrCode::Unknown, ""}, TagRow{0x00280020, VrCode::Unknown, ""},
        // VRs added to the standard after the first 32 codes.
        TagRow{0x00189219, VrCode::SS, "Tag Angle Second Axis"},
        TagRow{0x00081190, VrCode::UR, "Retrieve URL"},
        TagRow{0x00080119, VrCode::UC, "Long Code Value"},
        TagRow{0x00660022, VrCode::OD, "Double Point Coordinates Data"},
        TagRow{0x00660040, VrCode::OL, "Long Primitive Point Index List"},
        TagRow{0x7FE00001, VrCode::OV, "Extended Offset Table"},
        TagRow{0x00720082, VrCode::SV, "Selector SV Value"},
        TagRow{0x00720083, VrCode::UV, "Selector UV Value"}),
    [](const testing::TestParamInfo<TagRow>& paramInfo) {
        char text[16];
        std::snprintf(text, sizeof text, "Tag%08X", paramInfo.param.tag);
        return std::string(text);
    });

class DictionaryUnknownTest : public testing::TestWithParam<uint32_t> {};

// Lookups are exact: no masking of repeating groups, no private blocks, no command group and
// no group lengths beyond the file meta and directory ones.
TEST_P(DictionaryUnknownTest, UnknownVrAndName) {
    const uint32_t tag = GetParam();
    EXPECT_EQ(DictionaryVrOf(tag), VrCode::Unknown);
    EXPECT_STREQ(
        DictionaryNameOf(static_cast<uint16_t>(tag >> 16), static_cast<uint16_t>(tag & 0xFFFF)),
        "Unknown");
}

INSTANTIATE_TEST_SUITE_P(ExactLookups, DictionaryUnknownTest,
                         testing::Values(0x00290010u, 0x00291010u, 0x00091001u, 0x60023000u,
                                         0x60020010u, 0x50023000u, 0x7F020010u, 0x00203101u,
                                         0x00000000u, 0x00000900u, 0x00080000u, 0x00280000u,
                                         0x7FE00000u, 0x00020011u, 0xFFFFFFFFu, 0x00000001u),
                         [](const testing::TestParamInfo<uint32_t>& paramInfo) {
                             char text[16];
                             std::snprintf(text, sizeof text, "Tag%08X", paramInfo.param);
                             return std::string(text);
                         });

TEST(DictionaryTableTest, SortedUniqueAndFreeOfPrivateCommandAndGroupLengthTags) {
    ASSERT_GT(kDictionaryTableSize, 4000u);
    for (size_t i = 0; i < kDictionaryTableSize; ++i) {
        const DictionaryEntry& entry = kDictionaryTable[i];
        const uint32_t group = entry.tag >> 16;
        SCOPED_TRACE(testing::Message() << "entry " << i << " " << (TagRow{entry.tag, {}, ""}));
        if (i > 0) {
            EXPECT_LT(kDictionaryTable[i - 1].tag, entry.tag);
        }
        EXPECT_NE(group, 0u);
        EXPECT_EQ(group % 2, 0u);
        if ((entry.tag & 0xFFFF) == 0) {
            EXPECT_TRUE(group == 0x0002 || group == 0x0004);
        }
        ASSERT_NE(entry.name, nullptr);
        EXPECT_LE(std::strlen(entry.name), 255u);
    }
    ASSERT_NE(CDicomDictionary::Instance(), nullptr);
    EXPECT_EQ(CDicomDictionary::Instance()->EntryCount(), kDictionaryTableSize);
}

TEST(DictionaryInstanceTest, PrivateDictionaryNeverReplacesTheProcessOne) {
    CDicomDictionary* const process = CDicomDictionary::Instance();
    ASSERT_NE(process, nullptr);
    {
        CDicomDictionary local;
        EXPECT_EQ(CDicomDictionary::Instance(), process);
        EXPECT_EQ(local.VrOf(0x00280010), VrCode::US);
    }
    EXPECT_EQ(CDicomDictionary::Instance(), process);
}

// The initial preload set, copied from the list the reader's deferred mode is designed for.
constexpr uint32_t kExpectedInitialPreload[] = {
    0x00020010, 0x00080005, 0x00080020, 0x00080021, 0x00080022, 0x00080023, 0x00080030, 0x00080031,
    0x00080032, 0x00080033, 0x00080060, 0x00080080, 0x00081030, 0x0008103E, 0x00082144, 0x00100010,
    0x00100020, 0x00100030, 0x00100040, 0x00180050, 0x00180080, 0x00180081, 0x00180087, 0x00181510,
    0x00181511, 0x0020000D, 0x0020000E, 0x00200010, 0x00200011, 0x00200012, 0x00200013, 0x00200032,
    0x00200037, 0x00280004, 0x00280006, 0x00280008, 0x00280010, 0x00280011, 0x00280030, 0x00280100,
    0x00280103, 0x00281050, 0x00281051, 0x00281052, 0x00281053, 0xFFFEE000,
};

TEST(PreloadTagSetTest, InitialContentIsExactlyTheListedTags) {
    CDicomDictionary dictionary;
    const std::set<uint32_t> expected(std::begin(kExpectedInitialPreload),
                                      std::end(kExpectedInitialPreload));
    ASSERT_EQ(expected.size(), 46u);
    // Every tag of the dictionary plus the expected ones: preloaded exactly when listed.
    std::set<uint32_t> probes = expected;
    for (size_t i = 0; i < kDictionaryTableSize; ++i)
        probes.insert(kDictionaryTable[i].tag);
    for (uint32_t tag : {0x00180015u, 0x7FE00010u, 0xFFFEE00Du, 0x00290010u, 0x00000000u}) {
        probes.insert(tag);
    }
    for (uint32_t tag : probes) {
        EXPECT_EQ(dictionary.IsPreloaded(tag), expected.contains(tag)) << TagRow{tag, {}, ""};
    }
}

TEST(PreloadTagSetTest, LearnsTagsAndKeepsThem) {
    CDicomDictionary dictionary;
    constexpr uint32_t kBodyPartExamined = 0x00180015;
    constexpr uint32_t kPrivateTag = 0x00291010;
    EXPECT_FALSE(dictionary.IsPreloaded(kBodyPartExamined));
    dictionary.AddPreloaded(kBodyPartExamined);
    dictionary.AddPreloaded(kBodyPartExamined);
    dictionary.AddPreloaded(kPrivateTag);
    dictionary.AddPreloaded(0x00280010);  // already there
    EXPECT_TRUE(dictionary.IsPreloaded(kBodyPartExamined));
    EXPECT_TRUE(dictionary.IsPreloaded(kPrivateTag));
    EXPECT_TRUE(dictionary.IsPreloaded(0x00280010));
    EXPECT_FALSE(dictionary.IsPreloaded(0x00180016));

    // Learning belongs to that dictionary: the process's one is untouched.
    EXPECT_FALSE(CDicomDictionary::Instance()->IsPreloaded(kPrivateTag));
}

TEST(PreloadTagSetTest, ConcurrentAddsAndLookupsLoseNothing) {
    CDicomDictionary dictionary;
    constexpr int kThreads = 8;
    constexpr uint32_t kTagsPerThread = 400;
    // Thread t learns tags (0x1000 + t, 1..400) and reads the tags of the others meanwhile.
    auto tagOf = [](int thread, uint32_t index) {
        return (static_cast<uint32_t>(0x1000 + 2 * thread) << 16) | (index + 1);
    };
    std::vector<int> initialMissing(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (uint32_t i = 0; i < kTagsPerThread; ++i) {
                dictionary.AddPreloaded(tagOf(t, i));
                dictionary.AddPreloaded(tagOf((t + 1) % kThreads, i));
                (void)dictionary.IsPreloaded(tagOf((t + 3) % kThreads, kTagsPerThread - 1 - i));
                if (!dictionary.IsPreloaded(0x00280010)) ++initialMissing[t];
                if (!dictionary.IsPreloaded(tagOf(t, i))) ++initialMissing[t];
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(initialMissing[t], 0) << "thread " << t;
        for (uint32_t i = 0; i < kTagsPerThread; ++i) {
            ASSERT_TRUE(dictionary.IsPreloaded(tagOf(t, i))) << TagRow{tagOf(t, i), {}, ""};
        }
    }
    for (uint32_t tag : kExpectedInitialPreload)
        EXPECT_TRUE(dictionary.IsPreloaded(tag));
}

// ---- Cross-check with DCMTK's dictionary -------------------------------------------------

std::optional<std::filesystem::path> FindDcmtkDictionary() {
    std::error_code error;
    if (const char* env = std::getenv("DCMDICTPATH")) {
        std::stringstream paths(env);
        std::string path;
        while (std::getline(paths, path, ':')) {
            if (std::filesystem::path(path).filename() == "dicom.dic" &&
                std::filesystem::is_regular_file(path, error)) {
                return path;
            }
        }
    }
    std::set<std::filesystem::path> found;  // sorted, so the newest libdcmtkNN comes last
    for (const auto& dir : std::filesystem::directory_iterator("/usr/share", error)) {
        const std::string name = dir.path().filename().string();
        const std::filesystem::path candidate = dir.path() / "dicom.dic";
        if (name.starts_with("libdcmtk") && std::filesystem::is_regular_file(candidate, error)) {
            found.insert(candidate);
        }
    }
    if (found.empty()) return std::nullopt;
    return *found.rbegin();
}

// DCMTK's VR column, its pseudo-VRs included, as our codes.
std::optional<VrCode> VrFromDcmtk(const std::string& text) {
    static const std::map<std::string, VrCode> kCodes = {
        {"AE", VrCode::AE},       {"AS", VrCode::AS}, {"AT", VrCode::AT},    {"CS", VrCode::CS},
        {"DA", VrCode::DA},       {"DS", VrCode::DS}, {"DT", VrCode::DT},    {"FL", VrCode::FL},
        {"FD", VrCode::FD},       {"IS", VrCode::IS}, {"LO", VrCode::LO},    {"LT", VrCode::LT},
        {"OB", VrCode::OB},       {"OF", VrCode::OF}, {"OW", VrCode::OW},    {"PN", VrCode::PN},
        {"SH", VrCode::SH},       {"SL", VrCode::SL}, {"SQ", VrCode::SQ},    {"SS", VrCode::SS},
        {"ST", VrCode::ST},       {"TM", VrCode::TM}, {"UI", VrCode::UI},    {"UL", VrCode::UL},
        {"UN", VrCode::UN},       {"US", VrCode::US}, {"UT", VrCode::UT},    {"OD", VrCode::OD},
        {"OL", VrCode::OL},       {"OV", VrCode::OV}, {"SV", VrCode::SV},    {"UV", VrCode::UV},
        {"UC", VrCode::UC},       {"UR", VrCode::UR}, {"xs", VrCode::US_SS},  // US or SS
        {"lt", VrCode::US_SS_OW},  // LUT data: US, SS or OW
        {"ox", VrCode::OB_OW},     // OB or OW
        {"px", VrCode::OW_OB},     // Pixel Data: OW in implicit VR files
        {"up", VrCode::UL},        // UL holding a file offset (directory records)
        {"na", VrCode::Unknown},   // items and delimiters have no VR
    };
    const auto it = kCodes.find(text);
    if (it == kCodes.end()) return std::nullopt;
    return it->second;
}

// "(gggg,eeee)" or an even-only range "(gggg-gggg,eeee)" / "(gggg,eeee-eeee)": the lowest
// instance. Odd or any-parity ranges and private creator notation are not ours.
std::optional<uint32_t> TagFromDcmtk(const std::string& field) {
    if (field.size() < 11 || field.front() != '(' || field.back() != ')') return std::nullopt;
    if (field.find('"') != std::string::npos || field.find("-o-") != std::string::npos ||
        field.find("-u-") != std::string::npos) {
        return std::nullopt;
    }
    unsigned group = 0;
    unsigned element = 0;
    const std::string inner = field.substr(1, field.size() - 2);
    const size_t comma = inner.find(',');
    if (comma == std::string::npos) return std::nullopt;
    if (std::sscanf(inner.substr(0, comma).c_str(), "%4x", &group) != 1) return std::nullopt;
    if (std::sscanf(inner.substr(comma + 1).c_str(), "%4x", &element) != 1) return std::nullopt;
    return (group << 16) | element;
}

// Where our dictionary knowingly differs from DCMTK 3.6.7's (PS3.6 2022b).
const std::map<uint32_t, std::string> kAcceptedDcmtkDifferences = {
    {0x00060001, "added in PS3.6 2022b, after our edition"},
    {0x00080017, "added in PS3.6 2022b, after our edition"},
    {0x00080019, "added in PS3.6 2022b, after our edition"},
    {0x00081088, "added in PS3.6 2022b, after our edition"},
    {0x00200027, "added in PS3.6 2022b, after our edition"},
    {0x10100004, "Zonal Map (1010,xxxx): DCMTK picks instance 0004, we the lowest, 0001"},
};

TEST(DictionaryDcmtkCrossCheck, VrOfEveryStandardTagMatchesDcmtk) {
    const std::optional<std::filesystem::path> path = FindDcmtkDictionary();
    if (!path) GTEST_SKIP() << "DCMTK's dicom.dic not found (package libdcmtk17 or DCMDICTPATH)";
    std::ifstream file(*path);
    ASSERT_TRUE(file) << *path;

    const CDicomDictionary& dictionary = *CDicomDictionary::Instance();
    int compared = 0;
    std::set<uint32_t> differing;
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::stringstream fields(line);
        std::string tagField, vrField, keyword;
        std::getline(fields, tagField, '\t');
        std::getline(fields, vrField, '\t');
        std::getline(fields, keyword, '\t');
        const std::optional<uint32_t> tag = TagFromDcmtk(tagField);
        if (!tag || (*tag >> 16) == 0x0000) continue;  // ranges, private, command group
        if ((*tag >> 16) % 2 == 1) continue;
        const std::optional<VrCode> expected = VrFromDcmtk(vrField);
        ASSERT_TRUE(expected.has_value()) << "unexpected DCMTK VR in: " << line;
        ++compared;
        const VrCode ours = dictionary.VrOf(*tag);
        if (ours == *expected) continue;
        differing.insert(*tag);
        if (!kAcceptedDcmtkDifferences.contains(*tag)) {
            ADD_FAILURE() << tagField << " " << keyword << ": DCMTK " << vrField << ", ours "
                          << testing::PrintToString(ours);
        }
    }
    EXPECT_GT(compared, 4000);
    for (const auto& [tag, reason] : kAcceptedDcmtkDifferences) {
        EXPECT_TRUE(differing.contains(tag))
            << TagRow{tag, {}, ""} << " now agrees with DCMTK; drop it from the list (" << reason
            << ")";
    }
}

}  // namespace
}  // namespace vexel
