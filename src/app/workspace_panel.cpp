#include "app/workspace_panel.h"

#include <QMouseEvent>
#include <QPainter>

#include "app/series_load_controller.h"
#include "app/viewport_widget.h"
#include "viewer/viewport_annotations.h"

namespace vexel {
namespace {

constexpr QRgb kActiveHeader = 0x3C5A82;
constexpr QRgb kInactiveHeader = 0x3A3A3A;
constexpr QRgb kProgress = 0x2E7D4F;
constexpr QRgb kSeparator = 0x1A1A1A;
constexpr QRgb kCloseBox = 0x8A8A8A;
constexpr QRgb kCloseBoxHovered = 0xD04848;
constexpr int32_t kPercentBox = 35;

uint32_t NextPanelId() {
    static uint32_t last = 0;  // user-interface thread only
    return ++last;
}

QRect ToQRect(const CellRect& r) {
    return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
}

}  // namespace

CWorkspacePanel::CWorkspacePanel(ScanServices scan, const ViewportServices& viewport,
                                 StudyModel& model, QWidget* parent)
    : QWidget(parent), m_id(NextPanelId()) {
    setMouseTracking(true);
    m_viewportWidget = new CViewportWidget(viewport, this);
    m_viewportWidget->Viewport().SetPanelId(m_id);
    // A press in the viewport activates the panel as a press on the header does.
    m_viewportWidget->installEventFilter(this);
    m_loads = std::make_unique<CSeriesLoadController>(scan, model, Viewport());
    m_loads->onProgress = [this](int32_t percent, bool loading) { SetProgress(percent, loading); };
}

CWorkspacePanel::~CWorkspacePanel() {
    // The one teardown: the load stops, then the viewport lets go of everything it holds
    // (cine stopped, references released) while the panel still exists.
    m_loads->onProgress = nullptr;
    m_loads.reset();
    Viewport().Clear(false);
}

CViewport2D& CWorkspacePanel::Viewport() const {
    return m_viewportWidget->Viewport();
}

SeriesId CWorkspacePanel::Series() const {
    return m_loads->Series();
}

void CWorkspacePanel::SetTitle(const QString& title) {
    if (title == m_title) return;
    m_title = title;
    update(0, 0, width(), kHeaderHeight);
}

void CWorkspacePanel::SetProgress(int32_t percent, bool loading) {
    percent = std::clamp(percent, 0, 100);
    if (percent == m_percent && loading == m_loading) return;
    m_percent = percent;
    m_loading = loading;
    update(0, 0, width(), kHeaderHeight);
}

void CWorkspacePanel::SetActiveDisplay(bool active) {
    if (active == m_active) return;
    m_active = active;
    update(0, 0, width(), kHeaderHeight);
}

bool CWorkspacePanel::Load(SeriesId series) {
    SetTitle({});
    return m_loads->Load(series, Viewport().CurrentIndex());
}

void CWorkspacePanel::Clear() {
    m_loads->Cancel();
    m_loads->Forget();
    SetTitle({});
    SetProgress(0, false);
    Viewport().Clear(true);
}

void CWorkspacePanel::resizeEvent(QResizeEvent*) {
    m_viewportWidget->setGeometry(1, kHeaderHeight, std::max(width() - 2, 0),
                                  std::max(height() - kHeaderHeight - 1, 0));
}

void CWorkspacePanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int32_t w = width();
    const QColor background(m_active ? kActiveHeader : kInactiveHeader);
    painter.fillRect(0, 0, w, kHeaderHeight, background);
    if (m_loading) painter.fillRect(1, 0, ProgressPixels(m_percent, w), kHeaderHeight, QColor(kProgress));
    painter.fillRect(0, kHeaderHeight - 1, w, 1, QColor(kSeparator));
    // The border around the viewport shows which panel is active.
    painter.fillRect(0, kHeaderHeight, 1, height(), background);
    painter.fillRect(w - 1, kHeaderHeight, 1, height(), background);
    painter.fillRect(0, height() - 1, w, 1, background);

    const QRect close = ToQRect(CloseBox(w, kHeaderHeight));
    int32_t titleWidth = close.left() - 8;
    if (m_loading) titleWidth -= kPercentBox;
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(kHeaderHeight - 6);
    painter.setFont(font);
    if (titleWidth > 0) {
        painter.drawText(QRect(4, 1, titleWidth, kHeaderHeight - 2), Qt::AlignLeft | Qt::AlignVCenter,
                         painter.fontMetrics().elidedText(m_title, Qt::ElideRight, titleWidth));
    }
    if (m_loading) {
        painter.drawText(QRect(close.left() - kPercentBox - 2, 1, kPercentBox, kHeaderHeight - 2),
                         Qt::AlignRight | Qt::AlignVCenter, QString("%1%").arg(m_percent));
    }
    painter.fillRect(close, QColor(m_hoverOnClose ? kCloseBoxHovered : kCloseBox));
    painter.setPen(QColor(kSeparator));
    painter.drawRect(close.adjusted(0, 0, -1, -1));
    painter.setPen(Qt::white);
    painter.drawLine(close.topLeft() + QPoint(3, 3), close.bottomRight() - QPoint(3, 3));
    painter.drawLine(close.topRight() + QPoint(-3, 3), close.bottomLeft() + QPoint(3, -3));
}

void CWorkspacePanel::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton && ToQRect(CloseBox(width(), kHeaderHeight)).contains(at)) {
        emit closeClicked(m_id);  // the workspace removes the panel: nothing may follow here
        return;
    }
    emit pressed(m_id);
}

void CWorkspacePanel::mouseMoveEvent(QMouseEvent* event) {
    SetHoverOnClose(ToQRect(CloseBox(width(), kHeaderHeight)).contains(event->position().toPoint()));
}

void CWorkspacePanel::leaveEvent(QEvent*) {
    SetHoverOnClose(false);
}

bool CWorkspacePanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_viewportWidget && event->type() == QEvent::MouseButtonPress) emit pressed(m_id);
    return false;
}

void CWorkspacePanel::SetHoverOnClose(bool hover) {
    if (hover == m_hoverOnClose) return;
    m_hoverOnClose = hover;
    update(ToQRect(CloseBox(width(), kHeaderHeight)));
}

}  // namespace vexel
