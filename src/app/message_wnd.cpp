#include "app/message_wnd.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QWindow>
#include <algorithm>
#include <utility>

#include "support/language_manager.h"

namespace vexel {

namespace {

// Standard geometry in pixels: icon column on the left, heading, text, buttons below.
constexpr int kWidth = 400;
constexpr int kMargin = 12;
constexpr int kIconSize = 64;
constexpr int kColumnX = kMargin + kIconSize + kMargin;
constexpr int kHeadingHeight = 20;
constexpr int kTextTop = kMargin + kHeadingHeight + 6;
constexpr int kTextHeight = 48;
constexpr int kButtonWidth = 88;
constexpr int kButtonHeight = 26;
constexpr int kButtonGap = 8;
// The text may make the box this much taller, no more.
constexpr int kMaxGrowth = 1024;

// Verdana when installed, else the DejaVu Sans that every Debian desktop has.
QFont BoxFont(int pixelSize, QFont::Weight weight) {
    QFont font;
    font.setFamilies({QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QIcon BoxIcon(const QStyle* style, MessageKind kind) {
    const QIcon application = QApplication::windowIcon();
    if (!application.isNull()) return application;
    return style->standardIcon(kind == MessageKind::Question ? QStyle::SP_MessageBoxQuestion
                                                             : QStyle::SP_MessageBoxInformation);
}

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CMessageWnd::CMessageWnd(MessageRequest request, const CLanguageManager& texts)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_kind(request.kind),
      m_callback(std::move(request.callback)),
      m_owner(request.owner) {
    // The box is a window of its own, not a child of the owner: a child would be disabled
    // together with the owner.
    setWindowTitle(QString::fromLatin1(kTitle));
    setModal(false);
    BuildControls(texts, request);
    LayOut(request.extraWidth);
}

CMessageWnd::~CMessageWnd() {
    ReleaseOwner();
}

void CMessageWnd::BuildControls(const CLanguageManager& texts, const MessageRequest& request) {
    const QIcon icon = BoxIcon(style(), m_kind);
    setWindowIcon(icon);
    m_icon = new QLabel(this);
    m_icon->setPixmap(icon.pixmap(kIconSize, kIconSize));
    m_heading = new QLabel(FromUtf8(request.heading), this);
    m_heading->setFont(BoxFont(12, QFont::Bold));
    m_text = new QLabel(FromUtf8(request.text), this);
    m_text->setFont(BoxFont(11, QFont::Normal));
    m_text->setWordWrap(true);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_text->setTextFormat(Qt::PlainText);
    m_heading->setTextFormat(Qt::PlainText);
    m_yes = new QPushButton(FromUtf8(texts.GetString(1)), this);
    m_no =
        new QPushButton(FromUtf8(texts.GetString(m_kind == MessageKind::Question ? 2 : 6)), this);
    // Enter is the dialog's own key (result 1) whichever button has the focus.
    for (QPushButton* button : {m_yes, m_no}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    m_yes->setVisible(m_kind == MessageKind::Question);
    (m_kind == MessageKind::Question ? m_yes : m_no)->setFocus();
    connect(m_yes, &QPushButton::clicked, this, [this] { Answer(1); });
    connect(m_no, &QPushButton::clicked, this, [this] { Answer(0); });
}

void CMessageWnd::LayOut(int extraWidth) {
    const int extra = std::max(extraWidth, 0);
    const int width = kWidth + extra;
    const int columnWidth = width - kColumnX - kMargin;
    const int needed = m_text->heightForWidth(columnWidth);
    const int textHeight = std::clamp(needed, kTextHeight, kTextHeight + kMaxGrowth);
    m_icon->setGeometry(kMargin, kMargin, kIconSize, kIconSize);
    m_heading->setGeometry(kColumnX, kMargin, columnWidth, kHeadingHeight);
    m_text->setGeometry(kColumnX, kTextTop, columnWidth, textHeight);
    const int buttonTop = std::max(kTextTop + textHeight, kMargin + kIconSize) + kMargin;
    const int noLeft = width - kMargin - kButtonWidth;
    m_no->setGeometry(noLeft, buttonTop, kButtonWidth, kButtonHeight);
    m_yes->setGeometry(noLeft - kButtonGap - kButtonWidth, buttonTop, kButtonWidth, kButtonHeight);
    setFixedSize(width, buttonTop + kButtonHeight + kMargin);
}

bool CMessageWnd::ShowBox() {
    if (m_open) return isVisible();
    m_open = true;
    if (m_owner && m_owner->isEnabled()) {
        m_owner->setEnabled(false);
        m_disabledOwner = true;
    }
    PlaceOverOwner();
    show();
    raise();
    activateWindow();
    if (isVisible()) return true;
    // Nothing on screen: nothing could answer it, so the owner must not stay disabled.
    m_open = false;
    ReleaseOwner();
    return false;
}

void CMessageWnd::PlaceOverOwner() {
    QRect area;
    if (m_owner) {
        QWidget* ownerWindow = m_owner->window();
        area = ownerWindow->frameGeometry();
        winId();  // the native window must exist to take a transient parent
        if (windowHandle() && ownerWindow->windowHandle()) {
            windowHandle()->setTransientParent(ownerWindow->windowHandle());
        }
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        area = screen->availableGeometry();
    }
    if (area.isValid()) move(area.center() - rect().center());
}

void CMessageWnd::Answer(int result) {
    if (!m_open) return;
    m_open = false;
    // The owner is usable again before the callback runs, so the callback may open windows.
    ReleaseOwner();
    hide();
    // A copy: the callback may show further boxes while it runs.
    const MessageCallback callback = m_callback;
    if (callback) callback(result);
}

void CMessageWnd::Dismiss() {
    if (!m_open) return;
    m_open = false;
    ReleaseOwner();
    hide();
}

void CMessageWnd::ReleaseOwner() {
    if (m_disabledOwner && m_owner) m_owner->setEnabled(true);
    m_disabledOwner = false;
}

void CMessageWnd::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        Answer(1);
        return;
    }
    QDialog::keyPressEvent(event);  // Escape ends in reject()
}

// Escape and the window's close button: closed without a result.
void CMessageWnd::reject() {
    Dismiss();
}

}  // namespace vexel
