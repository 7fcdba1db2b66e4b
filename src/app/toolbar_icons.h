// The main window toolbar's icons: SVG line art compiled into the program as Qt resources
// under ":/icons/toolbar/<id>.svg" (data/icons/toolbar).
#pragma once

#include <QIcon>
#include <span>
#include <string_view>

namespace vexel {

// Every icon id, in the order of the toolbar's buttons.
std::span<const std::string_view> ToolbarIconIds();

// The icon of that id, drawn at any size by the SVG icon engine; a null icon for an unknown
// id.
QIcon ToolbarIcon(std::string_view id);

}  // namespace vexel
