// Where the chosen language is kept between runs: one per-user string named "LanguageCode".
// The application backs it with its settings file; tests with memory.
#pragma once

#include <optional>
#include <string>

namespace vexel {

class ILanguageSettings {
public:
    virtual ~ILanguageSettings() = default;
    // The stored code, or nothing when no choice was ever stored.
    virtual std::optional<std::string> LanguageCode() const = 0;
    virtual bool SetLanguageCode(const std::string& code) = 0;
};

}  // namespace vexel
