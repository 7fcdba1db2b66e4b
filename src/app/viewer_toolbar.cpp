#include "app/viewer_toolbar.h"

#include <QMenu>
#include <QMouseEvent>

#include "app/toolbar_icons.h"
#include "support/language_manager.h"

namespace vexel {
namespace {

using namespace command;
using M = MainMenu;

constexpr uint32_t kFullScreenTip = 1011;
constexpr uint32_t kExitFullScreenTip = 1012;

constexpr ToolbarButtonSpec kButtons[] = {
    {"scan-folder", 1001, nullptr, kOpenFolder, M::Open, false, false},
    {"cd-dvd", 1002, nullptr, kOpenDisc, std::nullopt, false, false},
    {"export", 1003, nullptr, kExport, M::Export, false, false},
    {"split-screen", 1019, nullptr, kSplitScreen, std::nullopt, false, false},
    {"annotations", 1016, nullptr, kAnnotations, M::Annotations, false, true},
    {"browse-series", 1004, " (B)", kToolBrowse, M::Browse, false, true},
    {"window-level", 1005, " (W)", kToolWindow, M::Window, false, true},
    {"pan", 1006, " (M)", kToolPan, std::nullopt, false, true},
    {"zoom", 1007, " (Z)", kToolZoom, M::Zoom, false, true},
    {"measurements", 1008, nullptr, kToolMeasure, M::Measurements, false, true},
    {"rotate", 1015, nullptr, kRotateCcw, M::Transformations, false, false},
    {"cine", 1009, " (Space)", kCine, std::nullopt, false, true},
    {"mpr", 1017, nullptr, 0, M::Mpr, true, false},
    {"fusion", 1018, nullptr, kFusion, std::nullopt, false, true},
    {"about", 1010, nullptr, kAbout, M::Help, false, false},
};

constexpr ToolbarButtonSpec kMinimizeButton = {"minimize", 1013, nullptr, kMinimize,
                                               std::nullopt, false, false};
constexpr ToolbarButtonSpec kCloseButton = {"close", 1014, nullptr, kClose, std::nullopt,
                                            false, false};
constexpr ToolbarButtonSpec kFullScreenButton = {"full-screen", kFullScreenTip, " (F)",
                                                 kFullScreen, std::nullopt, false, false};

QString Text(uint32_t id) {
    return QString::fromStdString(GetString(id));
}

}  // namespace

std::span<const ToolbarButtonSpec> ToolbarButtons() {
    return kButtons;
}

void CToolbarButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        m_rightPressed = true;
        setDown(true);
        return event->accept();
    }
    QToolButton::mousePressEvent(event);
}

void CToolbarButton::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::RightButton && m_rightPressed) {
        m_rightPressed = false;
        setDown(false);
        if (rect().contains(at)) emit activated(Qt::RightButton, at);
        return event->accept();
    }
    // The click of the left button comes through clicked(); the press point decides halves.
    const bool inside = event->button() == Qt::LeftButton && isDown() && rect().contains(at);
    QToolButton::mouseReleaseEvent(event);
    if (inside) emit activated(Qt::LeftButton, at);
}

CViewerToolbar::CViewerToolbar(const std::function<QMenu*(MainMenu)>& menus, QWidget* parent)
    : QToolBar(parent) {
    setMovable(false);
    setFloatable(false);
    setContextMenuPolicy(Qt::PreventContextMenu);
    setIconSize(QSize(24, 24));
    for (const ToolbarButtonSpec& spec : kButtons)
        addWidget(AddButton(spec, menus));
    // The window buttons sit at the right end.
    auto* spacer = new QWidget(this);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    addWidget(spacer);
    m_minimize = addWidget(AddButton(kMinimizeButton, menus));
    m_close = addWidget(AddButton(kCloseButton, menus));
    addWidget(AddButton(kFullScreenButton, menus));
    SetFullScreenSet(false);
}

CToolbarButton* CViewerToolbar::AddButton(const ToolbarButtonSpec& spec,
                                          const std::function<QMenu*(MainMenu)>& menus) {
    auto* button = new CToolbarButton(this);
    button->setIcon(ToolbarIcon(spec.icon));
    button->setObjectName(spec.icon);
    button->setToolTip(Text(spec.tooltipId) + (spec.key ? spec.key : ""));
    button->setAutoRaise(true);
    button->setCheckable(spec.checkable);
    button->setIconSize(iconSize());
    if (spec.menu) {
        button->setMenu(menus(*spec.menu));
        button->setPopupMode(spec.menuOnClick ? QToolButton::InstantPopup
                                              : QToolButton::MenuButtonPopup);
    }
    connect(button, &CToolbarButton::activated, this,
            [this, button, command = spec.command](Qt::MouseButton mouse, QPoint at) {
                if (command == 0) return;
                uint32_t id = command;
                // The right half of the transformations button turns the other way.
                if (command == kRotateCcw && at.x() >= button->width() / 2) id = kRotateCw;
                emit this->command(id, mouse);
            });
    m_buttons.emplace_back(spec.command, button);
    return button;
}

CToolbarButton* CViewerToolbar::Button(uint32_t command) const {
    for (const auto& [id, button] : m_buttons)
        if (id == command) return button;
    return nullptr;
}

void CViewerToolbar::SetChecked(uint32_t command, bool checked) {
    CToolbarButton* button = Button(command);
    if (button == nullptr || button->isChecked() == checked) return;
    const QSignalBlocker block(button);
    button->setChecked(checked);
}

void CViewerToolbar::SetFullScreenSet(bool fullScreen) {
    m_minimize->setVisible(fullScreen);
    m_close->setVisible(fullScreen);
    CToolbarButton* button = Button(kFullScreen);
    button->setIcon(ToolbarIcon(fullScreen ? "exit-full-screen" : "full-screen"));
    button->setToolTip(Text(fullScreen ? kExitFullScreenTip : kFullScreenTip) + " (F)");
}

}  // namespace vexel
