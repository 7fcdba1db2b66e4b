#include "app/crash_report_wnd.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDesktopServices>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/web_links.h"
#include "platform/private_folder.h"
#include "platform/version.h"
#include "support/language_manager.h"

namespace vexel {
namespace {

enum TextId : uint32_t {
    kTitleText = 13001,
    kHeaderText = 13003,
    kPleaseText = 13004,
    kHoldsText = 13005,
    kProgramItem = 13006,
    kPlatformItem = 13007,
    kSystemItem = 13008,
    kTimeItem = 13009,
    kDescriptorsItem = 13010,
    kMemoryItem = 13011,
    kIdentifierItem = 13012,
    kLanguageItem = 13013,
    kBacktraceItem = 13014,
    kShowFilesText = 13015,
    kPrivacyText = 13016,
    kExtendText = 13017,
    kEmailText = 13018,
    kDescribeText = 13019,
    kConsentText = 13020,
    kSendText = 13021,
    kCloseText = 13022,
    kSendingText = 13023,
    kSentText = 13024,
    kNotSentText = 13025,
    kNoZipText = 13026,
    kNotPackedText = 13027,
    kNoAddressText = 13028,
    kNoFileManagerText = 13029,
};

QString Text(uint32_t id) {
    return QString::fromStdString(GetString(id));
}

// The text with each "%s" replaced by the next value (no printf: it may be a translation).
QString Fill(uint32_t id, std::initializer_list<QString> values) {
    QString text = Text(id);
    qsizetype from = 0;
    for (const QString& value : values) {
        const qsizetype at = text.indexOf("%s", from);
        if (at < 0) break;
        text.replace(at, 2, value);
        from = at + value.size();
    }
    return text;
}

QString Qt8(const std::string& text) {
    return QString::fromStdString(text);
}

uint32_t ReasonText(UploadResult result) {
    switch (result) {
        case UploadResult::NotHttps:
            return 13030;
        case UploadResult::Unreachable:
            return 13031;
        case UploadResult::Insecure:
            return 13032;
        case UploadResult::TimedOut:
            return 13033;
        case UploadResult::Rejected:
            return 13034;
        case UploadResult::Cancelled:
            return 13035;
        default:
            return 13036;
    }
}

// The white band across the top with its grey rule and the headline.
class CHeaderBand final : public QWidget {
public:
    explicit CHeaderBand(QWidget* parent) : QWidget(parent), m_text(Text(kHeaderText)) {
        setObjectName("header");
        m_font = QFont("Verdana");
        m_font.setPixelSize(18);
        setFixedHeight(QFontMetrics(m_font).height() + 32);
        setMinimumWidth(QFontMetrics(m_font).horizontalAdvance(m_text) + 48);
    }
    QString HeaderText() const { return m_text; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        painter.setPen(QPen(QColor(0x9B, 0x9B, 0x9B), 1));
        painter.drawLine(0, height() - 1, width(), height() - 1);
        painter.setPen(Qt::black);
        painter.setFont(m_font);
        painter.drawText(rect().adjusted(24, 0, -12, -1), Qt::AlignVCenter | Qt::AlignLeft, m_text);
    }

private:
    QString m_text;
    QFont m_font;
};

QLabel* WrappedLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

QLabel* LinkLabel(const QString& text, const char* name, QWidget* parent) {
    auto* label = new QLabel(QString("<a href=\"#\">%1</a>").arg(text.toHtmlEscaped()), parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::RichText);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    return label;
}

}  // namespace

QStringList CrashReportItems(const CrashReportSummary& s) {
    QStringList items;
    const auto add = [&](bool present, uint32_t id, std::initializer_list<QString> values) {
        if (present) items << Fill(id, values).trimmed();
    };
    add(!s.appName.empty(), kProgramItem, {Qt8(s.appName), Qt8(s.appVersion)});
    add(!s.appPlatform.empty(), kPlatformItem, {Qt8(s.appPlatform)});
    add(!s.operatingSystem.empty(), kSystemItem, {Qt8(s.operatingSystem)});
    add(!s.systemTimeUtc.empty(), kTimeItem, {Qt8(s.systemTimeUtc)});
    add(!s.openHandleCount.empty(), kDescriptorsItem, {Qt8(s.openHandleCount)});
    add(!s.memoryUsageKbytes.empty(), kMemoryItem, {Qt8(s.memoryUsageKbytes)});
    add(!s.updateCheckId.empty(), kIdentifierItem, {Qt8(s.updateCheckId)});
    add(!s.languageCode.empty(), kLanguageItem, {Qt8(s.languageCode), Qt8(s.languageVersion)});
    if (s.hasBacktrace) items << Text(kBacktraceItem);
    return items;
}

CCrashReportWnd::CCrashReportWnd(CrashReportSetup setup, QWidget* parent)
    : QDialog(parent), m_setup(std::move(setup)), m_items(CrashReportItems(m_setup.summary)) {
    setWindowTitle(Text(kTitleText));
    m_privacyUrl = WebPageUrl(Qt8(m_setup.webSite), WebPage::Privacy, kFullVersion, "");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    BuildHeader(layout);
    BuildBody(layout);
    BuildButtons(layout);
    if (!IsHttpsUrl(m_setup.uploadUrl)) {
        m_send->setEnabled(false);
        SetStatus(Text(kNoAddressText));
    }
}

CCrashReportWnd::~CCrashReportWnd() {
    m_cancel = true;
    if (m_upload.joinable()) m_upload.join();
}

void CCrashReportWnd::BuildHeader(QVBoxLayout* layout) {
    layout->addWidget(new CHeaderBand(this));
}

void CCrashReportWnd::BuildBody(QVBoxLayout* layout) {
    auto* body = new QVBoxLayout;
    body->setContentsMargins(24, 12, 24, 0);
    body->addWidget(WrappedLabel(Text(kPleaseText), this));
    body->addWidget(WrappedLabel(Text(kHoldsText), this));
    QLabel* items = WrappedLabel("• " + m_items.join("\n• "), this);
    items->setObjectName("items");
    items->setContentsMargins(12, 0, 0, 0);
    body->addWidget(items);

    QLabel* files = LinkLabel(Text(kShowFilesText), "showFiles", this);
    connect(files, &QLabel::linkActivated, this, [this] { ShowFiles(); });
    QLabel* privacy = LinkLabel(Text(kPrivacyText), "privacy", this);
    if (!m_privacyUrl.isValid()) {
        // A disabled label still draws a link in link colour: without a site it is plain text.
        privacy->setTextFormat(Qt::PlainText);
        privacy->setText(Text(kPrivacyText));
        privacy->setEnabled(false);
    }
    connect(privacy, &QLabel::linkActivated, this, [this] { OpenPrivacyPolicy(); });
    m_extendLink = LinkLabel(Text(kExtendText), "extend", this);
    connect(m_extendLink, &QLabel::linkActivated, this, [this] { ShowExtended(); });
    body->addWidget(files);
    body->addWidget(privacy);
    body->addWidget(m_extendLink);

    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::StyledPanel);
    auto* fields = new QVBoxLayout(frame);
    m_email = new QLineEdit(frame);
    m_email->setObjectName("email");
    m_email->setMaxLength(kMaxEmailLength);
    m_description = new QPlainTextEdit(frame);
    m_description->setObjectName("description");
    m_description->setTabChangesFocus(true);
    // A few lines: a longer text scrolls rather than pushing the window off the screen.
    m_description->setFixedHeight(m_description->fontMetrics().lineSpacing() * 5 + 12);
    connect(m_description, &QPlainTextEdit::textChanged, this, [this] { LimitDescription(); });
    fields->addWidget(WrappedLabel(Text(kEmailText), frame));
    fields->addWidget(m_email);
    fields->addWidget(WrappedLabel(Text(kDescribeText), frame));
    fields->addWidget(m_description);
    frame->hide();
    m_extraFields = frame;
    body->addWidget(frame, 1);

