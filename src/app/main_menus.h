// The ten menus of the main window, built from the command table. Each entry sends its
// command id; the window sets checks and enabled states just before a menu opens.
#pragma once

#include <QString>
#include <array>
#include <functional>
#include <map>
#include <vector>

#include "app/main_commands.h"

class QAction;
class QMenu;
class QWidget;

namespace vexel {

class CMainMenus {
public:
    // `run` gets the command of a chosen entry; `aboutToShow` is called before a menu opens.
    CMainMenus(QWidget* owner, std::function<void(uint32_t)> run,
               std::function<void()> aboutToShow);

    QMenu* Menu(MainMenu menu) const { return m_menus[size_t(menu)]; }
    // The entry of a command; null when no menu has it.
    QAction* Action(uint32_t command) const;
    const std::map<uint32_t, QAction*>& Actions() const { return m_actions; }
    // One entry per installed language (commands from kFirstLanguage), the chosen one
    // checked, above "Download language files".
    void SetLanguages(const std::vector<QString>& names, size_t chosen);

private:
    std::array<QMenu*, kMainMenuCount> m_menus{};
    std::map<uint32_t, QAction*> m_actions;
    QMenu* m_languageMenu = nullptr;
    std::vector<QAction*> m_languageActions;
    std::function<void(uint32_t)> m_run;
};

}  // namespace vexel
