// One panel of the workspace: a header strip (title, loading progress, close box) over a 2D
// viewport, and the load of the series it shows. Panel ids come from one counter for the
// run, starting at 1, and are never reused.
#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>

#include "app/scan_controller.h"
#include "app/workspace_grid.h"
#include "engine/series_record.h"
#include "viewer/viewport_2d.h"

namespace vexel {

class CSeriesLoadController;
class CViewportWidget;
class StudyModel;

class CWorkspacePanel final : public QWidget {
    Q_OBJECT

public:
    static constexpr int32_t kHeaderHeight = 18;

    CWorkspacePanel(ScanServices scan, const ViewportServices& viewport, StudyModel& model,
                    QWidget* parent);
    // The viewport goes through the same teardown as a clear before it is deleted.
    ~CWorkspacePanel() override;

    uint32_t Id() const { return m_id; }
    uint32_t Number() const { return m_number; }
    void SetNumber(uint32_t number) { m_number = number; }
    const QString& Title() const { return m_title; }
    void SetTitle(const QString& title);
    int32_t Progress() const { return m_percent; }
    bool Loading() const { return m_loading; }
    // Percent is kept within 0..100.
    void SetProgress(int32_t percent, bool loading);
    bool ActiveDisplay() const { return m_active; }
    void SetActiveDisplay(bool active);

    CViewportWidget& ViewportWidget() const { return *m_viewportWidget; }
    CViewport2D& Viewport() const;
    CSeriesLoadController& Loads() const { return *m_loads; }
    // The series shown (or loading), 0 when empty.
    SeriesId Series() const;

    // Clears the panel and loads the series, starting at the viewport's current image.
    bool Load(SeriesId series);
    // Stops the load, empties title, progress and viewport.
    void Clear();

signals:
    void closeClicked(uint32_t panelId);
    void pressed(uint32_t panelId);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SetHoverOnClose(bool hover);

    uint32_t m_id;
    uint32_t m_number = 0;
    QString m_title;
    int32_t m_percent = 0;
    bool m_loading = false;
    bool m_active = false;
    bool m_hoverOnClose = false;
    CViewportWidget* m_viewportWidget = nullptr;  // child
    std::unique_ptr<CSeriesLoadController> m_loads;
};

}  // namespace vexel
