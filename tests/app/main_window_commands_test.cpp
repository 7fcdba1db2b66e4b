// The main window's commands as a user gives them: every menu entry's key leads to the same
// command, each key reaches the active viewport and does nothing without one, loading waits
// for a running scan, drops add with Shift and open an archive alone, tool buttons give the
// tool to the mouse button that clicked them, Tab wraps, full screen comes back exactly.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QGuiApplication>
#include <QMimeData>
#include <QScreen>
#include <QTest>
#include <atomic>

#include "app/dicom_tags_wnd.h"
#include "app/main_commands.h"
#include "app/main_menus.h"
#include "app/message_wnd.h"
#include "app/message_wnd_manager.h"
#include "app/viewer_run.h"
#include "app/viewer_toolbar.h"
#include "app/viewport_widget.h"
#include "app/web_links.h"
#include "app/window_placement.h"
#include "engine/study_model.h"
#include "support/language_manager.h"
#include "viewer/viewport_measurements.h"
#include "viewer/viewport_view_tools.h"
#include "viewer/viewport_window_tool.h"

namespace vexel {
namespace {

using namespace command;
using namespace test;
namespace fs = std::filesystem;

TEST(MainCommands, EveryShownShortcutIsTheKeyOfItsEntry) {
    for (const MenuEntry& entry : MenuEntries()) {
        if (entry.shortcut == nullptr) continue;
        const QKeyCombination keys = QKeySequence(QString(entry.shortcut))[0];
        EXPECT_EQ(CommandForKey(keys.key(), keys.keyboardModifiers()), entry.command)
            << entry.shortcut;
    }
    // What layouts and the keypad send for the same keys.
    struct Case {
        int key;
        Qt::KeyboardModifiers held;
        std::optional<uint32_t> command;
    };
    const Case cases[] = {
        {Qt::Key_5, Qt::KeypadModifier, kDefaultWindow + 5},
        {Qt::Key_2, Qt::ControlModifier | Qt::KeypadModifier, kZoom200},
        {Qt::Key_BraceLeft, Qt::ControlModifier | Qt::ShiftModifier, kFlipHorizontal},
        {Qt::Key_Bar, Qt::ControlModifier | Qt::ShiftModifier, kClearTransforms},
        {Qt::Key_Backtab, Qt::ShiftModifier, kPreviousPanel},
        {Qt::Key_Equal, Qt::ControlModifier, kZoomIn},
        {Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier, kZoomIn},
        {Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier, kFontLarger},
        {Qt::Key_Underscore, Qt::ControlModifier | Qt::ShiftModifier, kFontSmaller},
        {Qt::Key_E, Qt::NoModifier, kEllipse},
        {Qt::Key_E, Qt::ShiftModifier, std::nullopt},
        {Qt::Key_Q, Qt::ControlModifier, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CommandForKey(c.key, c.held), c.command) << c.key;

    // The menus show exactly the table's texts.
    QWidget owner;
    CMainMenus menus(&owner, [](uint32_t) {}, [] {});
    for (const MenuEntry& entry : MenuEntries()) {
        QAction* action = menus.Action(entry.command);
        ASSERT_NE(action, nullptr) << entry.command;
        const QString text = entry.textId ? QString::fromStdString(GetString(entry.textId))
                                          : QString(entry.label);
        EXPECT_EQ(action->text(), text + (entry.shortcut ? QString("\t") + entry.shortcut : ""));
    }
}

TEST(MainCommands, PlacementsOffEveryScreenComeBackAndWebAddressesAreEncoded) {
    const QRect work(0, 0, 1920, 1040);
    const std::vector<QRect> screens = {QRect(0, 0, 1920, 1080)};
    struct Case {
        QRect stored, expected;
    };
    const Case cases[] = {
        {QRect(100, 100, 800, 600), QRect(100, 100, 800, 600)},     // on screen: kept
        {QRect(2500, 200, 800, 600), QRect(1120, 200, 800, 600)},   // a monitor unplugged
        {QRect(-3000, -900, 800, 600), QRect(0, 0, 800, 600)},
        {QRect(2500, 2000, 2400, 600), QRect(0, 440, 1920, 600)},   // wider than the area
    };
    for (const Case& c : cases)
        EXPECT_EQ(KeepOnScreens(c.stored, screens, work), c.expected) << c.stored.x();

    EXPECT_FALSE(WebPageUrl("", WebPage::Manual, "1", "en").isValid()) << "no site: no page";
    EXPECT_FALSE(WebPageUrl("file:///etc", WebPage::Home, "1", "en").isValid());
    EXPECT_EQ(WebPageUrl("https://example.org/vexel", WebPage::Manual, "0.1.0.0", "en").toString(),
              "https://example.org/vexel/manual.php?v=0.1.0.0");
    EXPECT_EQ(WebPageUrl("https://example.org", WebPage::Contact, "1", "x&y=z #").toString(
                  QUrl::FullyEncoded),
              "https://example.org/contact.php?lang=x%26y%3Dz%20%23");
}

// One key of the table and what it must do to the active viewport.
struct KeyCase {
    const char* name;
    int key;
    Qt::KeyboardModifiers held;
    std::function<bool(CViewport2D&, CMainWindow&)> done;
};

TEST(MainWindowCommands, KeysReachTheActiveViewportAndNothingWithoutOne) {
    const auto root = WriteSmallStudy("main-commands", 30);
    RunViewer({(root / "study" / "CT").string()}, "main-commands-user", [&](CViewerApp& app) {
        CMainWindow& window = *app.MainWindow();
        ASSERT_TRUE(WaitFor([&] { return LoadedAndIdle(window); }));
        CViewport2D& viewport = *window.ActiveViewport();
        const uint32_t layers = viewport.LayerMask();
        const int32_t font = viewport.FontSize();
        const KeyCase cases[] = {
            {"preset 2", Qt::Key_2, {},
             [](CViewport2D& v, CMainWindow&) { return v.WindowTool().State().PresetId() == 2; }},
            {"F11", Qt::Key_F11, {}, [](CViewport2D& v, CMainWindow&) { return v.Negative(); }},
            {"Ctrl+1", Qt::Key_1, Qt::ControlModifier,
             [](CViewport2D& v, CMainWindow&) { return v.Geometry().zoom == 1.0f; }},
            {"Ctrl+3", Qt::Key_3, Qt::ControlModifier,
             [](CViewport2D& v, CMainWindow&) { return v.Geometry().zoom == 4.0f; }},
            {"Ctrl+-", Qt::Key_Minus, Qt::ControlModifier,
             [](CViewport2D& v, CMainWindow&) { return v.Geometry().zoom < 4.0f; }},
            {"Ctrl+0", Qt::Key_0, Qt::ControlModifier,
             [](CViewport2D& v, CMainWindow&) { return !v.UserZoomedOrPanned(); }},
            {"Ctrl+]", Qt::Key_BracketRight, Qt::ControlModifier,
             [](CViewport2D& v, CMainWindow&) { return v.Geometry().rotation == 90; }},
            {"Ctrl+Shift+[", Qt::Key_BraceLeft, Qt::ControlModifier | Qt::ShiftModifier,
             [](CViewport2D& v, CMainWindow&) {
                 // Along the screen's axis: turned a quarter, the image's other axis.
                 return v.Geometry().horizontalMirror != v.Geometry().verticalMirror;
             }},
            {"Ctrl+Shift+\\", Qt::Key_Bar, Qt::ControlModifier | Qt::ShiftModifier,
             [](CViewport2D& v, CMainWindow&) {
                 return v.Geometry().rotation == 0 && !v.Geometry().horizontalMirror &&
                        !v.Geometry().verticalMirror;
             }},
            {"Down", Qt::Key_Down, {},
             [](CViewport2D& v, CMainWindow&) { return v.CurrentIndex() == 1; }},
            {"Page Down", Qt::Key_PageDown, {},
             [](CViewport2D& v, CMainWindow&) { return v.CurrentIndex() == 11; }},
            {"Ctrl+Shift++", Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier,
             [font](CViewport2D& v, CMainWindow&) { return v.FontSize() == font + 1; }},
            {"F12", Qt::Key_F12, {},
             [layers](CViewport2D& v, CMainWindow&) {
                 return v.LayerMask() == (layers ^ kLayerAnnotations);
             }},
            {"W", Qt::Key_W, {},
             [](CViewport2D& v, CMainWindow&) { return v.LeftTool() == static_cast<CViewport2DTool*>(&v.WindowTool()); }},
            {"E", Qt::Key_E, {},
             [](CViewport2D& v, CMainWindow& w) {
                 return v.LeftTool() == static_cast<CViewport2DTool*>(&v.Measurements()) && w.Kind() == MeasurementKind::Ellipse;
             }},
        };
        for (const KeyCase& c : cases) {
            // Keys go to whatever has the focus inside the window.
            QTest::keyClick(&window.ActivePanel()->ViewportWidget(), Qt::Key(c.key), c.held);
            EXPECT_TRUE(c.done(viewport, window)) << c.name;
        }

        // A right click on the zoom button gives zoom to the right button, the left keeps its.
        QTest::mouseClick(window.Toolbar().Button(kToolPan), Qt::RightButton);
        EXPECT_EQ(viewport.RightTool(), static_cast<CViewport2DTool*>(&viewport.PanTool()));
        EXPECT_EQ(viewport.LeftTool(), static_cast<CViewport2DTool*>(&viewport.Measurements()));
        EXPECT_EQ(window.RightTool(), MouseTool::Pan);

        // Without a web site, F1 opens the guide on this computer.
        QUrl opened;
        window.Services().openUrl = [&](const QUrl& url) { return opened = url, true; };
        QTest::keyClick(&window, Qt::Key_F1);
        EXPECT_TRUE(opened.isLocalFile() && opened.path().endsWith("user-guide.md"))
            << opened.toString().toStdString();

        // Ctrl+Alt+T lists the elements of the image shown, in a window of its own each time.
        const size_t tagWindows = CDicomTagsWnd::OpenCount();
        QTest::keyClick(&window, Qt::Key_T, Qt::ControlModifier | Qt::AltModifier);
        EXPECT_EQ(CDicomTagsWnd::OpenCount(), tagWindows + 1);
        CDicomTagsWnd::CloseAll();

        // Tab wraps round three panels.
        window.Workspace().SetGrid(3, 1);
        auto& panels = window.Workspace().Panels();
        ASSERT_EQ(panels.size(), 3u);
        window.Workspace().Activate(panels[2]);
        QTest::keyClick(&window, Qt::Key_Tab);
        EXPECT_EQ(window.ActivePanel(), panels[0]);
        QTest::keyClick(&window, Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(window.ActivePanel(), panels[2]);

        // Without panels every viewport command does nothing.
        window.CloseAll();
        ASSERT_EQ(window.ActiveViewport(), nullptr);
        for (const MenuEntry& entry : MenuEntries()) {
            if (entry.menu == MainMenu::Window || entry.menu == MainMenu::Zoom ||
                entry.menu == MainMenu::Transformations || entry.menu == MainMenu::Mpr ||
                entry.command == kExport || entry.command == kCopy || entry.command == kShowTags) {
                EXPECT_FALSE(window.Execute(entry.command)) << entry.command;
            }
        }
        for (const KeyCase& c : cases)
            QTest::keyClick(&window, Qt::Key(c.key), c.held);
    });
}

// Drops as the desktop sends them: local file addresses, Shift held or not.
void Drop(CMainWindow& window, const std::vector<std::string>& paths, bool shift) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const std::string& path : paths)
        urls.push_back(QUrl::fromLocalFile(QString::fromStdString(path)));
    data->setUrls(urls);
    const Qt::KeyboardModifiers held = shift ? Qt::ShiftModifier : Qt::NoModifier;
    QDragEnterEvent enter({10, 10}, Qt::CopyAction, data, Qt::LeftButton, held);
    QCoreApplication::sendEvent(&window, &enter);
    if (enter.isAccepted()) {
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, data, Qt::LeftButton, held);
        QCoreApplication::sendEvent(&window, &drop);
    }
    delete data;
}

size_t StudyCount(CMainWindow& window) {
    size_t studies = 0;
    for (const PatientView& patient : window.Model().Snapshot())
        studies += patient.studies.size();
    return studies;
}

TEST(MainWindowCommands, LoadingWaitsForTheScanDropsAddWithShiftAndFullScreenComesBack) {
    const auto first = WriteSmallStudy("main-loading-a", 40);
    phantom::PhantomOptions other;
    other.columns = other.rows = 32;
    other.slices = 4;
    other.uidRoot = std::string(phantom::kDefaultUidRoot) + ".99";  // another study
    std::string error;
    const auto second = ScratchDir("main-loading-b");
    ASSERT_TRUE(phantom::WriteCtSeries(second / "CT", other, &error)) << error;
    // A third study, as an archive with its extension in capitals.
    other.uidRoot = std::string(phantom::kDefaultUidRoot) + ".98";
    ASSERT_TRUE(phantom::WriteCtSeries(second / "third", other, &error)) << error;
    const std::string archive = (second / "third.ZIP").string();
    if (!HaveProgram("zip")) GTEST_SKIP() << "zip (Info-ZIP) not installed";
    ASSERT_EQ(std::system(("cd '" + (second / "third").string() + "' && zip -qr '" + archive +
                           "' .")
                              .c_str()),
              0);
    std::atomic<bool> slow{true};
    // A URI that is not a local file is named in a message, not scanned as a path.
    const std::string remote = "http://example.invalid/x.dcm";
    RunViewer(
        {(first / "study" / "CT").string(), remote}, "main-loading-user",
        [&](CViewerApp& app) {
            CMainWindow& window = *app.MainWindow();
            ASSERT_EQ(app.MessageBoxes()->BoxCount(), 1u);
            CMessageWnd* refused = app.MessageBoxes()->Box(0);
            EXPECT_TRUE(refused->TextLabel()->text().contains(QString::fromStdString(remote)));
            refused->Dismiss();
            int asked = 0;
            window.Services().askPaths = [&](PathQuestion) {
                ++asked;
                return QStringList{QString::fromStdString((second / "CT").string())};
            };
            // While the scan runs, a second Ctrl+O, the folder button and drops do nothing.
            ASSERT_TRUE(window.Loading());
            QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
            EXPECT_FALSE(window.Execute(kOpenFolder));
            Drop(window, {(second / "CT").string()}, true);
            EXPECT_EQ(asked, 0);
            EXPECT_FALSE(window.Toolbar().Button(kOpenFolder)->isEnabled());
            slow = false;
            ASSERT_TRUE(WaitFor([&] { return LoadedAndIdle(window); }));
            EXPECT_TRUE(window.Toolbar().Button(kOpenFolder)->isEnabled());

            // A Shift drop adds; a plain one replaces.
            Drop(window, {(second / "CT").string()}, true);
            ASSERT_TRUE(WaitFor([&] { return !window.Loading() && StudyCount(window) == 2; }));
            Drop(window, {(second / "CT").string()}, false);
            ASSERT_TRUE(WaitFor([&] { return !window.Loading() && LoadedAndIdle(window); }));
            EXPECT_EQ(StudyCount(window), 1u);
            // An archive among other files is opened alone.
            Drop(window, {(first / "study" / "CT").string(), archive}, true);
            ASSERT_TRUE(WaitFor([&] { return !window.Loading(); }));
            EXPECT_EQ(StudyCount(window), 2u);
            // Closing everything deletes the unpacked entries.
            const auto unpacked = [&] {
                size_t count = 0;
                std::error_code walkError;
                for (const auto& entry :
                     fs::recursive_directory_iterator(app.Options()->InstanceFolder(), walkError))
                    count += entry.is_regular_file() && entry.path().filename() != "lock";
                return count;
            };
            EXPECT_GE(unpacked(), 4u);
            window.CloseAll();
            EXPECT_TRUE(WaitFor([&] { return unpacked() == 0; }));
            // The folder chooser answers; the folder is remembered for next time.
            EXPECT_TRUE(window.Execute(kAddFolder));
            EXPECT_EQ(asked, 1);
            EXPECT_EQ(app.Options()->Settings().dicomScanFolder, (second / "CT").string());
            ASSERT_TRUE(WaitFor([&] { return !window.Loading(); }));

            // Never below the minimum size.
            window.showNormal();
            window.resize(500, 300);
            EXPECT_GE(window.width(), 785);
            EXPECT_GE(window.height(), 480);

            // Full screen on, off and on: the whole screen, then exactly the old rectangle.
            const QRect before(40, 30, 900, 600);
            window.setGeometry(before);
            ASSERT_TRUE(WaitFor([&] { return window.geometry() == before; }));
            for (int round = 0; round < 2; ++round) {
                QTest::keyClick(&window, Qt::Key_F);
                EXPECT_TRUE(window.FullScreen());
                EXPECT_TRUE(WaitFor([&] { return window.geometry() == window.screen()->geometry(); }));
                EXPECT_TRUE(window.CurrentPlacement().fullScreen);
                EXPECT_EQ(window.CurrentPlacement().normal, before);
                EXPECT_TRUE(WaitFor([&] { return window.Toolbar().Button(kClose)->isVisible(); }));
                QTest::keyClick(&window, Qt::Key_F);
                EXPECT_FALSE(window.FullScreen());
                EXPECT_TRUE(WaitFor([&] { return window.geometry() == before; }));
                EXPECT_TRUE(WaitFor([&] { return !window.Toolbar().Button(kClose)->isVisible(); }));
            }
            // A quit from full screen stores the rectangle from before it.
            QTest::keyClick(&window, Qt::Key_F);
        },
        [&](const std::string&) {
            if (slow) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        });
}

}  // namespace
}  // namespace vexel
