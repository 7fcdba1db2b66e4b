// JSON string escaping for the machine-readable outputs of vexel.
#pragma once

#include <string>
#include <string_view>

namespace vexel::cli {

// The text as a quoted JSON string; invalid UTF-8 bytes become U+FFFD.
std::string JsonQuoted(std::string_view text);

}  // namespace vexel::cli
