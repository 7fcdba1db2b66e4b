// The update check end to end against a loopback update server: consent, one automatic
// request a day, the query's encoding, the replies, and the window that opens only a page
// on the update host and only through its button.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTest>

#include "app/updater.h"
#include "app/updater_wnd.h"
#include "common/loopback_server.h"
#include "platform/headless_event_loop.h"
#include "platform/version.h"

namespace vexel {
namespace {

using test::LoopbackServer;
using test::SendAll;

// One updater on a headless loop, talking to a server that answers `reply`.
struct Rig {
    explicit Rig(std::string reply)
        : server([reply](int fd, const std::string&) {
              SendAll(fd, "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(reply.size()) +
                              "\r\n\r\n" + reply);
          }) {
        settings.updateHost = "127.0.0.1:" + std::to_string(server.port());
        settings.checkForUpdates = settings.checkUpdateAnswered = true;
        UpdaterHooks hooks;
        hooks.now = [] { return int64_t(1765200000); };
        hooks.languageCode = [] { return std::string("d e&x"); };
        hooks.saveSettings = [this] { ++saves; };
        hooks.notice = [this](const std::string&, const std::string& text) { notices.push_back(text); };
        hooks.openUrl = [this](const std::string& url) {
            opened.push_back(url);
            return true;
        };
        updater = std::make_unique<CUpdater>(downloads, settings, std::move(hooks));
    }
    // Runs one check to its end.
    bool Check(bool manual) {
        if (!updater->CheckForUpdates(manual)) return false;
        while (downloads.Running() > 0 && loop.WaitForPending(1)) loop.RunPending();
        return true;
    }
    LoopbackServer server;
    CHeadlessEventLoop loop;
    CHttpDownloadManager downloads{loop, HttpOptions{}};
    StoredSettings settings;
    int saves = 0;
    std::vector<std::string> notices, opened;
    std::unique_ptr<CUpdater> updater;
};

TEST(Updater, ConsentHostAndOneAutomaticRequestADay) {
    Rig rig("<ok c=\"id.7\"/>");
    EXPECT_TRUE(rig.Check(false));
    EXPECT_FALSE(rig.Check(false)) << "a second automatic start on the same day";
    EXPECT_EQ(rig.server.connections(), 1);
    EXPECT_EQ(rig.saves, 1);
    EXPECT_EQ(rig.settings.updateCheckId, "id.7");
    const std::string request = rig.server.lastRequest();
    EXPECT_NE(request.find("&l=d%20e%26x"), std::string::npos) << request;
    EXPECT_NE(request.find(std::string("&v=") + kFullVersion), std::string::npos) << request;
    EXPECT_NE(request.find(std::string("&p=") + kUpdatePlatform), std::string::npos) << request;

    rig.settings.lastUpdateCheck = {};
    rig.settings.checkForUpdates = false;  // not agreed: no automatic check, a manual one works
    EXPECT_FALSE(rig.Check(false));
    EXPECT_TRUE(rig.Check(true));
    EXPECT_EQ(rig.server.connections(), 2);
    EXPECT_NE(rig.server.lastRequest().find("&m=1&c=id.7 "), std::string::npos);

    rig.settings.updateHost.clear();  // no server configured: both checks off
    EXPECT_FALSE(rig.updater->Enabled());
    EXPECT_FALSE(rig.Check(true));
}

TEST(Updater, RepliesAndThePageOpenedOnlyByTheButton) {
    const std::string fallback = "/update.php?p=" + std::string(kUpdatePlatform) + "&v=" + kFullVersion;
    const struct {
        std::string reply;
        bool window;
        std::string pageEnd;  // the end of the address the button opens
    } cases[] = {
        {"<u v=\"99.0\" u=\"file:///etc/passwd\"/>", true, fallback},
        {"<u v=\"99.0\" u=\"http://evil.example/x\"/>", true, fallback},
        {"<u v=\"99.0\" u=\"javascript:alert(1)\"/>", true, fallback},
        {"<u v=\"" + std::string(kFullVersion) + "\"/>", false, ""},  // this build's own
        {"<u v=\"0.0.0.0\"/>", false, ""},
        {"<u v=\"99.0\" w=\"-5\"/>", true, fallback},
        {"<ok c=\"" + std::string(65, 'a') + "\"/>", false, ""},
        {"<ok c=\"a b\"/>", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        Rig rig(c.reply);
        rig.settings.updateCheckId = "keep";
        ASSERT_TRUE(rig.Check(false));
        EXPECT_EQ(rig.settings.updateCheckId, "keep");
        CUpdaterWnd* window = rig.updater->Window();
        ASSERT_EQ(window != nullptr && window->isVisible(), c.window);
        if (!window) continue;
        EXPECT_TRUE(rig.opened.empty()) << "opened before the button was clicked";
        if (c.reply.find("w=\"-5\"") != std::string::npos) {
            EXPECT_GE(window->width(), 200);
        }
        QTest::mouseClick(window->findChild<QPushButton*>("openPage"), Qt::LeftButton);
        ASSERT_EQ(rig.opened.size(), 1u);
        EXPECT_EQ(rig.opened[0], "http://" + rig.settings.updateHost + c.pageEnd);
    }
}

TEST(Updater, WindowIsHiddenAndReused) {
    Rig rig("<u v=\"99.1.2.3\" ic=\"0\"/>");
    ASSERT_TRUE(rig.Check(true));
    rig.settings.lastUpdateCheck = {};
    CUpdaterWnd* window = rig.updater->Window();
    ASSERT_TRUE(window && window->isVisible());
    window->close();
    EXPECT_FALSE(window->isVisible());
    ASSERT_TRUE(rig.Check(false));
    EXPECT_EQ(rig.updater->Window(), window);
    EXPECT_TRUE(window->isVisible());
    window->DontRemind()->setChecked(true);
    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(rig.settings.versionToIgnore[0], 99);  // the declined version is kept
    EXPECT_EQ(rig.settings.versionToIgnore[4], 1);
    ASSERT_TRUE(rig.Check(true));
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->DontRemind()->isChecked());
}

TEST(Updater, ManualFailureGivesOneNotice) {
    Rig rig("");
    rig.settings.updateHost = "127.0.0.1:1";  // nothing listens there
    EXPECT_TRUE(rig.Check(true));
    EXPECT_EQ(rig.notices.size(), 1u);
    rig.settings.lastUpdateCheck = {};
    EXPECT_TRUE(rig.Check(false));
    EXPECT_EQ(rig.notices.size(), 1u) << "an automatic check fails silently";
}

}  // namespace
}  // namespace vexel
