// The study model: grouping of files into patients, studies and series, real-world files
// grouped as an independent reading of their keys by DCMTK's dcmdump says; the order within
// a series, the same from every order of arrival; pool threads filing while another thread
// reads the model; the scan-and-load job over real folders: what it lists and what it skips
// (and counts).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/test_paths.h"
#include "engine/headless_scan.h"
#include "engine/memory_services.h"
#include "engine/scan_and_load_job.h"
#include "engine/study_model.h"
#include "engine_phantoms.h"
#include "imaging/dicom_image.h"
#include "phantom/dicom_file_writer.h"
#include "phantom/phantom_writer.h"
#include "platform/memory_load.h"

namespace vexel {
namespace {

// Each empty text and each unset number leaves its element out of the file.
struct StudyTestImage {
    std::string patientName = "DOE^JANE";
    std::string birthDate;
    std::string studyUid = "1.2.826.0.1.3680043.2.1143.1";
    std::string studyDate;
    std::string studyTime;
    std::string seriesUid = "1.2.826.0.1.3680043.2.1143.1.1";
    std::optional<int> seriesNumber;
    std::optional<int> acquisitionNumber;
    std::optional<int> instanceNumber;
    std::optional<std::array<double, 3>> position;
    std::string orientation = "1\\0\\0\\0\\1\\0";  // written with a position only
    std::string sopInstanceUid;
    std::string modality = "CT";
    int frames = 1;
};

// Opens files through a registry of its own, as a scan does, and files them into a model.
class CStudyModelLoader {
public:
    CStudyModelLoader() {
        MemoryServicesOptions options;
        options.manager.startMonitor = false;
        m_services = std::make_unique<CMemoryServices>(m_load, options);
    }
    // Opens and adds path; none (and a test failure) when the file cannot be opened.
    std::optional<AddFileResult> Add(StudyModel& model, const std::string& path) {
        CMemoryManager::OpenResult opened = m_services->Manager().Open(path);
        EXPECT_TRUE(opened.file) << path << " did not open";
        if (!opened.file) return std::nullopt;
        return model.AddFile(*opened.file);
    }
    // Opens the file; false when it cannot be read or its image has no frame.
    bool IsImage(const std::string& path) {
        CMemoryManager::OpenResult opened = m_services->Manager().Open(path);
        const CDicomImage* image = opened.file ? CDicomImage::Of(*opened.file) : nullptr;
        return image != nullptr && image->FrameCount() > 0;
    }

private:
    CSimulatedMemoryLoad m_load{10};
    std::unique_ptr<CMemoryServices> m_services;
};

constexpr const char* kCtImageStorage = "1.2.840.10008.5.1.4.1.1.2";

void AddIfSet(phantom::CDataSetWriter& writer, uint32_t tag, const char* vr,
              const std::string& value) {
    if (!value.empty()) writer.AddString(tag, vr, value);
}

void AddIfSet(phantom::CDataSetWriter& writer, uint32_t tag, const std::optional<int>& value) {
    if (value) writer.AddString(tag, "IS", std::to_string(*value));
}

std::string FormatPosition(const std::array<double, 3>& p) {
    char text[96];
    std::snprintf(text, sizeof text, "%g\\%g\\%g", p[0], p[1], p[2]);
    return text;
}

void AddImagePixelModule(phantom::CDataSetWriter& writer, int frames) {
    writer.AddUS(0x00280002, 1);
    writer.AddString(0x00280004, "CS", "MONOCHROME2");
    if (frames != 1) writer.AddString(0x00280008, "IS", std::to_string(frames));
    writer.AddUS(0x00280010, 2);
    writer.AddUS(0x00280011, 2);
    writer.AddUS(0x00280100, 16);
    writer.AddUS(0x00280101, 16);
    writer.AddUS(0x00280102, 15);
    writer.AddUS(0x00280103, 0);
    const std::vector<uint8_t> pixels(static_cast<size_t>(frames) * 8, 0x11);
    writer.AddRaw(0x7FE00010, "OW", pixels);
}

bool WriteStudyTestImage(const std::filesystem::path& path, const StudyTestImage& image) {
    phantom::CDataSetWriter writer;
    writer.AddString(0x00080016, "UI", kCtImageStorage);
    AddIfSet(writer, 0x00080018, "UI", image.sopInstanceUid);
    AddIfSet(writer, 0x00080020, "DA", image.studyDate);
    AddIfSet(writer, 0x00080030, "TM", image.studyTime);
    AddIfSet(writer, 0x00080060, "CS", image.modality);
    AddIfSet(writer, 0x00100010, "PN", image.patientName);
    AddIfSet(writer, 0x00100030, "DA", image.birthDate);
    AddIfSet(writer, 0x0020000D, "UI", image.studyUid);
    AddIfSet(writer, 0x0020000E, "UI", image.seriesUid);
    AddIfSet(writer, 0x00200011, image.seriesNumber);
    AddIfSet(writer, 0x00200012, image.acquisitionNumber);
    AddIfSet(writer, 0x00200013, image.instanceNumber);
    if (image.position) {
        writer.AddString(0x00200032, "DS", FormatPosition(*image.position));
        writer.AddString(0x00200037, "DS", image.orientation);
    }
    AddImagePixelModule(writer, image.frames);
    phantom::FileMeta meta;
    meta.sopClassUid = kCtImageStorage;
    meta.sopInstanceUid = image.sopInstanceUid.empty() ? "2.25.1" : image.sopInstanceUid;
    std::string error;
    const bool written = phantom::WriteDicomFile(path, meta, writer, &error);
    EXPECT_TRUE(written) << path << ": " << error;
    return written;
}

// A folder of several patients, studies and series, with multi-frame files, files without
// numbers, studies without UID and series that share a number.
std::vector<std::string> WriteMixedStudyFolder(const std::filesystem::path& dir) {
    std::vector<std::string> paths;
    int n = 0;
    const auto write = [&](const StudyTestImage& image) {
        paths.push_back((dir / ("img" + std::to_string(n++))).string());
        WriteStudyTestImage(paths.back(), image);
    };
    const char* names[] = {"Smith^Ann", "SMITH^ANN", "Brown^Bob"};
    for (int p = 0; p < 3; ++p) {
        for (int s = 0; s < 3; ++s) {
            StudyTestImage image;
            image.patientName = names[p];
            image.birthDate = "1960010" + std::to_string(p + 1);
            image.studyUid = s == 2 ? "" : "1.4." + std::to_string(p) + "." + std::to_string(s);
            image.studyDate = s == 1 ? "" : "2020010" + std::to_string(s + 1);
            for (int series = 0; series < 3; ++series) {
                image.seriesNumber = series == 0 ? std::optional<int>() : 2;
                image.seriesUid = image.studyUid + ".9." + std::to_string(series);
                image.frames = 1;
                for (int i = 0; i < 3; ++i) {
                    image.instanceNumber = i == 1 ? std::optional<int>() : 3 - i;
                    image.position = std::array<double, 3>{0, 0, double(i % 2)};
                    write(image);
                }
                image.frames = 2;
                image.instanceNumber = series;
                write(image);
                write(image);
            }
        }
    }
    return paths;
}

std::vector<std::string> SnapshotRows(const std::vector<PatientView>& patients) {
    std::vector<std::string> rows;
    for (const PatientView& patient : patients) {
        rows.push_back("patient " + patient.name + " " + patient.birthDate);
        for (const StudyView& study : patient.studies) {
            rows.push_back("study " + study.studyInstanceUid + " " + study.date);
            for (const SeriesView& series : study.series) {
                rows.push_back("series " + std::to_string(series.seriesNumber) + " " +
                               series.modality + " " + series.seriesInstanceUid +
                               " files=" + std::to_string(series.fileCount) +
                               " frames=" + std::to_string(series.frameTotal));
            }
        }
    }
    return rows;
}

std::vector<std::string> FilesBelow(const std::filesystem::path& folder) {
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) paths.push_back(entry.path().string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

StudyTestImage Image(std::string patient, std::string birth, std::string study,
                     std::string studyDate, int seriesNumber) {
    StudyTestImage image;
    image.patientName = std::move(patient);
    image.birthDate = std::move(birth);
    image.studyUid = std::move(study);
    image.studyDate = std::move(studyDate);
    image.seriesNumber = seriesNumber;
    image.seriesUid = image.studyUid + "." + std::to_string(seriesNumber);
    return image;
}

TEST(StudyModelGrouping, PatientsStudiesAndSeriesOfOneFolder) {
    std::vector<StudyTestImage> images = {
        Image("beta^carl", "19800202", "1.9.1", "20220505", 1),
        Image("alpha^bea", "19700101", "1.1.1", "20230101", 3),
        Image("alpha^bea", "19700101", "1.1.1", "20230101", 1),
        Image("alpha^bea", "19700101", "1.1.2", "20240101", 1),
        Image("alpha^bea", "19700101", "1.1.1", "20230101", 2),
        Image("alpha^bea", "19700101", "1.1.3", "", 1),
        Image("Alpha^Bea", "19700101", "1.2.1", "20200101", 1),
        Image("Zeta^Zed", "19500505", "", "20210101", 1),
        Image("Zeta^Zed", "19500505", "", "20210101", 1),
        Image("", "", "1.0.1", "", 1),
        Image("alpha^bea", "19700101", "1.1.1", "20230101", 1),
    };
    images[4].seriesNumber.reset();  // no number: before every numbered series
    images[4].seriesUid = "1.1.1.0";
    const auto dir = test::ScratchDir("study-model-grouping");
    CStudyModelLoader loader;
    StudyModel model;
    for (size_t n = 0; n < images.size(); ++n) {
        const auto path = dir / ("f" + std::to_string(n));
        WriteStudyTestImage(path, images[n]);
        loader.Add(model, path.string());
    }
    EXPECT_EQ(SnapshotRows(model.Snapshot()), (std::vector<std::string>{
                                                  "patient  ",
                                                  "study 1.0.1 ",
                                                  "series 1 CT 1.0.1.1 files=1 frames=1",
                                                  "patient Alpha^Bea 19700101",
                                                  "study 1.2.1 20200101",
                                                  "series 1 CT 1.2.1.1 files=1 frames=1",
                                                  "patient alpha^bea 19700101",
                                                  "study 1.1.2 20240101",
                                                  "series 1 CT 1.1.2.1 files=1 frames=1",
                                                  "study 1.1.1 20230101",
                                                  "series 0 CT 1.1.1.0 files=1 frames=1",
                                                  "series 1 CT 1.1.1.1 files=2 frames=2",
                                                  "series 3 CT 1.1.1.3 files=1 frames=1",
                                                  "study 1.1.3 ",
                                                  "series 1 CT 1.1.3.1 files=1 frames=1",
                                                  "patient beta^carl 19800202",
                                                  "study 1.9.1 20220505",
                                                  "series 1 CT 1.9.1.1 files=1 frames=1",
                                                  "patient Zeta^Zed 19500505",
                                                  "study  20210101",
                                                  "series 1 CT .1 files=1 frames=1",
                                                  "study  20210101",
                                                  "series 1 CT .1 files=1 frames=1",
                                              }));
}

using Position = std::array<double, 3>;

struct OrderFile {
    std::string name;
    std::optional<int> acquisition;
    std::optional<int> instance;
    std::optional<Position> position;
    std::string sopInstanceUid;
};

struct OrderCase {
    const char* label;
    std::string orientation;
    std::vector<OrderFile> files;  // in the order they are added first
    std::vector<std::string> expected;
};

// Row x column of "1\0\0\0\0\-1" is +y: positions order by y, not by z or by name.
const std::string kAxial = "1\\0\\0\\0\\1\\0";
const OrderCase kOrderCases[] = {
    {"InstanceNumbers",
     kAxial,
     {{"a", {}, 3, {}, ""}, {"x", {}, 1, {}, ""}, {"m", {}, 2, {}, ""}},
     {"x", "m", "a"}},
    {"AcquisitionBeforeInstance",
     kAxial,
     {{"a", 2, 1, {}, ""}, {"b", 1, 2, {}, ""}, {"c", 1, 1, {}, ""}},
     {"c", "b", "a"}},
    {"PositionWhenNumbersMissing",
     kAxial,
     {{"a", {}, {}, Position{0, 0, 10}, ""},
      {"b", {}, {}, Position{0, 0, -3}, ""},
      {"c", {}, {}, Position{0, 0, 5}, ""}},
     {"b", "c", "a"}},
    {"PositionAlongAnObliqueNormal",
     "1\\0\\0\\0\\0\\-1",
     {{"a", {}, 7, Position{0, 20, -5}, ""},
      {"b", {}, 7, Position{0, -10, 30}, ""},
      {"c", {}, 7, Position{0, 5, 0}, ""}},
     {"b", "c", "a"}},
    {"FilesWithoutPositionLast",
     kAxial,
     {{"a", {}, {}, Position{0, 0, 1}, ""},
      {"b", {}, {}, {}, ""},
      {"c", {}, {}, Position{0, 0, -1}, ""}},
     {"c", "a", "b"}},
    {"SopInstanceUidThenPath",
     kAxial,
     {{"a", {}, 4, {}, "1.3"}, {"b", {}, 4, {}, "1.2"}, {"d", {}, 4, {}, ""}, {"c", {}, 4, {}, ""}},
     {"c", "d", "b", "a"}},
};

class StudyModelLoadOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(StudyModelLoadOrder, SameOrderFromEveryArrivalOrder) {
    const OrderCase& order = GetParam();
    const auto dir = test::ScratchDir(std::string("study-order-") + order.label);
    std::vector<std::string> paths;
    std::map<std::string, std::string> nameOf;
    for (const OrderFile& file : order.files) {
        StudyTestImage image;
        image.seriesNumber = 1;
        image.acquisitionNumber = file.acquisition;
        image.instanceNumber = file.instance;
        image.position = file.position;
        image.orientation = order.orientation;
        image.sopInstanceUid = file.sopInstanceUid;
        paths.push_back((dir / file.name).string());
        nameOf[paths.back()] = file.name;
        WriteStudyTestImage(paths.back(), image);
    }
    CStudyModelLoader loader;
    std::sort(paths.begin(), paths.end());
    do {
        // A list that only inserts at the positions the model reports ends in its order.
        StudyModel model;
        std::vector<std::string> rows;
        for (const std::string& path : paths)
            rows.insert(rows.begin() + loader.Add(model, path)->file.position, nameOf[path]);
        EXPECT_EQ(rows, order.expected);
        std::vector<std::string> names;
        const auto series = model.Snapshot().at(0).studies.at(0).series.at(0);
        for (const std::string& path : model.GetSeriesFiles(series.id))
            names.push_back(nameOf[path]);
        EXPECT_EQ(names, order.expected);
    } while (std::next_permutation(paths.begin(), paths.end()));
}

INSTANTIATE_TEST_SUITE_P(Cases, StudyModelLoadOrder, ::testing::ValuesIn(kOrderCases),
                         [](const auto& param) { return std::string(param.param.label); });

// The tree that adding the files one by one gives.
TEST(StudyModelThreads, PoolThreadsAddWhileTheUiThreadReads) {
    auto paths = WriteMixedStudyFolder(test::ScratchDir("study-model-threads"));
    std::shuffle(paths.begin(), paths.end(), std::mt19937(7));
    CStudyModelLoader loader;
    StudyModel model;
    constexpr size_t kThreads = 4;
    std::atomic<bool> stop{false};
    {
        std::jthread reader([&] {
            while (!stop)
                for (const PatientView& patient : model.Snapshot())
                    for (const StudyView& study : patient.studies)
                        for (const SeriesView& series : study.series)
                            EXPECT_GE(model.GetSeriesFiles(series.id).size(), series.fileCount);
        });
        std::vector<std::jthread> pool;
        for (size_t t = 0; t < kThreads; ++t) {
            pool.emplace_back([&, t] {
                for (size_t i = t; i < paths.size(); i += kThreads)
                    loader.Add(model, paths[i]);
            });
        }
        pool.clear();
        stop = true;
    }
    StudyModel sequential;
    for (const std::string& path : paths)
        loader.Add(sequential, path);
    EXPECT_EQ(SnapshotRows(model.Snapshot()), SnapshotRows(sequential.Snapshot()));
}

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
using Groups = std::array<Partition, 3>;  // patients, studies, series

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
                groups[2].emplace(files.begin(), files.end());
                studyFiles.insert(files.begin(), files.end());
            }
            patientFiles.insert(studyFiles.begin(), studyFiles.end());
            groups[1].insert(studyFiles);
        }
        groups[0].insert(patientFiles);
    }
    return groups;
}

