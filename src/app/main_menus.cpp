#include "app/main_menus.h"

#include <QAction>
#include <QMenu>

#include "support/language_manager.h"

namespace vexel {
namespace {

constexpr uint32_t kLanguageMenuText = 1214;

QString EntryText(const MenuEntry& entry) {
    QString text = entry.textId != 0 ? QString::fromStdString(GetString(entry.textId))
                                     : QString::fromUtf8(entry.label);
    // The key is shown, not bound: the window's key table handles every key.
    if (entry.shortcut != nullptr) text += QString("\t") + entry.shortcut;
    return text;
}

}  // namespace

CMainMenus::CMainMenus(QWidget* owner, std::function<void(uint32_t)> run,
                       std::function<void()> aboutToShow)
    : m_run(std::move(run)) {
    for (QMenu*& menu : m_menus) {
        menu = new QMenu(owner);
        QObject::connect(menu, &QMenu::aboutToShow, menu, aboutToShow);
    }
    std::map<std::pair<size_t, uint32_t>, QMenu*> submenus;
    for (const MenuEntry& entry : MenuEntries()) {
        QMenu* menu = Menu(entry.menu);
        if (entry.separatorBefore && !menu->isEmpty()) menu->addSeparator();
        if (entry.submenuTextId != 0) {
            QMenu*& submenu = submenus[{size_t(entry.menu), entry.submenuTextId}];
            if (submenu == nullptr) {
                submenu = menu->addMenu(QString::fromStdString(GetString(entry.submenuTextId)));
                QObject::connect(submenu, &QMenu::aboutToShow, submenu, aboutToShow);
                if (entry.submenuTextId == kLanguageMenuText) m_languageMenu = submenu;
            }
            menu = submenu;
        }
        QAction* action = menu->addAction(EntryText(entry));
        action->setCheckable(entry.checkable);
        action->setData(entry.command);
        QObject::connect(action, &QAction::triggered, action,
                         [this, command = entry.command] { m_run(command); });
        m_actions[entry.command] = action;
    }
}

QAction* CMainMenus::Action(uint32_t command) const {
    const auto it = m_actions.find(command);
    return it != m_actions.end() ? it->second : nullptr;
}

void CMainMenus::SetLanguages(const std::vector<QString>& names, size_t chosen) {
    if (m_languageMenu == nullptr) return;
    for (QAction* action : m_languageActions)
        delete action;
    m_languageActions.clear();
    QAction* first = m_languageMenu->actions().value(0);
    for (size_t i = 0; i < names.size(); ++i) {
        auto* action = new QAction(names[i], m_languageMenu);
        action->setCheckable(true);
        action->setChecked(i == chosen);
        const uint32_t command = command::kFirstLanguage + uint32_t(i);
        QObject::connect(action, &QAction::triggered, action, [this, command] { m_run(command); });
        m_languageMenu->insertAction(first, action);
        m_languageActions.push_back(action);
    }
    if (!names.empty()) m_languageActions.push_back(m_languageMenu->insertSeparator(first));
}

}  // namespace vexel
