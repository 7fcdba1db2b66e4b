// The main window. For now a frame with the program's title, File and View menus, the list of
// loaded patients, studies and series beside one 2D viewport showing the chosen series, and
// the loading progress in the status bar; closing it hides it and asks the application to
// quit in order.
#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>

#include "app/scan_controller.h"
#include "engine/series_record.h"
#include "viewer/viewport_2d.h"

class QAction;
class QLabel;
class QProgressBar;
class QSplitter;

namespace vexel {

class CCineWnd;
class CSeriesLoadController;
class CStudyTree;
class CTimerService;
class CViewportWidget;
class StudyModel;

struct MainWindowServices {
    ScanServices scan;
    CTimerService* timers = nullptr;  // drives the once-a-second status refresh
    // The viewport's series states, presets and event hook (states and presets required).
    ViewportServices viewport;
    // Told the layers shown whenever the user switches one (to be saved in the settings).
    std::function<void(uint32_t)> layerMaskChanged;
};

class CMainWindow final : public QMainWindow {
    Q_OBJECT

public:
    CMainWindow(MainWindowServices services, std::function<void()> onClose);
    ~CMainWindow() override;

    CScanController& Scans() { return *m_scans; }
    CStudyTree& Tree() { return *m_tree; }
    StudyModel& Model() { return *m_model; }
    CViewportWidget& ViewportWidget() { return *m_viewportWidget; }
    CViewport2D& Viewport();
    CSeriesLoadController& Loads() { return *m_loads; }
    // Clears the viewport and loads the series into it (what choosing its row does).
    bool ShowSeries(SeriesId series);
    // The once-a-second refresh of the status bar.
    void RefreshStatus();
    // "Image i / n" while the viewport shows something.
    QString ImageStatusText() const;
    // Shows the cine window (Space shows or hides it), made at the first use.
    CCineWnd& ShowCineWindow();
    CCineWnd* CineWindow() const { return m_cineWnd; }
    // The viewport of the one panel there is until the split screen comes.
    static constexpr uint32_t kPanelId = 1;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    static void OnTimer(uint64_t timerId, uint32_t reason, void* context);
    static uint32_t OnViewportEvent(uint32_t code, uint64_t payload, void* context);
    void CreateViewMenu();
    // The keys of the shown series; false when the key is not one of them.
    bool ViewerKey(int key);
    // Escape and the three deletes of measurements.
    bool MeasurementCommand(int key, Qt::KeyboardModifiers held);
    void ShowFirstSeriesIfEmpty();
    void OnPresented();

    MainWindowServices m_services;
    std::function<void()> m_onClose;
    std::unique_ptr<StudyModel> m_model;
    QSplitter* m_splitter = nullptr;  // owned by the window, as are the widgets below
    CStudyTree* m_tree = nullptr;
    CViewportWidget* m_viewportWidget = nullptr;
    std::unique_ptr<CScanController> m_scans;
    std::unique_ptr<CSeriesLoadController> m_loads;
    QAction* m_negative = nullptr;
    QLabel* m_statusText = nullptr;
    QString m_summary;  // of the last scan
    QLabel* m_imageText = nullptr;
    QProgressBar* m_progress = nullptr;
    uint64_t m_timer = 0;
    uint32_t m_viewportEvents = 0;  // subscription cookie
    CCineWnd* m_cineWnd = nullptr;  // owned by the window
};

}  // namespace vexel
