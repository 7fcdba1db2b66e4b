#include "cli/option_number.h"

#include <cmath>
#include <optional>

#include "dicom/value_parser.h"

namespace vexel::cli {

bool ParseFloatOption(const char* text, float& value) {
    const std::optional<double> parsed = ParseDecimal(text);
    if (!parsed || !std::isfinite(*parsed)) return false;
    value = static_cast<float>(*parsed);
    return std::isfinite(value);
}

}  // namespace vexel::cli
