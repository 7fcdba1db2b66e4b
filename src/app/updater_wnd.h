// The window that offers a new version: its title, the version, "Don't remind me" and a
// button that opens the offered page in the desktop's browser. It is hidden on close and
// shown again for the next offer.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "support/update_check.h"

class QCheckBox;
class QLabel;

namespace vexel {

class CUpdaterWnd final : public QDialog {
    Q_OBJECT

public:
    using Opener = std::function<bool(const std::string&)>;
    // An empty opener uses the desktop's browser.
    CUpdaterWnd(QWidget* owner, Opener opener);
    ~CUpdaterWnd() override;

    // Told the offered version when the window closes with "Don't remind me" checked.
    void OnIgnore(std::function<void(const FourPartVersion&)> handler) { m_onIgnore = std::move(handler); }
    // pageUrl must already be checked (UpdatePageUrl); it is opened only by the button.
    void Show(const UpdateOffer& offer, const std::string& pageUrl, const std::string& title);
    QCheckBox* DontRemind() const { return m_dontRemind; }

    void done(int result) override;

private:
    void OpenPage();

    Opener m_opener;
    std::function<void(const FourPartVersion&)> m_onIgnore;
    QLabel* m_version = nullptr;
    QCheckBox* m_dontRemind = nullptr;
    FourPartVersion m_offered{};
    bool m_offerIgnore = false;
    std::string m_pageUrl;
};

}  // namespace vexel
