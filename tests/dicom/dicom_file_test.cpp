// The data set in memory: value accessors give defaults instead of values that are not there;
// the element store's arenas keep a consistent file when memory is refused, and deferred
// loads on several threads never disturb lookups that run without a lock.
// The data dictionary: VRs against DCMTK's dictionary, names and exact lookups, and the
// preload set's learning under concurrent use (in a private dictionary: the process's one,
// kept by test_main.cpp, must not learn tags the reader tests expect to be deferred).
#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "common/test_paths.h"
#include "dicom/dicom_dictionary.h"
#include "dicom/dicom_file.h"
#include "dicom/dicom_reader.h"
#include "dicom/value_format.h"
#include "phantom/phantom_writer.h"
#include "platform/checked_alloc.h"

namespace vexel {
namespace {

// A top-level element holding exactly these bytes (no file behind it).
CDicomElement* Add(CDicomFile& file, uint32_t tag, VrCode vr, std::string_view bytes) {
    auto* raw = static_cast<uint8_t*>(CheckedAlloc(bytes.size() + 1));
    std::memcpy(raw, bytes.data(), bytes.size());
    raw[bytes.size()] = 0;
    return file.AddElement(file.Root(), TagGroup(tag), TagElement(tag), vr, raw, 0,
                           static_cast<uint32_t>(bytes.size()), 0);
}

TEST(DicomFileValues, IntegerFollowsTheVr) {
    // Dictionary multi-VR descriptors (US_SS) read as unsigned 16-bit.
    const std::tuple<uint32_t, VrCode, std::string_view, int> cases[] = {
        {0x00180050, VrCode::DS, "2.9 ", 2},
        {0x00180088, VrCode::DS, "-2.9", -2},
        {0x00280106, VrCode::SS, std::string_view("\xFF\xFF", 2), -1},
        {0x00280107, VrCode::US, std::string_view("\xFF\xFF", 2), 65535},
        {0x00100010, VrCode::PN, "Doe^John", 42},
        {0x00200013, VrCode::IS, "+17 ", 17},
        {0x00281101, VrCode::US_SS, std::string_view("\x00\x01\x00\x00\x10\x00", 6), 256},
        {0x00181000, VrCode::SL, std::string_view("\xFE\xFF\xFF\xFF", 4), -2}};
    CDicomFile file;
    for (const auto& [tag, vr, bytes, expected] : cases) {
        Add(file, tag, vr, bytes);
        EXPECT_EQ(file.Integer(tag, 42), expected) << std::hex << tag;
    }
    uint16_t descriptor[3];
    ASSERT_TRUE(file.PaletteDescriptor(descriptor));
    EXPECT_EQ(descriptor[2], 16);
}

TEST(DicomFileValues, MissingOrBrokenValuesGiveTheDefault) {
    CDicomFile file;
    file.AddElement(file.Root(), 0x0018, 0x0050, VrCode::DS, nullptr, 0, 0, 0);  // empty DS
    Add(file, 0x00280010, VrCode::US, "\x01");                                   // short US
    Add(file, 0x00181000, VrCode::UL, "\x01\x02");                               // short UL
    Add(file, 0x00280030, VrCode::DS, "0.5\\abc");                               // bad component
    Add(file, 0x00200013, VrCode::IS, "1.5");                                    // not an integer
    Add(file, 0x00281050, VrCode::DS, "1e40");                                   // beyond float
    EXPECT_EQ(file.Float(0x00180050, 7.5f), 7.5f);
    for (const uint32_t tag : {0x00180050u, 0x00280010u, 0x00181000u, 0x00200013u, 0x00281050u})
        EXPECT_EQ(file.Integer(tag, -9), -9) << std::hex << tag;
    EXPECT_FLOAT_EQ(file.Float(0x00280030, 0), 0.5f);
    float spacing[2] = {-1, -1};
    EXPECT_FALSE(file.FloatArray(0x00280030, spacing, 2));
    EXPECT_EQ(spacing[0], -1);
    EXPECT_EQ(file.Float(0x00990099, 3.0f), 3.0f);
    EXPECT_EQ(file.String(0x00990099, "dflt"), "dflt");
    EXPECT_EQ(file.RawString(0x00990099, nullptr), nullptr);
}

TEST(DicomFileValues, NumbersIgnoreTheDecimalCommaLocale) {
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
        GTEST_SKIP() << "no decimal-comma locale installed (scripts/setup adds de_DE)";
    CDicomFile file;
    Add(file, 0x00280030, VrCode::DS, "0.5\\0.25");
    float spacing[2] = {};
    EXPECT_TRUE(file.FloatArray(0x00280030, spacing, 2));
    EXPECT_FLOAT_EQ(spacing[0], 0.5f);
    file.MakeInMemory();
    CDicomElement* thickness = file.FindOrCreate(nullptr, 0x00180050);
    const float values[] = {1.25f};
    ASSERT_TRUE(file.SetDsValues(thickness, values, 1));
    EXPECT_EQ(file.String(0x00180050), "1.250000");
    std::setlocale(LC_NUMERIC, "C");
}

TEST(DicomFileValues, ReadBytesStaysInsideTheValue) {
    CDicomFile file;
    CDicomElement* e = Add(file, 0x00091010, VrCode::OB, "0123456789");
    char out[11] = {};
    EXPECT_TRUE(file.ReadBytes(e, out, 4, 6));
    EXPECT_STREQ(out, "456789");
    for (const auto& [offset, size] :
         {std::pair<uint64_t, uint64_t>{4, 7}, {0, 0}, {11, 1}, {1, UINT64_MAX}})
        EXPECT_FALSE(file.ReadBytes(e, out, offset, size)) << offset << " " << size;
}

TEST(CheckedAlloc, GuardsProtectTheHeap) {
    EXPECT_EQ(CheckedAlloc(0), nullptr);
    EXPECT_EQ(CheckedAlloc(size_t{1} << 40), nullptr);
    auto* block = static_cast<uint8_t*>(CheckedCalloc(16));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(CheckedSize(block), 16u);
    EXPECT_EQ(block[15], 0);

    block = static_cast<uint8_t*>(CheckedRealloc(block, 4096));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(CheckedSize(block), 4096u);
    EXPECT_EQ(CheckedRealloc(block, 0), nullptr);
    EXPECT_TRUE(CheckedIsIntact(block));

    block[4096] ^= 0xFF;  // an overrun damages the tail guard
    EXPECT_FALSE(CheckedIsIntact(block));
    EXPECT_EQ(CheckedRealloc(block, 8192), nullptr);
    CheckedFree(block);  // left alone: no crash, no double free
    block[4096] ^= 0xFF;
    ASSERT_TRUE(CheckedIsIntact(block));
    CheckedFree(block);
}


uint8_t* Guarded(std::string_view bytes) {
    auto* raw = static_cast<uint8_t*>(CheckedAlloc(bytes.size() + 1));
    std::memcpy(raw, bytes.data(), bytes.size());
    raw[bytes.size()] = 0;
    return raw;
}

// A refused block leaves no element (and frees the value it was given); a refused value
// record leaves the element without a value. Either way the file stays usable.
TEST(ElementStore, RefusedMemoryLeavesAConsistentFile) {
    constexpr uint32_t kElementsPerBlock = CElementArena::kBlockSize / sizeof(CDicomElement);
    // Elements added first: the root's block holds kElementsPerBlock - 1 more.
    for (const uint32_t before : {kElementsPerBlock - 1, 0u}) {
        const bool expectElement = before == 0;  // else the element block is refused
        CDicomFile file;
        for (uint16_t e = 0; e < before; ++e)
            file.AddElement(file.Root(), 0x0009, static_cast<uint16_t>(0x1000 + e), VrCode::LO,
                            nullptr, 0, 0, 0);
        SetAllocationFaultInjector([](size_t size) { return size == CElementArena::kBlockSize; });
        CDicomElement* added = file.AddElement(file.Root(), 0x0028, 0x0010, VrCode::US,
                                               Guarded(std::string_view("\x00\x02", 2)), 0, 2, 0);
        SetAllocationFaultInjector(nullptr);
        EXPECT_EQ(added != nullptr, expectElement) << before;
        EXPECT_EQ(file.ElementCount(), before + (expectElement ? 1 : 0)) << before;
        EXPECT_TRUE(added == nullptr || !added->HasValue());
        EXPECT_EQ(file.Integer(0x00280010, -1), -1) << before;
        file.AddElement(file.Root(), 0x0008, 0x0060, VrCode::CS, Guarded("CT"), 0, 2, 0);
        EXPECT_EQ(file.String(0x00080060), "CT") << before;
        EXPECT_TRUE(before == 0 || file.FindElement(0x00091000) != nullptr);
    }
}

// Deferred loads add value records (and arena blocks) while other threads look elements up
// without a lock; run under the sanitizers, a moved block table would show here.
TEST(ElementStore, DeferredLoadsOnManyThreadsKeepLookupsValid) {
    const std::filesystem::path dir = test::ScratchDir("element_store");
    phantom::PhantomOptions options;
    options.columns = options.rows = 16;
    options.slices = 1;
    options.scannerHeaders = true;
    std::string error;
    ASSERT_TRUE(phantom::WriteCtSeries(dir / "CT", options, &error)) << error;
    CDicomFile file;
    file.SetDeferredValues(true);
    ASSERT_EQ(ReadDicomFile(file, (dir / "CT" / "CT0001.dcm").string()), ReadStatus::Ok);

    std::vector<uint32_t> deferred;
    for (const CDicomElement* e = file.Root()->firstChild; e; e = e->nextSibling)
        if (!e->HasValue() && e->length > 0 && e->length <= 64) deferred.push_back(e->Tag());
    ASSERT_GT(deferred.size(), 100u);
    std::atomic<int> misses{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (size_t i = static_cast<size_t>(t); i < deferred.size(); i += 2) {
                CDicomElement* element = file.FindElement(deferred[i]);
                if (element == nullptr || !file.EnsureLoaded(element)) ++misses;
                if (file.FindElement(deferred[deferred.size() - 1 - i]) == nullptr) ++misses;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(misses.load(), 0);
    for (uint32_t tag : deferred)
        EXPECT_TRUE(file.FindElement(tag)->HasValue());
}


std::string TagText(uint32_t tag) {
    char text[16];
    std::snprintf(text, sizeof text, "(%04X,%04X)", tag >> 16, tag & 0xFFFF);
    return text;
}

// Names and lookups (the DCMTK cross-check below covers the VRs). Lookups are exact: no
// masking of repeating groups, no private blocks, no command group and no group lengths
// beyond the meta and directory ones. Retired rows the standard leaves empty have no name.
TEST(Dictionary, NamesAndExactLookups) {
    const std::pair<uint32_t, const char*> rows[] = {
        {0x00080005, "Specific Character Set"}, {0xFFFEE000, "Item"},
        {0x00040000, "Group Length"},           {0x00080202, ""},
        {0x00280020, ""},                       {0x00720083, "Selector UV Value"},
        {0x00291010, "Unknown"},                {0x60023000, "Unknown"},
        {0x00000900, "Unknown"},                {0x00280000, "Unknown"},
        {0xFFFFFFFF, "Unknown"}};
    for (const auto& [tag, name] : rows) {
        EXPECT_STREQ(DictionaryNameOf(uint16_t(tag >> 16), uint16_t(tag)), name) << TagText(tag);
        EXPECT_TRUE(std::string_view(name) != "Unknown" || DictionaryVrOf(tag) == VrCode::Unknown);
    }
    // The registry gives this retired element the VR UL (older dictionaries had none).
    EXPECT_EQ(DictionaryVrOf(0x00080001), VrCode::UL);
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
            ASSERT_TRUE(dictionary.IsPreloaded(tagOf(t, i))) << TagText(tagOf(t, i));
        }
    }
}

// ---- Cross-check with DCMTK's dictionary -------------------------------------------------

// DCMTK's pseudo VRs: xs US or SS, lt LUT data, ox OB or OW, px Pixel Data, up a file offset,
// na no VR (items and delimiters).
const std::map<std::string, VrCode> kPseudoVrs = {{"xs", VrCode::US_SS}, {"lt", VrCode::US_SS_OW},
                                                  {"ox", VrCode::OB_OW}, {"px", VrCode::OW_OB},
                                                  {"up", VrCode::UL},    {"na", VrCode::Unknown}};

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
    // DCMTK's dicom.dic from DCMDICTPATH, else the newest /usr/share/libdcmtkNN.
    const char* variable = std::getenv("DCMDICTPATH");
    std::ifstream file(variable ? std::string(variable)
                                : test::RunCommand("ls /usr/share/libdcmtk*/dicom.dic 2>/dev/null | "
                                                   "sort -V | tail -n 1 | tr -d '\\n'"));
    if (!file) GTEST_SKIP() << "DCMTK's dicom.dic not found (package libdcmtk17 or DCMDICTPATH)";

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
        // "(gggg,eeee)" or an even-only range "(gggg-gggg,eeee)" / "(gggg,eeee-eeee)": the
        // lowest instance. Odd or any-parity ranges, private creators, command tags are not ours.
        const size_t comma = tagField.find(',');
        if (tagField.size() < 11 || tagField[0] != '(' || comma == std::string::npos ||
            tagField.find_first_of("\"ou") != std::string::npos) {
            continue;
        }
        const uint32_t group = uint32_t(std::stoul(tagField.substr(1, 4), nullptr, 16));
        if (group == 0x0000 || group % 2 == 1) continue;
        const uint32_t tag = group << 16 | uint32_t(std::stoul(tagField.substr(comma + 1, 4), nullptr, 16));
        ++compared;
        const VrCode ours = dictionary.VrOf(tag);
        const auto pseudo = kPseudoVrs.find(vrField);
        if (pseudo != kPseudoVrs.end() ? ours == pseudo->second : VrText(ours) == vrField) continue;
        differing.insert(tag);
        if (!kAcceptedDcmtkDifferences.contains(tag)) {
            ADD_FAILURE() << tagField << " " << keyword << ": DCMTK " << vrField << ", ours "
                          << VrText(ours);
        }
    }
    EXPECT_GT(compared, 4000);
    for (const auto& [tag, reason] : kAcceptedDcmtkDifferences) {
        EXPECT_TRUE(differing.contains(tag))
            << TagText(tag) << " now agrees with DCMTK; drop it from the list (" << reason << ")";
    }
}

}  // namespace
}  // namespace vexel
