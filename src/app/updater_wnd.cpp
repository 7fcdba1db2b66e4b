#include "app/updater_wnd.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/version.h"
#include "support/language_manager.h"

namespace vexel {

CUpdaterWnd::CUpdaterWnd(QWidget* owner, Opener opener)
    : QDialog(owner), m_opener(std::move(opener)) {
    // Closing hides the window; the updater owns it and shows it again.
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(this);
    m_version = new QLabel(this);
    m_version->setTextFormat(Qt::PlainText);
    layout->addWidget(m_version);
    m_dontRemind = new QCheckBox(QString::fromStdString(GetString(3504)), this);
    layout->addWidget(m_dontRemind);
    auto* buttons = new QHBoxLayout;
    auto* open = new QPushButton(tr("Open page"), this);
    open->setObjectName("openPage");
    auto* close = new QPushButton(tr("Close"), this);
    close->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(open);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(open, &QPushButton::clicked, this, [this] { OpenPage(); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
}

CUpdaterWnd::~CUpdaterWnd() = default;

void CUpdaterWnd::Show(const UpdateOffer& offer, const std::string& pageUrl,
                       const std::string& title) {
    m_offered = offer.version;
    m_pageUrl = pageUrl;
    setWindowTitle(QString::fromStdString(title));
    m_version->setText(QString("%1.%2.%3.%4  (%5)")
                           .arg(offer.version[0]).arg(offer.version[1])
                           .arg(offer.version[2]).arg(offer.version[3])
                           .arg(kFullVersion));
    m_dontRemind->setChecked(false);
    m_offerIgnore = offer.offerIgnore;
    m_dontRemind->setVisible(offer.offerIgnore);
    resize(offer.width, offer.height / 2);
    show();
    raise();
    activateWindow();
}

void CUpdaterWnd::OpenPage() {
    if (m_pageUrl.empty()) return;
    if (m_opener)
        m_opener(m_pageUrl);
    else
        QDesktopServices::openUrl(QUrl(QString::fromStdString(m_pageUrl), QUrl::StrictMode));
}

void CUpdaterWnd::done(int result) {
    if (m_offerIgnore && m_dontRemind->isChecked() && m_onIgnore) m_onIgnore(m_offered);
    QDialog::done(result);  // hides; Escape and the close box come here too
}

}  // namespace vexel
