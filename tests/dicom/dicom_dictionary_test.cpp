// The data dictionary: VRs against DCMTK's dictionary, names and exact lookups, and the
// preload set's learning under concurrent use (in a private dictionary: the process's one,
// kept by test_main.cpp, must not learn tags the reader tests expect to be deferred).
#include "dicom/dicom_dictionary.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/test_paths.h"

namespace vexel {

namespace {

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
