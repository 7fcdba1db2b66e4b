#include "app/main_commands.h"

#include <array>

namespace vexel {
namespace {

using namespace command;
using M = MainMenu;

constexpr uint32_t kAddImagesMenu = 1242;
constexpr uint32_t kDeleteRoisMenu = 1224;
constexpr uint32_t kLanguageMenu = 1214;
constexpr uint32_t kWebMenu = 1232;

constexpr MenuEntry kMenuEntries[] = {
    {M::Open, kOpenFolder, 1220, nullptr, "Ctrl+Shift+O", 0, false, false},
    {M::Open, kOpenFile, 1219, nullptr, "Ctrl+O", 0, false, false},
    {M::Open, kOpenZip, 1222, nullptr, nullptr, 0, false, false},
    {M::Open, kAddFolder, 1244, nullptr, nullptr, kAddImagesMenu, true, false},
    {M::Open, kAddFile, 1243, nullptr, nullptr, kAddImagesMenu, false, false},
    {M::Open, kAddZip, 1245, nullptr, nullptr, kAddImagesMenu, false, false},
    {M::Export, kExport, 1228, nullptr, "Ctrl+E", 0, false, false},
    {M::Export, kCopy, 1229, nullptr, "Ctrl+C", 0, false, false},
    {M::Browse, kAutoSync, 1246, nullptr, "Ctrl+Alt+S", 0, false, true},
    {M::Window, kDefaultWindow, 1201, nullptr, "0", 0, false, true},
    {M::Window, kDefaultWindow + 1, 1202, nullptr, "1", 0, false, true},
    {M::Window, kDefaultWindow + 2, 1203, nullptr, "2", 0, true, true},
    {M::Window, kDefaultWindow + 3, 1204, nullptr, "3", 0, false, true},
    {M::Window, kDefaultWindow + 4, 1205, nullptr, "4", 0, false, true},
    {M::Window, kDefaultWindow + 5, 1206, nullptr, "5", 0, false, true},
    {M::Window, kDefaultWindow + 6, 1207, nullptr, "6", 0, false, true},
    {M::Window, kDefaultWindow + 7, 1208, nullptr, "7", 0, false, true},
    {M::Window, kNegative, 1221, nullptr, "F11", 0, true, true},
    {M::Zoom, kFillViewport, 1209, nullptr, "Ctrl+0", 0, false, false},
    {M::Zoom, kZoom100, 0, "100%", "Ctrl+1", 0, true, false},
    {M::Zoom, kZoom200, 0, "200%", "Ctrl+2", 0, false, false},
    {M::Zoom, kZoom400, 0, "400%", "Ctrl+3", 0, false, false},
    {M::Zoom, kZoom800, 0, "800%", "Ctrl+4", 0, false, false},
    {M::Measurements, kLength, 1211, nullptr, "L", 0, false, true},
    {M::Measurements, kEllipse, 1212, nullptr, "E", 0, false, true},
    {M::Measurements, kPencil, 1223, nullptr, "P", 0, false, true},
    {M::Measurements, kAngle, 1247, nullptr, "A", 0, false, true},
    {M::Measurements, kCobb, 1248, nullptr, "C", 0, false, true},
    {M::Measurements, kDeleteSelected, 1225, nullptr, "Del", kDeleteRoisMenu, true, false},
    {M::Measurements, kDeleteInImage, 1226, nullptr, "Ctrl+Del", kDeleteRoisMenu, false, false},
    {M::Measurements, kDeleteInSeries, 1227, nullptr, "Ctrl+Shift+Del", kDeleteRoisMenu, false,
     false},
    {M::Transformations, kRotateCcw, 1237, nullptr, "Ctrl+[", 0, false, false},
    {M::Transformations, kRotateCw, 1236, nullptr, "Ctrl+]", 0, false, false},
    {M::Transformations, kRotate180, 1238, nullptr, nullptr, 0, false, false},
    {M::Transformations, kFlipHorizontal, 1239, nullptr, "Ctrl+Shift+[", 0, true, false},
    {M::Transformations, kFlipVertical, 1240, nullptr, "Ctrl+Shift+]", 0, false, false},
    {M::Transformations, kClearTransforms, 1241, nullptr, "Ctrl+Shift+\\", 0, true, false},
    {M::Annotations, kAnnotations, 1249, nullptr, "F12", 0, false, true},
    {M::Annotations, kReferenceLines, 1250, nullptr, "Ctrl+F12", 0, false, true},
    {M::Annotations, kShowTags, 1251, nullptr, "Ctrl+Alt+T", 0, true, false},
    {M::Mpr, kCoronal, 1252, nullptr, "Ctrl+Alt+1", 0, false, false},
    {M::Mpr, kSagittal, 1253, nullptr, "Ctrl+Alt+2", 0, false, false},
    {M::Mpr, kAxial, 1254, nullptr, "Ctrl+Alt+3", 0, false, false},
    {M::Help, kOnlineHelp, 1213, nullptr, "F1", 0, false, false},
    // The installed languages come first in this submenu, at run time.
    {M::Help, kDownloadLanguages, 1231, nullptr, nullptr, kLanguageMenu, true, false},
    {M::Help, kImportLanguage, 1217, nullptr, nullptr, 0, false, false},
    {M::Help, kCheckUpdates, 1218, nullptr, nullptr, 0, true, false},
    {M::Help, kHomepage, 1233, nullptr, nullptr, kWebMenu, true, false},
    {M::Help, kContactForm, 1235, nullptr, nullptr, kWebMenu, false, false},
    {M::Help, kAbout, 1215, nullptr, nullptr, 0, true, false},
};

constexpr Qt::KeyboardModifiers kNone = Qt::NoModifier;
constexpr Qt::KeyboardModifiers kCtrl = Qt::ControlModifier;
constexpr Qt::KeyboardModifiers kShift = Qt::ShiftModifier;
constexpr Qt::KeyboardModifiers kCtrlShift = Qt::ControlModifier | Qt::ShiftModifier;
constexpr Qt::KeyboardModifiers kCtrlAlt = Qt::ControlModifier | Qt::AltModifier;

constexpr KeyBinding kKeyBindings[] = {
    {Qt::Key_O, kCtrl, kOpenFile},
    {Qt::Key_O, kCtrlShift, kOpenFolder},
    {Qt::Key_O, kCtrlAlt, kOpenDisc},
    {Qt::Key_E, kCtrl, kExport},
    {Qt::Key_S, kCtrlAlt, kAutoSync},
    {Qt::Key_F12, kCtrl, kReferenceLines},
    {Qt::Key_Tab, kNone, kNextPanel},
    {Qt::Key_Tab, kShift, kPreviousPanel},
    {Qt::Key_Home, kNone, kFirstSeries},
    {Qt::Key_End, kNone, kLastSeries},
    {Qt::Key_Left, kNone, kPreviousSeries},
    {Qt::Key_Right, kNone, kNextSeries},
    {Qt::Key_B, kNone, kToolBrowse},
    {Qt::Key_W, kNone, kToolWindow},
    {Qt::Key_M, kNone, kToolPan},
    {Qt::Key_Z, kNone, kToolZoom},
    {Qt::Key_L, kNone, kLength},
    {Qt::Key_E, kNone, kEllipse},
    {Qt::Key_P, kNone, kPencil},
    {Qt::Key_A, kNone, kAngle},
    {Qt::Key_C, kNone, kCobb},
    {Qt::Key_F, kNone, kFullScreen},
    {Qt::Key_F1, kNone, kOnlineHelp},
    {Qt::Key_F12, kNone, kAnnotations},
    {Qt::Key_F11, kNone, kNegative},
    {Qt::Key_Space, kNone, kCine},
    {Qt::Key_Up, kNone, kPreviousImage},
    {Qt::Key_Down, kNone, kNextImage},
    {Qt::Key_PageUp, kNone, kBack10},
    {Qt::Key_PageDown, kNone, kForward10},
    {Qt::Key_0, kNone, kDefaultWindow},
    {Qt::Key_1, kNone, kDefaultWindow + 1},
    {Qt::Key_2, kNone, kDefaultWindow + 2},
    {Qt::Key_3, kNone, kDefaultWindow + 3},
    {Qt::Key_4, kNone, kDefaultWindow + 4},
    {Qt::Key_5, kNone, kDefaultWindow + 5},
    {Qt::Key_6, kNone, kDefaultWindow + 6},
    {Qt::Key_7, kNone, kDefaultWindow + 7},
    {Qt::Key_Delete, kNone, kDeleteSelected},
    {Qt::Key_Delete, kCtrl, kDeleteInImage},
    {Qt::Key_Delete, kCtrlShift, kDeleteInSeries},
    {Qt::Key_Escape, kNone, kDeselect},
    {Qt::Key_0, kCtrl, kFillViewport},
    {Qt::Key_1, kCtrl, kZoom100},
    {Qt::Key_2, kCtrl, kZoom200},
    {Qt::Key_3, kCtrl, kZoom400},
    {Qt::Key_4, kCtrl, kZoom800},
    {Qt::Key_Plus, kCtrl, kZoomIn},
    {Qt::Key_Minus, kCtrl, kZoomOut},
    {Qt::Key_Plus, kCtrlShift, kFontLarger},
    {Qt::Key_Minus, kCtrlShift, kFontSmaller},
    {Qt::Key_Left, kCtrl, kPanLeft},
    {Qt::Key_Right, kCtrl, kPanRight},
    {Qt::Key_Up, kCtrl, kPanUp},
    {Qt::Key_Down, kCtrl, kPanDown},
    {Qt::Key_BracketLeft, kCtrl, kRotateCcw},
    {Qt::Key_BracketRight, kCtrl, kRotateCw},
    {Qt::Key_BracketLeft, kCtrlShift, kFlipHorizontal},
    {Qt::Key_BracketRight, kCtrlShift, kFlipVertical},
    {Qt::Key_Backslash, kCtrlShift, kClearTransforms},
    {Qt::Key_C, kCtrl, kCopy},
    {Qt::Key_F4, kCtrl, kClosePanel},
    {Qt::Key_1, kCtrlAlt, kCoronal},
    {Qt::Key_2, kCtrlAlt, kSagittal},
    {Qt::Key_3, kCtrlAlt, kAxial},
    {Qt::Key_F, kCtrlAlt, kFusion},
    {Qt::Key_T, kCtrlAlt, kShowTags},
};

// The key a layout gives with Shift held, as the unshifted key it is printed on.
int UnshiftedKey(int key) {
    switch (key) {
        case Qt::Key_BraceLeft:
            return Qt::Key_BracketLeft;
        case Qt::Key_BraceRight:
            return Qt::Key_BracketRight;
        case Qt::Key_Bar:
            return Qt::Key_Backslash;
        case Qt::Key_Backtab:
            return Qt::Key_Tab;
        case Qt::Key_Equal:  // '=' shares its key with '+' on most layouts
            return Qt::Key_Plus;
        case Qt::Key_Underscore:
            return Qt::Key_Minus;
        default:
            return key;
    }
}

}  // namespace

std::span<const MenuEntry> MenuEntries() {
    return kMenuEntries;
}

std::span<const KeyBinding> KeyBindings() {
    return kKeyBindings;
}

std::optional<uint32_t> CommandForKey(int key, Qt::KeyboardModifiers modifiers) {
    const Qt::KeyboardModifiers held =
        modifiers & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    key = UnshiftedKey(key);
    for (const KeyBinding& binding : kKeyBindings) {
        if (binding.key == key && binding.modifiers == held) return binding.command;
    }
    return std::nullopt;
}

}  // namespace vexel
