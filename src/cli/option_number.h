// Numbers in vexel's options. They never follow the user's locale: "--zoom 1.5" means one and
// a half under a German locale too, where strtof would stop at the point.
#pragma once

namespace vexel::cli {

// A finite decimal number ("1.5", "-40", "2e1"), read as DS values are.
bool ParseFloatOption(const char* text, float& value);

}  // namespace vexel::cli
