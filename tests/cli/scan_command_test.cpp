// vexel scan against an independent grouping of the same files by DCMTK: the same series
// with the same members, each series in instance order. (The grouping of the real files of
// the shared corpus is compared with dcmdump's reading in the engine tests.)
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "common/flat_json.h"
#include "common/test_paths.h"
#include "phantom/phantom_writer.h"

namespace vexel {
namespace {

namespace fs = std::filesystem;

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

}  // namespace
}  // namespace vexel
