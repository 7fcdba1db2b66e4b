// Headers as a CT scanner writes them: acquisition attributes, a few sequences and blocks of
// private elements, some of them large binary values (OB, OW, UN), about 270 elements a file.
// Only the benchmarks ask for them; the default study leaves them out.
#include <cstdio>
#include <cstring>
#include <vector>

#include "phantom/phantom_common.h"

namespace vexel::phantom::detail {
namespace {

// Deterministic filler for the binary blocks: the same bytes for the same tag and slice.
std::vector<uint8_t> FillerBytes(uint32_t tag, int slice, size_t size) {
    std::vector<uint8_t> bytes(size);
    uint32_t state = tag ^ (static_cast<uint32_t>(slice) * 2654435761u) ^ 0x9E3779B9u;
    for (uint8_t& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

// One binary number as little-endian bytes (the host's order, as the writer assumes).
template <typename T>
std::vector<uint8_t> Bytes(T value) {
    std::vector<uint8_t> bytes(sizeof(T));
    std::memcpy(bytes.data(), &value, sizeof(T));
    return bytes;
}

std::string Decimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", value);
    return text;
}

void AddAcquisition(CElementSet& set, const PhantomOptions& options, int slice) {
    set.SetString(0x00080012, "DA", kStudyDate);
    set.SetString(0x00080013, "TM", "093512");
    set.SetString(0x00080014, "UI", MakeUid(options.uidRoot, {9, 1}));
    set.SetString(0x00080201, "SH", "+0100");
    set.SetString(0x00081010, "SH", "CT01_OC0");
    set.SetString(0x00081040, "LO", "RADIOLOGY");
    set.SetString(0x00081090, "LO", "Phantom Scanner 64");
    set.SetString(0x001021B0, "LT", "");
    set.SetString(0x00180010, "LO", "IOHEXOL 300");
    set.SetString(0x00180015, "CS", "CHEST");
    set.SetString(0x00180022, "CS", "HELICAL MODE");
    set.SetString(0x00180090, "DS", "500.000000");
    set.SetString(0x00181000, "LO", "SN0042");
    set.SetString(0x00181030, "LO", "THORAX ROUTINE");
    set.SetString(0x00181100, "DS", "338.671600");
    set.SetString(0x00181110, "DS", "1099.3100585938");
    set.SetString(0x00181111, "DS", "630.000000");
    set.SetString(0x00181130, "DS", "133.699997");
    set.SetString(0x00181140, "CS", "CW");
    set.SetString(0x00181150, "IS", "1601");
    set.SetString(0x00181151, "IS", "170");
    set.SetString(0x00181152, "IS", "272");
    set.SetString(0x00181160, "SH", "BODY FILTER");
    set.SetString(0x00181170, "IS", "24");
    set.SetString(0x00181190, "DS", "0.700000\\1.200000");
    set.SetString(0x00181200, "DA", "20240301");
    set.SetString(0x00181201, "TM", "070000");
    set.SetBytes(0x00189305, "FD", Bytes<double>(1.0));
    set.SetBytes(0x00189306, "FD", Bytes<double>(0.625));
    set.SetBytes(0x00189307, "FD", Bytes<double>(40.0));
    set.SetBytes(0x00189309, "FD", Bytes<double>(39.375));
    set.SetBytes(0x00189310, "FD", Bytes<double>(39.375));
    set.SetBytes(0x00189311, "FD", Bytes<double>(0.984375));
    set.SetString(0x00189323, "CS", "NONE");
    set.SetBytes(0x00189324, "FD", Bytes<double>(28.5));
    set.SetBytes(0x00189345, "FD", Bytes<double>(12.7 + slice % 7 * 0.1));
    set.SetString(0x00200060, "CS", "");
    set.SetString(0x00204000, "LT", "Phantom scanner headers");
    set.SetString(0x00400244, "DA", kStudyDate);
    set.SetString(0x00400245, "TM", "093000");
    set.SetString(0x00400253, "SH", "PPS0001");
    set.SetString(0x00400254, "LO", "CT THORAX");
    set.SetString(0x00880140, "UI", MakeUid(options.uidRoot, {9, 2}));
}

void AddSequences(CElementSet& set, const PhantomOptions& options, int slice) {
    std::vector<CElementSet> references;
    for (int neighbour : {slice, slice + 2}) {
        CElementSet item;
        item.SetString(0x00081150, "UI", "1.2.840.10008.5.1.4.1.1.2");
        item.SetString(0x00081155, "UI", MakeUid(options.uidRoot, {4, 1, neighbour}));
        references.push_back(std::move(item));
    }
    set.SetSequence(0x00081140, std::move(references));

    CElementSet phantomType;
    phantomType.SetString(0x00080100, "SH", "113691");
    phantomType.SetString(0x00080102, "SH", "DCM");
    phantomType.SetString(0x00080104, "LO", "IEC Body Dosimetry Phantom");
    set.SetSequence(0x00189346, {phantomType}, true);

    CElementSet request;
    request.SetString(0x00400007, "LO", "CT THORAX");
    request.SetString(0x00400009, "SH", "SPS0001");
    request.SetString(0x00401001, "SH", "RP0001");
    set.SetSequence(0x00400275, {request});
}

// A private block: its creator at (gggg,0010) and elements (gggg,10xx) from `first` on.
struct PrivateBlock {
    uint16_t group;
    const char* creator;
    int count;
};

// Numbers of the kinds scanners keep in their private groups, cycling through the VRs.
void AddPrivateNumbers(CElementSet& set, const PrivateBlock& block, int slice) {
    const uint32_t base = static_cast<uint32_t>(block.group) << 16;
    set.SetString(base | 0x0010, "LO", block.creator);
    for (int i = 0; i < block.count; ++i) {
        const uint32_t tag = base | (0x1001u + static_cast<uint32_t>(i));
        const int value = (i * 37 + slice) % 1000;
        switch (i % 6) {
            case 0: set.SetBytes(tag, "SS", Bytes<int16_t>(static_cast<int16_t>(value - 500))); break;
            case 1: set.SetBytes(tag, "SL", Bytes<int32_t>(value * 1000 + 7)); break;
            case 2: set.SetString(tag, "DS", Decimal(value / 7.0)); break;
            case 3: set.SetBytes(tag, "FL", Bytes<float>(static_cast<float>(value) * 0.25f)); break;
            case 4: set.SetString(tag, "SH", "P" + std::to_string(value)); break;
            default: set.SetBytes(tag, "UL", Bytes<uint32_t>(static_cast<uint32_t>(value) * 65537u)); break;
        }
    }
}

void AddPrivateBlocks(CElementSet& set, int slice) {
    static constexpr PrivateBlock kNumberBlocks[] = {
        {0x0009, "VEXEL_IDEN_01", 10}, {0x0019, "VEXEL_ACQU_01", 40}, {0x0021, "VEXEL_RELA_01", 14},
        {0x0023, "VEXEL_STDY_01", 3},  {0x0025, "VEXEL_SERS_01", 8},  {0x0027, "VEXEL_IMAG_01", 20},
        {0x0043, "VEXEL_PARM_01", 22},
    };
    for (const PrivateBlock& block : kNumberBlocks) AddPrivateNumbers(set, block, slice);

    // Large binary blocks: vendor headers, raw protocol dumps and calibration tables.
    set.SetBytes(0x00431029, "OB", FillerBytes(0x00431029, slice, 2048));
    set.SetBytes(0x0043102A, "OB", FillerBytes(0x0043102A, slice, 3072));
    set.SetString(0x00290010, "LO", "VEXEL_HDR_01");
    set.SetString(0x00291008, "CS", "IMAGE NUM 4");
    set.SetString(0x00291009, "LO", "20240315");
    set.SetBytes(0x00291010, "OB", FillerBytes(0x00291010, slice, 11 * 1024));
    set.SetString(0x00291018, "CS", "SERIES NUM 4");
    set.SetBytes(0x00291020, "OB", FillerBytes(0x00291020, slice, 60 * 1024));
    set.SetString(0x00450010, "LO", "VEXEL_CALB_01");
    set.SetBytes(0x00451001, "OW", FillerBytes(0x00451001, slice, 16 * 1024));
    set.SetString(0x00451002, "LO", "CALIBRATION");
    set.SetString(0x70050010, "LO", "VEXEL_RAW_01");
    set.SetBytes(0x70051001, "UN", FillerBytes(0x70051001, slice, 24 * 1024));
    set.SetBytes(0x70051002, "UN", FillerBytes(0x70051002, slice, 1500));
    set.SetString(0x70051003, "SH", "RAW");
}

}  // namespace

void AddScannerHeaders(CElementSet& set, const PhantomOptions& options, int slice) {
    AddAcquisition(set, options, slice);
    AddSequences(set, options, slice);
    AddPrivateBlocks(set, slice);
}

}  // namespace vexel::phantom::detail
