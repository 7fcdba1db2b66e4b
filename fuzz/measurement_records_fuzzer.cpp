// The measurement record stream as the series state store hands it back: any bytes must read
// without a crash, and what was read must write and read back the same.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "measure/measurement_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vexel;
    const std::vector<MeasurementRecord> records = ReadRecords(std::span(data, size));
    const std::string written = WriteRecords(records);
    const auto again = ReadRecords(
        std::span(reinterpret_cast<const uint8_t*>(written.data()), written.size()));
    // NaN coordinates compare unequal; compare the bytes of a second write instead.
    if (WriteRecords(again) != written) std::abort();
    return 0;
}
