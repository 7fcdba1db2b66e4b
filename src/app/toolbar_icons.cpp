#include "app/toolbar_icons.h"

#include <QString>
#include <algorithm>
#include <array>

namespace vexel {

namespace {

constexpr std::array<std::string_view, 19> kIds = {
    "scan-folder", "cd-dvd",   "export", "split-screen", "annotations",      "browse-series",
    "window-level", "pan",     "zoom",   "measurements", "rotate",           "cine",
    "mpr",          "fusion",  "about",  "full-screen",  "exit-full-screen", "minimize",
    "close",
};

}  // namespace

std::span<const std::string_view> ToolbarIconIds() { return kIds; }

QIcon ToolbarIcon(std::string_view id) {
    // Only listed ids, so that a typo is a null icon rather than a path into the resources.
    if (std::find(kIds.begin(), kIds.end(), id) == kIds.end()) return QIcon();
    return QIcon(QStringLiteral(":/icons/toolbar/") +
                 QString::fromUtf8(id.data(), static_cast<qsizetype>(id.size())) +
                 QStringLiteral(".svg"));
}

}  // namespace vexel
