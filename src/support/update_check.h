// The update check's texts, without a network or a window: the query it sends, the reply it
// accepts and the page it may open. Everything from the server is checked here.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/version.h"

namespace vexel {

using FourPartVersion = std::array<uint32_t, 4>;

// The platform value sent with every query and page address of this build.
inline constexpr const auto& kUpdatePlatform = kBuildPlatform;

// RFC 3986 unreserved characters stay; every other byte becomes %XX.
std::string PercentEncode(std::string_view value);
// Appends "key=value" with '?' or '&', whichever the address needs.
std::string AppendQuery(std::string url, std::string_view key, std::string_view value);

// An identifier the server may hand out: [A-Za-z0-9._-]{1,64}.
bool IsValidCheckId(std::string_view id);

struct UpdateQuery {
    bool manual = false;
    std::string version;        // "1.2.3.4"
    std::string languageCode;   // UTF-8
    FourPartVersion ignoreVersion{};  // all 0: none
    std::string checkId;        // sent only when valid
};
// The path and query of a check, e.g. "/u.php?b=0&p=...&v=...&l=...".
std::string UpdateQueryPath(const UpdateQuery& query);

// "a[.b[.c[.d]]]" with plain decimal parts; anything else is no version.
std::optional<FourPartVersion> ParseVersion(std::string_view text);

struct UpdateOffer {
    FourPartVersion version{};
    std::string title;  // empty: the default title
    std::string url;    // empty: the default page
    bool offerIgnore = true;  // the "Don't remind me" box
    int width = 500;
    int height = 300;
};

struct UpdateAnswer {
    enum class Kind { kNothing, kOk, kOffer } kind = Kind::kNothing;
    std::optional<std::string> checkId;  // a valid "c" of "ok"
    bool noUpdatesNotice = false;         // "ok" with m="1" on a manual check
    UpdateOffer offer;
};
// Reads the server's XML reply. An offer of a version not newer than `current` or a reply
// that is not well formed gives kNothing.
UpdateAnswer ParseUpdateReply(std::string_view body, bool manual, const FourPartVersion& current);

// The address the update window may open: `offered` when it is http or https on
// `updateHost` (host[:port]) or one of its subdomains, otherwise the default page; both
// carry the platform and version.
std::string UpdatePageUrl(std::string_view offered, std::string_view updateHost,
                          std::string_view version);

// Year, month and day of a UTC time, as the last-check date compares them.
struct CheckDate {
    int year = 0, month = 0, day = 0;
    bool operator==(const CheckDate&) const = default;
};
CheckDate UtcDate(int64_t unixSeconds);

}  // namespace vexel