    body->addWidget(WrappedLabel(Text(kConsentText), this));
    m_status = WrappedLabel(QString(), this);
    m_status->setObjectName("status");
    m_status->hide();
    body->addWidget(m_status);
    layout->addLayout(body, 1);
}

void CCrashReportWnd::BuildButtons(QVBoxLayout* layout) {
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(24, 6, 24, 16);
    m_send = new QPushButton(Text(kSendText), this);
    m_send->setObjectName("send");
    m_send->setDefault(true);
    m_close = new QPushButton(Text(kCloseText), this);
    m_close->setObjectName("close");
    m_close->setAutoDefault(false);
    buttons->addStretch();
    buttons->addWidget(m_send);
    buttons->addWidget(m_close);
    layout->addLayout(buttons);
    connect(m_send, &QPushButton::clicked, this, [this] { SendReport(); });
    connect(m_close, &QPushButton::clicked, this, [this] { reject(); });
}

QString CCrashReportWnd::StatusText() const {
    return m_status->text();
}

void CCrashReportWnd::SetStatus(const QString& text) {
    m_status->setText(text);
    m_status->setVisible(!text.isEmpty());
    FitHeight();
}

// Word-wrapped labels give no useful minimum height, so the window grows by hand when a
// status line or the extra fields appear, rather than squeezing the list.
void CCrashReportWnd::FitHeight() {
    layout()->activate();
    const int needed = layout()->totalHeightForWidth(width());
    if (needed > height()) resize(width(), needed);
}

