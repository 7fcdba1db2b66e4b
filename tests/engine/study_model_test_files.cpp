#include "study_model_test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "imaging/dicom_image.h"
#include "phantom/dicom_file_writer.h"

namespace vexel::test {
namespace {

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

}  // namespace

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

CStudyModelLoader::CStudyModelLoader() {
    MemoryServicesOptions options;
    options.manager.startMonitor = false;
    m_services = std::make_unique<CMemoryServices>(m_load, options);
}

std::optional<AddFileResult> CStudyModelLoader::Add(StudyModel& model, const std::string& path) {
    CMemoryManager::OpenResult opened = m_services->Manager().Open(path);
    EXPECT_TRUE(opened.file) << path << " did not open";
    if (!opened.file) return std::nullopt;
    return model.AddFile(*opened.file);
}

bool CStudyModelLoader::IsImage(const std::string& path) {
    CMemoryManager::OpenResult opened = m_services->Manager().Open(path);
    if (!opened.file) return false;
    const CDicomImage* image = CDicomImage::Of(*opened.file);
    return image != nullptr && image->FrameCount() > 0;
}

}  // namespace vexel::test
