// The update check: once a day at start-up when the user agreed to it, and on demand. The
// request goes through the download manager; the reply is checked by ParseUpdateReply and
// an offer is shown in the update window.
#pragma once

#include <cstdint>
#include <functional>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <string>

#include "app/options.h"
#include "support/http_download_manager.h"
#include "support/update_check.h"

namespace vexel {

class CUpdaterWnd;

struct UpdaterHooks {
    std::function<int64_t()> now;                  // Unix seconds; empty: the system clock
    std::function<std::string()> languageCode;     // the chosen language's code
    std::function<void()> saveSettings;            // writes the settings at once
    // A notice for the manual check (heading, text); empty: none shown.
    std::function<void(const std::string&, const std::string&)> notice;
    // Opens the offered page (tests record it); empty: the desktop's browser.
    std::function<bool(const std::string&)> openUrl;
};

class CUpdater {
public:
    CUpdater(CHttpDownloadManager& downloads, StoredSettings& settings, UpdaterHooks hooks,
             QWidget* owner = nullptr);
    ~CUpdater();
    CUpdater(const CUpdater&) = delete;
    CUpdater& operator=(const CUpdater&) = delete;

    // An update host is configured.
    bool Enabled() const { return !m_settings.updateHost.empty(); }
    // Starts a check; false when none was started (no host, an automatic check the user
    // has not agreed to or already made today, or one still running).
    bool CheckForUpdates(bool manual);
    // The update window, made on first use; null before.
    CUpdaterWnd* Window() const;
    void SetOwner(QWidget* owner) { m_owner = owner; }

private:
    void OnReply(const HttpResult& result, bool manual);
    void ShowOffer(const UpdateOffer& offer);

    CHttpDownloadManager& m_downloads;
    StoredSettings& m_settings;
    UpdaterHooks m_hooks;
    // Both may be deleted by Qt (the window with its owner): guarded, never used dangling.
    QPointer<QWidget> m_owner;
    uint32_t m_request = 0;  // the running check's download, 0 when none
    QPointer<CUpdaterWnd> m_window;
};

// The current build's version as four numbers.
FourPartVersion CurrentVersion();

}  // namespace vexel
