#include "app/updater.h"

#include <ctime>

#include "app/updater_wnd.h"
#include "platform/mini_dumper.h"
#include "platform/version.h"
#include "support/language_manager.h"

namespace vexel {
namespace {

// The stored date record: unsigned 16-bit little-endian year, month, day of week, day, ...
std::array<uint8_t, 16> DateRecord(const CheckDate& date) {
    std::array<uint8_t, 16> bytes{};
    const uint16_t values[4] = {uint16_t(date.year), uint16_t(date.month), 0, uint16_t(date.day)};
    for (int i = 0; i < 4; ++i) {
        bytes[2 * i] = uint8_t(values[i] & 0xFF);
        bytes[2 * i + 1] = uint8_t(values[i] >> 8);
    }
    return bytes;
}

CheckDate RecordDate(const std::array<uint8_t, 16>& b) {
    return {b[0] | b[1] << 8, b[2] | b[3] << 8, b[6] | b[7] << 8};
}

FourPartVersion VersionFromBytes(const std::array<uint8_t, 16>& b) {
    FourPartVersion v{};
    for (int i = 0; i < 4; ++i)
        v[i] = uint32_t(b[4 * i]) | uint32_t(b[4 * i + 1]) << 8 | uint32_t(b[4 * i + 2]) << 16 |
               uint32_t(b[4 * i + 3]) << 24;
    return v;
}

std::array<uint8_t, 16> BytesFromVersion(const FourPartVersion& v) {
    std::array<uint8_t, 16> b{};
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k) b[4 * i + k] = uint8_t(v[i] >> (8 * k));
    return b;
}

}  // namespace

FourPartVersion CurrentVersion() { return ParseVersion(kFullVersion).value_or(FourPartVersion{}); }

CUpdater::CUpdater(CHttpDownloadManager& downloads, StoredSettings& settings, UpdaterHooks hooks,
                   QWidget* owner)
    : m_downloads(downloads), m_settings(settings), m_hooks(std::move(hooks)), m_owner(owner) {}

CUpdater::~CUpdater() {
    m_downloads.Cancel(m_request);  // its callback would reach a deleted updater
    delete m_window.data();
}

CUpdaterWnd* CUpdater::Window() const { return m_window.data(); }

bool CUpdater::CheckForUpdates(bool manual) {
    if (!Enabled() || m_request != 0) return false;
    if (!manual) {
        if (!m_settings.checkForUpdates) return false;
        const int64_t now = m_hooks.now ? m_hooks.now() : int64_t(std::time(nullptr));
        const CheckDate today = UtcDate(now);
        if (RecordDate(m_settings.lastUpdateCheck) == today) return false;
        m_settings.lastUpdateCheck = DateRecord(today);
        if (m_hooks.saveSettings) m_hooks.saveSettings();
    }
    UpdateQuery query;
    query.manual = manual;
    query.version = kFullVersion;
    query.languageCode = m_hooks.languageCode ? m_hooks.languageCode() : std::string();
    query.ignoreVersion = VersionFromBytes(m_settings.versionToIgnore);
    query.checkId = m_settings.updateCheckId;
    const std::string url = "http://" + m_settings.updateHost + UpdateQueryPath(query);
    m_request = m_downloads.Download(url, [this, manual](const HttpResult& result) {
        m_request = 0;
        OnReply(result, manual);
    });
    return m_request != 0;
}

void CUpdater::OnReply(const HttpResult& result, bool manual) {
    if (!result.ok) {
        if (manual && m_hooks.notice) m_hooks.notice(GetString(3505), GetString(3506));
        return;
    }
    const UpdateAnswer answer = ParseUpdateReply(result.body, manual, CurrentVersion());
    if (answer.kind == UpdateAnswer::Kind::kOk) {
        if (answer.checkId) {
            m_settings.updateCheckId = *answer.checkId;
            if (CMiniDumper* crashDumper = CMiniDumper::Instance())
                crashDumper->SetUpdateCheckId(m_settings.updateCheckId);
        }
        if (answer.noUpdatesNotice && m_hooks.notice)
            m_hooks.notice(GetString(3501), GetString(3503));
    } else if (answer.kind == UpdateAnswer::Kind::kOffer) {
        ShowOffer(answer.offer);
    }
}

void CUpdater::ShowOffer(const UpdateOffer& offer) {
    if (!m_window) {
        m_window = new CUpdaterWnd(m_owner.data(), m_hooks.openUrl);
        m_window->OnIgnore([this](const FourPartVersion& version) {
            m_settings.versionToIgnore = BytesFromVersion(version);
        });
    }
    const std::string title = offer.title.empty() ? GetString(3502) : offer.title;
    m_window->Show(offer, UpdatePageUrl(offer.url, m_settings.updateHost, kFullVersion), title);
}

}  // namespace vexel
