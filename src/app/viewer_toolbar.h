// The main window's toolbar: one button per command group, the menus dropping down from their
// arrow parts, tooltips with the keys, and a full-screen set with minimize and close. A tool
// button tells which mouse button clicked it, so the tool goes to that mouse button.
#pragma once

#include <QToolBar>
#include <QToolButton>
#include <array>
#include <functional>
#include <span>

#include "app/main_commands.h"

class QMenu;

namespace vexel {

struct ToolbarButtonSpec {
    const char* icon;      // id of the SVG icon
    uint32_t tooltipId;
    const char* key;       // shown after the tooltip, or null
    uint32_t command;      // of a click (the transformations button: its left half)
    std::optional<MainMenu> menu;
    bool menuOnClick;      // the whole button opens the menu
    bool checkable;
};

std::span<const ToolbarButtonSpec> ToolbarButtons();

// A tool button that reports which mouse button clicked it and where.
class CToolbarButton final : public QToolButton {
    Q_OBJECT

public:
    using QToolButton::QToolButton;

signals:
    void activated(Qt::MouseButton button, QPoint at);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_rightPressed = false;
};

class CViewerToolbar final : public QToolBar {
    Q_OBJECT

public:
    // `menus` gives the menu of each arrow part.
    CViewerToolbar(const std::function<QMenu*(MainMenu)>& menus, QWidget* parent);

    // The button of a click command; null when none.
    CToolbarButton* Button(uint32_t command) const;
    void SetChecked(uint32_t command, bool checked);
    // Adds the minimize and close buttons and the exit tooltip, or takes them away.
    void SetFullScreenSet(bool fullScreen);

signals:
    // A click (the transformations button: rotation by the half clicked). Checked states are
    // the viewer's: the window sets them again after every command.
    void command(uint32_t id, Qt::MouseButton button);

private:
    CToolbarButton* AddButton(const ToolbarButtonSpec& spec,
                              const std::function<QMenu*(MainMenu)>& menus);

    std::vector<std::pair<uint32_t, CToolbarButton*>> m_buttons;
    QAction* m_minimize = nullptr;
    QAction* m_close = nullptr;
};

}  // namespace vexel
