// Helpers for comparing decoded frames with other toolkits.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dicom/dicom_file.h"
#include "imaging/dicom_frame.h"

namespace vexel::test {

struct FrameSummary {
    double minimum = 0;
    double maximum = 0;
    double mean = 0;
    std::string md5;
};

// Statistics of the stored values (greyscale) or of all samples (colour), and the MD5 of
// the buffer.
FrameSummary Summarise(const CDicomFrame& frame, const uint8_t* pixels, bool isSigned);

// The frame as 8-bit RGB, decoded by DCMTK's dcm2pnm (empty when that fails).
std::vector<uint8_t> Dcm2PnmRgb(const std::string& path, int frame);

// Rescale Slope as stored in the file (1 when absent).
double RescaleSlopeOf(CDicomFile& file);

// "" when a and b agree within tolerance, else where they first differ.
std::string FirstDifference(const uint8_t* a, const uint8_t* b, size_t size, int tolerance);

}  // namespace vexel::test
