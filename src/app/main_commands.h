// The main window's commands: their ids, the ten menus that drop down from the toolbar and
// the keyboard table. One table each, so the menus, the keys and the tests agree.
#pragma once

#include <Qt>
#include <cstdint>
#include <optional>
#include <span>

namespace vexel::command {

// Menu commands keep their numbers: language files and stored settings name them.
inline constexpr uint32_t kDefaultWindow = 8193;  // presets 0..7 are 8193..8200
inline constexpr uint32_t kLastPreset = 8200;
inline constexpr uint32_t kFillViewport = 8201;
inline constexpr uint32_t kZoom100 = 8202;
inline constexpr uint32_t kLength = 8203;
inline constexpr uint32_t kEllipse = 8204;
inline constexpr uint32_t kAbout = 8205;
inline constexpr uint32_t kOnlineHelp = 8206;
inline constexpr uint32_t kImportLanguage = 8208;
inline constexpr uint32_t kCheckUpdates = 8209;
inline constexpr uint32_t kOpenFile = 8210;
inline constexpr uint32_t kOpenFolder = 8211;
inline constexpr uint32_t kNegative = 8212;
inline constexpr uint32_t kOpenZip = 8213;
inline constexpr uint32_t kPencil = 8214;
inline constexpr uint32_t kDeleteSelected = 8215;
inline constexpr uint32_t kDeleteInImage = 8216;
inline constexpr uint32_t kDeleteInSeries = 8217;
inline constexpr uint32_t kExport = 8218;
inline constexpr uint32_t kCopy = 8219;
inline constexpr uint32_t kDownloadLanguages = 8221;
inline constexpr uint32_t kHomepage = 8223;
inline constexpr uint32_t kContactForm = 8225;
inline constexpr uint32_t kRotateCw = 8226;
inline constexpr uint32_t kRotateCcw = 8227;
inline constexpr uint32_t kRotate180 = 8228;
inline constexpr uint32_t kFlipVertical = 8229;
inline constexpr uint32_t kFlipHorizontal = 8230;
inline constexpr uint32_t kClearTransforms = 8231;
inline constexpr uint32_t kAddFile = 8232;
inline constexpr uint32_t kAddFolder = 8233;
inline constexpr uint32_t kAddZip = 8234;
inline constexpr uint32_t kAnnotations = 8235;
inline constexpr uint32_t kShowTags = 8236;
inline constexpr uint32_t kCoronal = 8237;
inline constexpr uint32_t kSagittal = 8238;
inline constexpr uint32_t kAxial = 8239;
inline constexpr uint32_t kAngle = 8240;
inline constexpr uint32_t kCobb = 8241;
inline constexpr uint32_t kZoom200 = 8242;
inline constexpr uint32_t kZoom400 = 8243;
inline constexpr uint32_t kZoom800 = 8244;
inline constexpr uint32_t kAutoSync = 8245;
inline constexpr uint32_t kReferenceLines = 8246;
// "Scan another folder?" answered yes: the folder browser without closing anything.
inline constexpr uint32_t kScanAnother = 4097;
// Language n of the list is 12288 + n.
inline constexpr uint32_t kFirstLanguage = 12288;

// Commands of keys and toolbar buttons only.
inline constexpr uint32_t kOpenDisc = 0x10000;
inline constexpr uint32_t kNextPanel = 0x10001;
inline constexpr uint32_t kPreviousPanel = 0x10002;
inline constexpr uint32_t kFirstSeries = 0x10003;
inline constexpr uint32_t kLastSeries = 0x10004;
inline constexpr uint32_t kPreviousSeries = 0x10005;
inline constexpr uint32_t kNextSeries = 0x10006;
inline constexpr uint32_t kToolBrowse = 0x10007;
inline constexpr uint32_t kToolWindow = 0x10008;
inline constexpr uint32_t kToolPan = 0x10009;
inline constexpr uint32_t kToolZoom = 0x1000A;
inline constexpr uint32_t kToolMeasure = 0x1000B;
inline constexpr uint32_t kFullScreen = 0x1000C;
inline constexpr uint32_t kCine = 0x1000D;
inline constexpr uint32_t kPreviousImage = 0x1000E;
inline constexpr uint32_t kNextImage = 0x1000F;
inline constexpr uint32_t kBack10 = 0x10010;
inline constexpr uint32_t kForward10 = 0x10011;
inline constexpr uint32_t kDeselect = 0x10012;
inline constexpr uint32_t kZoomIn = 0x10013;
inline constexpr uint32_t kZoomOut = 0x10014;
inline constexpr uint32_t kPanLeft = 0x10015;
inline constexpr uint32_t kPanRight = 0x10016;
inline constexpr uint32_t kPanUp = 0x10017;
inline constexpr uint32_t kPanDown = 0x10018;
inline constexpr uint32_t kClosePanel = 0x10019;
inline constexpr uint32_t kFusion = 0x1001A;
inline constexpr uint32_t kFontLarger = 0x1001B;
inline constexpr uint32_t kFontSmaller = 0x1001C;
inline constexpr uint32_t kSplitScreen = 0x1001D;
inline constexpr uint32_t kMinimize = 0x1001E;
inline constexpr uint32_t kClose = 0x1001F;
inline constexpr uint32_t kCloseAll = 0x10020;

}  // namespace vexel::command

namespace vexel {

// The menus, named by the toolbar button they drop down from.
enum class MainMenu : uint8_t {
    Open,
    Export,
    Browse,
    Window,
    Zoom,
    Measurements,
    Transformations,
    Annotations,
    Mpr,
    Help,
};
inline constexpr size_t kMainMenuCount = 10;

struct MenuEntry {
    MainMenu menu;
    uint32_t command;
    uint32_t textId;           // 0: `label` is the text
    const char* label;         // texts that are not translated ("100%")
    const char* shortcut;      // shown after the text; the keys are handled by the key table
    uint32_t submenuTextId;    // 0: in the menu itself
    bool separatorBefore;
    bool checkable;
};

// Every entry in menu order (the language list is added at run time).
std::span<const MenuEntry> MenuEntries();

struct KeyBinding {
    int key;                          // Qt::Key
    Qt::KeyboardModifiers modifiers;  // exactly these of Ctrl, Shift and Alt
    uint32_t command;
};

std::span<const KeyBinding> KeyBindings();

// The command of a key press. The keypad counts as the main keys; Shift+[ and the like
// arrive as '{' on most layouts and count as the bracket.
std::optional<uint32_t> CommandForKey(int key, Qt::KeyboardModifiers modifiers);

}  // namespace vexel