void CCrashReportWnd::ShowExtended() {
    m_extended = true;
    m_extendLink->hide();
    m_extraFields->show();
    FitHeight();
    m_email->setFocus();
}

void CCrashReportWnd::ShowFiles() {
    const QString folder = QString::fromStdString(m_setup.folder.string());
    const QUrl url = QUrl::fromLocalFile(folder);
    const bool opened = m_setup.opener ? m_setup.opener(url) : QDesktopServices::openUrl(url);
    // Without a file manager the user can still look: say where the files are.
    if (!opened && m_state == State::Offered) SetStatus(Fill(kNoFileManagerText, {folder}));
}

void CCrashReportWnd::OpenPrivacyPolicy() {
    if (!m_privacyUrl.isValid()) return;
    if (m_setup.opener)
        m_setup.opener(m_privacyUrl);
    else
        QDesktopServices::openUrl(m_privacyUrl);
}

// Cut at a whole character, never inside a surrogate pair.
void CCrashReportWnd::LimitDescription() {
    const QString text = m_description->toPlainText();
    qsizetype end = 0;
    for (int count = 0; end < text.size() && count < kMaxDescriptionLength; ++count)
        end += text.at(end).isHighSurrogate() && end + 1 < text.size() ? 2 : 1;
    if (end >= text.size()) return;
    const QSignalBlocker blocker(m_description);
    m_description->setPlainText(text.left(end));
    m_description->moveCursor(QTextCursor::End);
}

void CCrashReportWnd::SendReport() {
    if (m_state == State::Sending || m_state == State::Sent || !IsHttpsUrl(m_setup.uploadUrl))
        return;
    PackedReport packed = PackCrashReport(m_setup.folderFd, m_setup.folder, m_setup.zip);
    const QString folder = QString::fromStdString(m_setup.folder.string());
    if (packed.result != PackResult::Packed) {
        m_state = State::Failed;
        const bool noModule = packed.result == PackResult::NoZipModule;
        SetStatus(Fill(noModule ? kNoZipText : kNotPackedText, {folder}));
        m_send->setEnabled(!noModule);
        return;
    }
    m_archive = std::move(packed.archive);
    m_state = State::Sending;
    m_cancel = false;
    m_send->setEnabled(false);
    m_extraFields->setEnabled(false);
    SetStatus(Text(kSendingText));
    const QString description = m_description->toPlainText();
    CrashUpload upload{m_setup.uploadUrl,
                       m_email->text().trimmed().toStdString(),
                       description.trimmed().isEmpty() ? std::string() : description.toStdString(),
                       m_archive.Get(),
                       packed.size,
                       m_setup.caFile,
                       &m_cancel};
    m_upload = std::thread([this, upload] {
        const UploadResult result = UploadCrashReport(upload);
        QMetaObject::invokeMethod(
            this, [this, result] { FinishUpload(result); }, Qt::QueuedConnection);
    });
}

void CCrashReportWnd::FinishUpload(UploadResult result) {
    if (m_upload.joinable()) m_upload.join();
    m_archive.Reset();
    if (m_closeRequested || result == UploadResult::Sent) DeleteReport();
    if (m_closeRequested) {
        m_state = State::Sent;  // nothing is left to keep
        QDialog::reject();
    } else if (result == UploadResult::Sent) {
        m_state = State::Sent;
        SetStatus(Text(kSentText));
    } else {
        m_state = State::Failed;
        // The report stays as the crash left it; the archive is made again on the next try.
        unlinkat(m_setup.folderFd, kCrashArchiveName, 0);
        SetStatus(Fill(kNotSentText, {Text(ReasonText(result)),
                                      QString::fromStdString(m_setup.folder.string())}));
        m_extraFields->setEnabled(true);
        m_send->setEnabled(true);
    }
    emit uploadFinished(result);
}

void CCrashReportWnd::DeleteReport() {
    ClearPrivateFolder(m_setup.folderFd);
}

void CCrashReportWnd::reject() {
    switch (m_state) {
        case State::Sending:
            // Closing abandons the upload; the window goes when its thread has ended.
            m_closeRequested = true;
            m_cancel = true;
            return;
        case State::Offered:
            DeleteReport();
            break;
        case State::Sent:
        case State::Failed:
            break;
    }
    QDialog::reject();
}

}  // namespace vexel
