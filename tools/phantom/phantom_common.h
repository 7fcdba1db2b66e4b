// Pieces every phantom series shares: UIDs, text in the chosen character set, the patient,
// study, series and image-plane modules, and the staging folder that makes a series appear
// all at once.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "phantom/element_set.h"
#include "phantom/phantom_writer.h"

namespace vexel::phantom::detail {

inline constexpr int kCtSeriesNumber = 1;
inline constexpr int kPetSeriesNumber = 2;
inline constexpr int kMultiFrameSeriesNumber = 3;
inline constexpr int kRgbSeriesNumber = 4;
inline constexpr int kMarkerSeriesNumber = 5;

inline constexpr const char* kStudyDate = "20240315";
inline constexpr const char* kStudyTime = "093000";

std::string MakeUid(const std::string& root, std::initializer_list<int> parts);
// Decimal String of at most 16 characters, as precise as that allows.
std::string FormatDs(double value);
std::string FormatDs(std::initializer_list<double> values);
// UTF-8 text re-encoded for the option's character set (Latin-1 keeps code points < 256).
std::string EncodeText(std::string_view utf8, TextCharset charset);

struct SeriesInfo {
    int seriesNumber = 0;
    const char* modality = "";
    const char* sopClassUid = "";
    const char* description = "";
    const char* seriesTime = "";
};

void AddPatientAndStudy(CElementSet& set, const PhantomOptions& options);
void AddSeriesAndInstance(CElementSet& set, const PhantomOptions& options, const SeriesInfo& series,
                          int instanceNumber);
// Image Position/Orientation, spacings, Slice Location, Frame of Reference.
void AddImagePlane(CElementSet& set, const PhantomOptions& options, const VolumeGeometry& geometry,
                   int slice);
// MONOCHROME2, 16 bits allocated and stored.
void AddGrayPixelModule(CElementSet& set, int rows, int columns, bool isSigned);
// What a CT scanner adds to a slice (options.scannerHeaders): acquisition attributes,
// sequences and private blocks with large binary values.
void AddScannerHeaders(CElementSet& set, const PhantomOptions& options, int slice);

std::vector<uint8_t> LittleEndianBytes(std::span<const int16_t> values);
std::vector<uint8_t> LittleEndianBytes(std::span<const uint16_t> values);

// Encodes the set and writes it as a DICOM file with a meta group for this SOP instance.
bool WriteInstance(const std::filesystem::path& file, const CElementSet& set,
                   const PhantomOptions& options, std::string* error);

// A hidden folder beside the series folder; Commit swaps it in, otherwise it is removed.
class CSeriesStage {
public:
    explicit CSeriesStage(std::filesystem::path seriesDir);
    ~CSeriesStage();
    CSeriesStage(const CSeriesStage&) = delete;
    CSeriesStage& operator=(const CSeriesStage&) = delete;

    bool Begin(std::string* error);
    std::filesystem::path FilePath(const std::string& prefix, int number) const;
    bool Commit(std::string* error);

private:
    std::filesystem::path m_seriesDir;
    std::filesystem::path m_stageDir;
    bool m_begun = false;
    bool m_committed = false;
};

}  // namespace vexel::phantom::detail