// The images of the shared corpus that both we and dcmdump read, as a scan would offer them.
std::vector<std::string> CorpusImages(CStudyModelLoader& loader,
                                      std::map<std::string, Values>& dumped) {
    std::vector<std::string> candidates;
    for (const char* folder : kFolders) {
        const auto dir = test::TestDataDir() / folder;
        if (!std::filesystem::is_directory(dir)) continue;
        for (const std::string& path : FilesBelow(dir)) {
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
    CStudyModelLoader loader;
    std::map<std::string, Values> dumped;
    const std::vector<std::string> paths = CorpusImages(loader, dumped);
    ASSERT_GT(paths.size(), 300u);
    StudyModel model;
    for (const std::string& path : paths)
        loader.Add(model, path);

    const Groups expected = ExpectedGroups(paths, dumped);
    // Partitions of the file set: gtest prints both sides when they differ.
    EXPECT_EQ(ModelGroups(model), expected);
    size_t listed = 0;
    for (const auto& files : expected[2])
        listed += files.size();
    EXPECT_EQ(model.FileCount(), listed);
    EXPECT_EQ(model.FileCount() + model.DuplicateCount(), paths.size());
}

namespace fs = std::filesystem;

// A study folder: CT, PET and multi-frame series in nested folders.
fs::path WriteStudyFolder(const fs::path& root, const std::string& uidRoot, int slices) {
    phantom::PhantomOptions options;
    options.columns = options.rows = 32;
    options.slices = slices;
    options.frames = 4;
    options.uidRoot = uidRoot;
    std::string error;
    EXPECT_TRUE(phantom::WriteStudy(root, {true, true, true, false}, options, &error)) << error;
    return root;
}

// A small image that also carries a Directory Record Sequence: a DICOMDIR by content.
void WriteDirectoryLookalike(const fs::path& path) {
    phantom::CDataSetWriter data;
    data.AddString(0x00080016, "UI", "1.2.840.10008.1.3.10");
    data.AddString(0x00080018, "UI", "2.25.99");
    data.BeginSequence(0x00041220, true);
    data.EndSequence();
    data.AddUS(0x00280010, 2);
    data.AddUS(0x00280011, 2);
    data.AddUS(0x00280100, 16);
    data.AddUS(0x00280101, 16);
    data.AddString(0x00280004, "CS", "MONOCHROME2");
    const uint8_t pixels[8] = {};
    data.AddRaw(0x7FE00010, "OW", pixels);
    std::string error;
    EXPECT_TRUE(
        phantom::WriteDicomFile(path, {"1.2.840.10008.1.3.10", "2.25.99", ""}, data, &error))
        << error;
}

size_t SeriesCount(const std::vector<PatientView>& patients) {
    size_t count = 0;
    for (const auto& patient : patients)
        for (const auto& study : patient.studies)
            count += study.series.size();
    return count;
}

TEST(ScanAndLoadJob, ListsEverythingSkipsAndCountsWhatIsNotAnImage) {
    const fs::path root = test::ScratchDir("scan-mixed");
    WriteStudyFolder(root / "one", "2.25.1001", 6);
    WriteStudyFolder(root / "deep" / "er" / "two", "2.25.1002", 5);
    std::ofstream(root / "notes.txt") << "not an image";
    std::ofstream(root / "empty.dcm");
    fs::copy_file(test::SmallCtSeries(8).front(), root / "DicomDir");  // skipped by name
    WriteDirectoryLookalike(root / "index.dcm");                       // rejected by content
    fs::copy_file(test::SmallCtSeries(8).front(), root / "one" / "copy-of-a-slice.dcm");
    ASSERT_EQ(mkfifo((root / "pipe").c_str(), 0600), 0);
    fs::create_directory_symlink("..", root / "deep" / "loop");
    fs::create_symlink(root / "gone", root / "dangling");

    CSimulatedMemoryLoad load(10);
    CMemoryServices services(load, test::QuietOptions());
    StudyModel model;
    HeadlessScanRequest request;
    request.folders = {(root / "").string()};  // a trailing slash changes nothing
    const HeadlessScanSummary summary = RunHeadlessScan(services.Manager(), model, request);

    EXPECT_TRUE(summary.finished);
    // Every file the phantom wrote is an image, and so is the copied slice of a third series.
    uint32_t images = 0;
    for (const char* study : {"one", "deep/er/two"}) {
        for (const auto& entry : fs::recursive_directory_iterator(root / study)) {
            images += entry.is_regular_file();
        }
    }
    EXPECT_EQ(summary.loaded, images);
    EXPECT_EQ(summary.skippedFiles, 4u);  // notes, empty, DicomDir, index
    // The FIFO, the dangling link and the link back up, whose folder was entered already.
    EXPECT_EQ(summary.skippedEntries, 3u);
    EXPECT_EQ(summary.total, images + 4);
    EXPECT_EQ(model.FileCount(), images);
    EXPECT_EQ(SeriesCount(model.Snapshot()), 2u * 3 + 1);
}

}  // namespace
}  // namespace vexel
