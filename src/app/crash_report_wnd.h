// The "Error report" window of the crash reporter: what the report holds, the user's
// optional e-mail address and description, and the choice between sending the report and
// closing the program. Nothing leaves the computer before "Send report"; closing without
// sending deletes the report, a sent report is deleted, a failed one is kept.
#pragma once

#include <QDialog>
#include <QStringList>
#include <QUrl>
#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "platform/unique_fd.h"
#include "support/crash_report.h"
#include "support/crash_upload.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QVBoxLayout;
class QWidget;

namespace vexel {

struct CrashReportSetup {
    std::filesystem::path folder;  // the accepted report folder
    int folderFd = -1;             // open on it; not owned, outlives the window
    CrashReportSummary summary;
    std::string uploadUrl;  // CrashReportUrl; not https: sending is off
    std::string webSite;    // WebSite; empty: no privacy page
    std::string caFile;     // certificates to trust instead of the system's; empty: the system's
    const VexelZipInterface* zip = nullptr;  // null: the ZIP module is missing
    // Opens a folder or page; empty: the desktop's handler.
    std::function<bool(const QUrl&)> opener;
};

class CCrashReportWnd final : public QDialog {
    Q_OBJECT

public:
    enum class State { Offered, Sending, Sent, Failed };
    static constexpr int kMaxEmailLength = 128;
    static constexpr int kMaxDescriptionLength = 1024;

    CCrashReportWnd(CrashReportSetup setup, QWidget* parent = nullptr);
    // Abandons a running upload and waits for its thread.
    ~CCrashReportWnd() override;

    State CurrentState() const { return m_state; }
    const QStringList& ListedItems() const { return m_items; }
    QString StatusText() const;
    QUrl PrivacyUrl() const { return m_privacyUrl; }
    bool Extended() const { return m_extended; }

    void ShowExtended();
    void ShowFiles();
    void OpenPrivacyPolicy();
    void SendReport();
    // "Close the program", Escape and the title bar's close.
    void reject() override;

signals:
    // An upload has ended and the window shows its outcome.
    void uploadFinished(vexel::UploadResult result);

private:
    void BuildHeader(QVBoxLayout* layout);
    void BuildBody(QVBoxLayout* layout);
    void BuildButtons(QVBoxLayout* layout);
    void LimitDescription();
    void FinishUpload(UploadResult result);
    void SetStatus(const QString& text);
    void FitHeight();
    void DeleteReport();

    CrashReportSetup m_setup;
    QStringList m_items;
    QUrl m_privacyUrl;
    State m_state = State::Offered;
    bool m_extended = false;
    bool m_closeRequested = false;
    QLabel* m_extendLink = nullptr;
    QWidget* m_extraFields = nullptr;
    QLineEdit* m_email = nullptr;
    QPlainTextEdit* m_description = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_send = nullptr;
    QPushButton* m_close = nullptr;
    UniqueFd m_archive;
    std::atomic<bool> m_cancel{false};
    std::thread m_upload;
};

// The lines that tell the user what the report holds, in the text table's words.
QStringList CrashReportItems(const CrashReportSummary& summary);

}  // namespace vexel
