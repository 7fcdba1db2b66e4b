// vexel scan: the same scan job the viewer runs, without a window. The tree goes to stdout
// in display order; progress goes to stderr when it is a terminal.
#include "cli/scan_command.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/json_text.h"
#include "engine/archive_name.h"
#include "engine/headless_scan.h"
#include "engine/memory_manager.h"
#include "engine/zip_engine.h"
#include "imaging/binary_value_cacher.h"
#include "engine/study_model.h"
#include "engine/study_model_text.h"

namespace vexel::cli {
namespace {

constexpr const char* kUnnamed = "unnamed";

std::string OrUnnamed(const std::string& text) {
    return text.empty() ? kUnnamed : text;
}

// "%s: %d series", as the study header shows it.
std::string StudyHeader(const StudyView& study) {
    const std::string modality = study.modalities.empty() ? "" : study.modalities.front();
    return modality + ": " + std::to_string(study.series.size()) + " series";
}

void PrintText(const std::vector<PatientView>& patients) {
    for (const PatientView& patient : patients) {
        std::printf("%s", OrUnnamed(DisplayPersonName(patient.name)).c_str());
        if (!patient.birthDate.empty()) std::printf("  %s", patient.birthDate.c_str());
        std::printf("\n");
        for (const StudyView& study : patient.studies) {
            std::printf("  %s %s  %s  %s\n", study.date.c_str(), study.time.c_str(),
                        OrUnnamed(study.description).c_str(), StudyHeader(study).c_str());
            for (const SeriesView& series : study.series) {
                std::printf("    %d  %s  %s  %u\n", series.seriesNumber,
                            OrUnnamed(series.description).c_str(), series.modality.c_str(),
                            series.frameTotal);
            }
        }
    }
}

void PrintSeriesJson(const StudyModel& model, const SeriesView& series) {
    std::printf(
        "{\"seriesInstanceUid\":%s,\"number\":%d,\"description\":%s,\"modality\":%s,"
        "\"images\":%u,\"files\":%u,\"sopInstanceUids\":[",
        JsonQuoted(series.seriesInstanceUid).c_str(), series.seriesNumber,
        JsonQuoted(series.description).c_str(), JsonQuoted(series.modality).c_str(),
        series.frameTotal, series.fileCount);
    const auto records = model.GetSeriesFileRecords(series.id);
    for (size_t i = 0; i < records.size(); ++i) {
        std::printf("%s%s", i ? "," : "", JsonQuoted(records[i].sopInstanceUid).c_str());
    }
    std::printf("]}");
}

void PrintJson(const StudyModel& model, const std::vector<PatientView>& patients,
               const HeadlessScanSummary& summary) {
    std::printf("{\"patients\":[");
    for (size_t p = 0; p < patients.size(); ++p) {
        const PatientView& patient = patients[p];
        std::printf("%s{\"name\":%s,\"birthDate\":%s,\"studies\":[", p ? "," : "",
                    JsonQuoted(patient.name).c_str(), JsonQuoted(patient.birthDate).c_str());
        for (size_t s = 0; s < patient.studies.size(); ++s) {
            const StudyView& study = patient.studies[s];
            std::printf(
                "%s{\"studyInstanceUid\":%s,\"date\":%s,\"time\":%s,\"description\":%s,"
                "\"header\":%s,\"series\":[",
                s ? "," : "", JsonQuoted(study.studyInstanceUid).c_str(),
                JsonQuoted(study.date).c_str(), JsonQuoted(study.time).c_str(),
                JsonQuoted(study.description).c_str(), JsonQuoted(StudyHeader(study)).c_str());
            for (size_t i = 0; i < study.series.size(); ++i) {
                if (i) std::printf(",");
                PrintSeriesJson(model, study.series[i]);
            }
            std::printf("]}");
        }
        std::printf("]}");
    }
    std::printf("],\"listed\":%u,\"loaded\":%u,\"skipped\":%u,\"duplicates\":%u}\n", summary.total,
                summary.loaded, summary.skippedFiles + summary.skippedEntries, summary.duplicates);
}

// A new folder only this user can enter, under the temporary folder.
std::filesystem::path MakePrivateFolder() {
    std::error_code error;
    std::string pattern =
        (std::filesystem::temp_directory_path(error) / "vexel-zip-XXXXXX").string();
    if (error || mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

void ReportArchiveProblems(const ArchiveProblems& problems) {
    if (problems.moduleMissing) std::fprintf(stderr, "vexel: the ZIP module could not be loaded\n");
    if (problems.unreadable) std::fprintf(stderr, "vexel: the ZIP archive could not be read\n");
    if (problems.encrypted > 0)
        std::fprintf(stderr, "vexel: %u encrypted entries skipped\n", problems.encrypted);
    if (problems.damaged > 0)
        std::fprintf(stderr, "vexel: %u damaged entries skipped\n", problems.damaged);
    if (problems.diskFull) std::fprintf(stderr, "vexel: the disk is full; archive partly read\n");
    if (problems.limitReached)
        std::fprintf(stderr, "vexel: the archive exceeds the space allowed; partly read\n");
}

}  // namespace

int RunScan(int argc, char** argv, CMemoryManager& files) {
    bool json = false;
    bool usage = false;
    HeadlessScanRequest request;
    for (int i = 0; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--json") {
            json = true;
        } else if (argument.size() > 1 && argument[0] == '-') {
            usage = true;
        } else {
            std::error_code ec;
            (std::filesystem::is_directory(argument, ec) ? request.folders : request.files)
                .push_back(argument);
        }
    }
    if (usage || (request.folders.empty() && request.files.empty())) {
        std::fprintf(stderr, "usage: vexel scan [--json] PATH...\n");
        return 2;
    }
    const bool showProgress = isatty(STDERR_FILENO) == 1;
    if (showProgress) {
        request.progress = [](uint32_t processed, uint32_t total) {
            if (total == 0) return;
            std::fprintf(stderr, "\rScanning folder... %u%% (%u of %u)", processed * 100 / total,
                         processed, total);
        };
    }
    // A lone archive is unpacked into a private folder that goes when the scan is done.
    std::unique_ptr<CZIPEngine> zip;
    std::unique_ptr<CBinaryValueCacher> cache;
    std::filesystem::path unpackFolder;
    if (request.folders.empty() && request.files.size() == 1 &&
        (IsArchivePath(request.files[0]) || IsZipByContent(request.files[0]))) {
        unpackFolder = MakePrivateFolder();
        if (unpackFolder.empty()) {
            std::fprintf(stderr, "vexel: no private folder to unpack the archive into\n");
            return 1;
        }
        request.archive = request.files[0];
        request.files.clear();
        zip = std::make_unique<CZIPEngine>();
        cache = std::make_unique<CBinaryValueCacher>(unpackFolder);
        request.zip = zip.get();
        request.cache = cache.get();
    }
    StudyModel model;
    const HeadlessScanSummary summary = RunHeadlessScan(files, model, request);
    ReportArchiveProblems(summary.archiveProblems);
    if (showProgress) std::fprintf(stderr, "\r\033[K");
    const auto patients = model.Snapshot();
    if (json) {
        PrintJson(model, patients, summary);
    } else {
        PrintText(patients);
    }
    std::fflush(stdout);
    // The unpacked files go once nothing reads them any more.
    model.Clear();
    files.ReleaseMemoryNow();
    cache.reset();
    if (!unpackFolder.empty()) {
        std::error_code error;
        std::filesystem::remove_all(unpackFolder, error);
    }
    const uint32_t skipped = summary.skippedFiles + summary.skippedEntries;
    if (skipped > 0)
        std::fprintf(stderr, "vexel: %u %s skipped\n", skipped, skipped == 1 ? "file" : "files");
    if (summary.loaded == 0) {
        std::fprintf(stderr, "vexel: No DICOM images found\n");
        return 1;
    }
    return 0;
}

}  // namespace vexel::cli
