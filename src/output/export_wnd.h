// The export window: what to write (the shown image, its series, or every opened series), as
// what (JPEG, BMP, or a movie), at which size, with which annotations and where. It is made
// on first use and kept; closing it stops a running export. One run at a time.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "output/export_plan.h"
#include "viewer/viewer_texts.h"

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QWidget;

namespace vexel {

class CExportRun;
class CJPEGEngine;
class CMemoryManager;
class CSeriesStateStore;
class CTaskManager;
class CWindowPresetTable;
class StudyModel;
struct ExportProgress;

// What the window works with; everything outlives it.
struct ExportWindowContext {
    CMemoryManager* files = nullptr;
    CJPEGEngine* jpeg = nullptr;
    const CWindowPresetTable* presets = nullptr;
    const CSeriesStateStore* states = nullptr;
    const StudyModel* model = nullptr;
    CTaskManager* tasks = nullptr;  // null: no task in the status bar
    TextLookup texts;
    // The active panel's viewport and series.
    std::function<ExportSource()> activeSource;
    // A study header's date and time as the thumbnail box shows it.
    std::function<std::string(const StudyView&)> studyDateTime;
    // A message for the main window's status bar.
    std::function<void(const QString&)> showStatus;
    uint32_t threads = 0;  // 0: one per logical processor
};

class CExportWnd final : public QDialog {
    Q_OBJECT

public:
    // annotationsShown: the display's annotation bit, which picks the first annotation level.
    CExportWnd(ExportWindowContext context, bool annotationsShown, QWidget* parent);
    // Stops a running export and waits for it.
    ~CExportWnd() override;

    // Centred over the parent; only when the active viewport shows an image.
    bool Open();
    // The Export button.
    void StartExport();
    bool Exporting() const;
    // The counters of the next image export and movie.
    uint32_t ImageRun() const { return m_imageRun; }
    uint32_t MovieCounter() const { return m_movieCounter; }
    // The settings the controls hold now (the folder as typed).
    ExportSettings Settings() const;
    // What the last finished run could not write, and what it wrote in all.
    size_t LastFailed() const { return m_lastFailed; }
    size_t LastTotal() const { return m_lastTotal; }

    // Controls, for the main window's tests.
    QPushButton* ExportButton() const { return m_exportButton; }
    QPushButton* CloseButton() const { return m_closeButton; }
    QLineEdit* FolderField() const { return m_folder; }
    QLineEdit* PrefixField() const { return m_prefix; }
    void SelectScope(ExportScope scope);
    void SelectFormat(ExportFormat format);
    void SelectSize(ExportSize size);
    void SetFolderConfirmed(bool confirmed) { m_folderConfirmed = confirmed; }

    // Close, Cancel and Escape alike: a running export stops, the window hides.
    void reject() override;

private:
    QString Text(uint32_t id) const;
    void BuildControls(bool annotationsShown);
    QWidget* BuildScope();
    QWidget* BuildFormat();
    QWidget* BuildSize();
    QWidget* BuildOptions();
    QWidget* BuildLocation();
    void UpdateControls();
    void SetControlsEnabled(bool enabled);
    bool ChooseFolder();
    void Begin(ExportPlan plan);
    void OnProgress(const ExportProgress& progress);
    void Finish(const ExportProgress& progress);
    void EndTask();

    ExportWindowContext m_context;
    std::unique_ptr<CExportRun> m_run;
    uint64_t m_lastRunId = 0;
    uint32_t m_imageRun = 1;
    uint32_t m_movieCounter = 1;
    bool m_folderConfirmed = false;
    int32_t m_taskId = 0;
    QElapsedTimer m_lastBarMove;
    size_t m_lastFailed = 0;
    size_t m_lastTotal = 0;

    QButtonGroup* m_scope = nullptr;
    QButtonGroup* m_format = nullptr;
    QButtonGroup* m_size = nullptr;
    QRadioButton* m_currentSize = nullptr;
    QComboBox* m_fitList = nullptr;
    QSpinBox* m_customWidth = nullptr;
    QSpinBox* m_customHeight = nullptr;
    QComboBox* m_annotations = nullptr;
    QLabel* m_qualityLabel = nullptr;
    QSlider* m_quality = nullptr;
    QButtonGroup* m_rate = nullptr;
    QSpinBox* m_customRate = nullptr;
    QPushButton* m_moreButton = nullptr;
    QGroupBox* m_location = nullptr;
    QLineEdit* m_folder = nullptr;
    QLineEdit* m_prefix = nullptr;
    QLabel* m_message = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_exportButton = nullptr;
    QPushButton* m_closeButton = nullptr;
    QWidget* m_options = nullptr;  // everything disabled while exporting
};

}  // namespace vexel
