// Real-world files grouped as an independent reading of their keys by DCMTK's dcmdump says.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "common/test_paths.h"
#include "study_model_test_files.h"

namespace vexel {
namespace {

const char* const kFolders[] = {"suv-dro", "dcm_qa_ts", "suyashkumar-dicom",
                                "dwv",     "AlizaMS",   "pydicom"};
const char* const kTags[] = {"0010,0010", "0010,0030", "0020,000d", "0020,000e",
                             "0020,0011", "0028,0008", "0008,0018"};

using Values = std::map<std::string, std::string>;  // tag -> value

// A UN value as dcmdump prints it: bytes in hex separated by backslashes.
std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size() && std::isxdigit(static_cast<unsigned char>(hex[i]));
         i += 3) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    while (!bytes.empty() && (bytes.back() == '\0' || bytes.back() == ' '))
        bytes.pop_back();
    return bytes;
}

// One line of dcmdump: "(gggg,eeee) VR [text]" or, for UN, "(gggg,eeee) UN 31\2e...".
void ParseDumpLine(const std::string& line, Values& values) {
    if (line.size() < 16 || line[0] != '(') return;  // nested elements are indented
    const std::string tag = line.substr(1, 9);
    if (line.compare(12, 2, "UN") == 0) {
        const size_t end = line.find(' ', 15);
        values.emplace(tag, FromHex(line.substr(15, end - 15)));
        return;
    }
    const size_t open = line.find('[');
    const size_t close = line.find(']', open);
    if (open == std::string::npos || close == std::string::npos) return;
    const std::string text = line.substr(open + 1, close - open - 1);
    const size_t first = text.find_first_not_of(' ');
    values.emplace(tag, first == std::string::npos
                            ? ""
                            : text.substr(first, text.find_last_not_of(' ') - first + 1));
}

// The keys of each file as dcmdump reads them; files it fails to read ("E: ... reading
// file: <path>" on its error stream) are left out. It prints "# dcmdump (i/n): path" before
// each file.
std::map<std::string, Values> DumpKeys(const std::vector<std::string>& paths) {
    const auto errors = test::ScratchDir("study-model-dcmdump") / "errors.txt";
    std::string command = "dcmdump +L +F";
    for (const char* tag : kTags)
        command += std::string(" +P ") + tag;
    for (const std::string& path : paths)
        command += " '" + path + "'";
    std::istringstream out(test::RunCommand(command + " 2>'" + errors.string() + "'"));
    std::map<std::string, Values> dumped;
    Values* current = nullptr;
    for (std::string line; std::getline(out, line);) {
        if (line.rfind("# dcmdump (", 0) == 0) {
            current = &dumped[line.substr(line.find("): ") + 3)];
        } else if (current) {
            ParseDumpLine(line, *current);
        }
    }
    std::ifstream failures(errors);
    for (std::string line; std::getline(failures, line);) {
        const size_t at = line.find("reading file: ");
        if (line.rfind("E: ", 0) == 0 && at != std::string::npos)
            dumped.erase(line.substr(at + 14));
    }
    return dumped;
}

std::string Value(const Values& values, const char* tag) {
    const auto found = values.find(tag);
    return found == values.end() ? "" : found->second;
}

int Number(const Values& values, const char* tag, int defaultValue) {
    const std::string text = Value(values, tag);
    char* end = nullptr;
    const long number = std::strtol(text.c_str(), &end, 10);
    return end != text.c_str() ? int(number) : defaultValue;
}

using Partition = std::set<std::set<std::string>>;
struct Groups {
    Partition patients;
    Partition studies;
    Partition series;
};

// The grouping rules applied to dcmdump's values; repeated SOP Instance UIDs keep the first.
Groups ExpectedGroups(const std::vector<std::string>& paths,
                      const std::map<std::string, Values>& dumped) {
    std::map<std::string, std::set<std::string>> patients, studies, series;
    std::set<std::string> instances;
    for (const std::string& path : paths) {
        const Values& v = dumped.at(path);
        const std::string sop = Value(v, "0008,0018");
        if (!sop.empty() && !instances.insert(sop).second) continue;
        const std::string patient = Value(v, "0010,0010") + "|" + Value(v, "0010,0030");
        const std::string studyUid = Value(v, "0020,000d");
        const std::string study = patient + "|" + (studyUid.empty() ? "#" + path : studyUid);
        const bool multiFrame = Number(v, "0028,0008", 1) > 1;
        const std::string seriesKey =
            multiFrame ? "#" + path
                       : std::to_string(Number(v, "0020,0011", 0)) + "|" + Value(v, "0020,000e");
        patients[patient].insert(path);
        studies[study].insert(path);
        series[study + "|" + seriesKey].insert(path);
    }
    const auto partition = [](const auto& byKey) {
        Partition groups;
        for (const auto& [key, files] : byKey)
            groups.insert(files);
        return groups;
    };
    return {partition(patients), partition(studies), partition(series)};
}

Groups ModelGroups(const StudyModel& model) {
    Groups groups;
    for (const PatientView& patient : model.Snapshot()) {
        std::set<std::string> patientFiles;
        for (const StudyView& study : patient.studies) {
            std::set<std::string> studyFiles;
            for (const SeriesView& series : study.series) {
                const auto files = model.GetSeriesFiles(series.id);
                groups.series.emplace(files.begin(), files.end());
                studyFiles.insert(files.begin(), files.end());
            }
            patientFiles.insert(studyFiles.begin(), studyFiles.end());
            groups.studies.insert(studyFiles);
        }
        groups.patients.insert(patientFiles);
    }
    return groups;
}

// The images of the shared corpus that both we and dcmdump read, as a scan would offer them.
std::vector<std::string> CorpusImages(test::CStudyModelLoader& loader,
                                      std::map<std::string, Values>& dumped) {
    std::vector<std::string> candidates;
    for (const char* folder : kFolders) {
        const auto dir = test::TestDataDir() / folder;
        if (!std::filesystem::is_directory(dir)) continue;
        for (const std::string& path : test::FilesBelow(dir)) {
            std::string name = std::filesystem::path(path).filename().string();
            std::transform(name.begin(), name.end(), name.begin(), ::toupper);
            if (name != "DICOMDIR" && loader.IsImage(path)) candidates.push_back(path);
        }
    }
    dumped = DumpKeys(candidates);
    std::erase_if(candidates, [&](const std::string& path) { return !dumped.count(path); });
    return candidates;
}

TEST(StudyModelTestData, GroupsAsDcmdumpReadsTheKeys) {
    VEXEL_REQUIRE_TESTDATA();
    if (!test::HaveProgram("dcmdump")) GTEST_SKIP() << "dcmdump (DCMTK) not installed";
    test::CStudyModelLoader loader;
    std::map<std::string, Values> dumped;
    const std::vector<std::string> paths = CorpusImages(loader, dumped);
    ASSERT_GT(paths.size(), 300u);
    StudyModel model;
    for (const std::string& path : paths)
        loader.Add(model, path);

    const Groups expected = ExpectedGroups(paths, dumped);
    const Groups actual = ModelGroups(model);
    // Partitions of the file set: gtest prints both sides when they differ.
    EXPECT_EQ(actual.series, expected.series);
    EXPECT_EQ(actual.studies, expected.studies);
    EXPECT_EQ(actual.patients, expected.patients);
    size_t listed = 0;
    for (const auto& files : expected.series)
        listed += files.size();
    EXPECT_EQ(model.FileCount(), listed);
    EXPECT_EQ(model.FileCount() + model.DuplicateCount(), paths.size());
}

}  // namespace
}  // namespace vexel
