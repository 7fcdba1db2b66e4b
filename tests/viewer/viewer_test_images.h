// Images for the viewer tests: small hand-built files with known pixels, and phantom series.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dicom/dicom_file.h"
#include "imaging/dicom_image.h"

namespace vexel::test {

// One greyscale file: rows x columns of 16-bit stored values (two's complement when signed).
struct HandImage {
    std::vector<int32_t> pixels;  // row by row
    uint16_t rows = 1;
    uint16_t columns = 1;
    bool isSigned = false;
    std::string photometric = "MONOCHROME2";
    std::string modality = "CT";
    std::string windowCenter;  // DS text; empty: the element is left out
    std::string windowWidth;
    std::string rescaleSlope;
    std::string rescaleIntercept;
    int frames = 1;  // the pixels repeat in every frame
    // More elements, in ascending tag order; none may share a tag with the elements above
    // or fall between (0028,0100) and (0028,1053).
    struct Extra {
        uint32_t tag;
        std::string vr;
        std::string value;
    };
    std::vector<Extra> extra = {};
};

// A parsed file with its image attached; keeps the file alive.
struct OpenedImage {
    std::unique_ptr<CDicomFile> file = std::make_unique<CDicomFile>();
    CDicomImage* image = nullptr;
};

OpenedImage OpenHandImage(const HandImage& wanted, const std::string& name);
OpenedImage OpenFile(const std::filesystem::path& path);

// Small phantom series (4 slices of 64 x 64, CT and PET over the same patient and study),
// written once per test run; files in name order.
const std::vector<std::filesystem::path>& PhantomCtSeries();
const std::vector<std::filesystem::path>& PhantomPetSeries();
std::filesystem::path PhantomPetFile();

// Stored values of a greyscale frame as the frame decodes them.
std::vector<int32_t> StoredValues(CDicomImage& image, size_t frame);

}  // namespace vexel::test
