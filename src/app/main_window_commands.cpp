// The main window's commands: one dispatcher for menus, toolbar buttons and keys.
#include <filesystem>

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QStatusBar>

#include "app/cine_wnd.h"
#include "app/dicom_tags_wnd.h"
#include "app/dicom_thumb_box.h"
#include "app/main_menus.h"
#include "app/main_window.h"
#include "app/message_wnd_manager.h"
#include "app/options.h"
#include "app/path_utilities.h"
#include "app/split_chooser.h"
#include "app/updater.h"
#include "app/viewer_toolbar.h"
#include "app/web_links.h"
#include "app/workspace_panel.h"
#include "platform/version.h"
#include "engine/archive_name.h"
#include "engine/memory_manager.h"
#include "output/export_wnd.h"
#include "engine/study_model.h"
#include "imaging/binary_value_cacher.h"
#include "imaging/dicom_frame.h"
#include "imaging/dicom_image.h"
#include "support/language_manager.h"
#include "viewer/viewport_measurements.h"
#include "viewer/viewport_window_tool.h"
#include "volume/fusion_engine.h"
#include "volume/viewport_mpr.h"

namespace vexel {
namespace {

using namespace command;

constexpr uint32_t kChooseFolderText = 7;
constexpr uint32_t kNewLanguageText = 1103;
constexpr uint32_t kRestartText = 1104;
constexpr uint32_t kLanguageImportedText = 1105;
constexpr uint32_t kAboutText = 1215;
constexpr int32_t kPanStep = 10;

std::optional<MeasurementKind> KindOf(uint32_t id) {
    switch (id) {
        case kLength:
            return MeasurementKind::Length;
        case kEllipse:
            return MeasurementKind::Ellipse;
        case kPencil:
            return MeasurementKind::Pencil;
        case kAngle:
            return MeasurementKind::Angle;
        case kCobb:
            return MeasurementKind::Cobb;
        default:
            return std::nullopt;
    }
}

std::optional<MouseTool> ToolOf(uint32_t id) {
    switch (id) {
        case kToolBrowse:
            return MouseTool::Browse;
        case kToolWindow:
            return MouseTool::Window;
        case kToolPan:
            return MouseTool::Pan;
        case kToolZoom:
            return MouseTool::Zoom;
        case kToolMeasure:
            return MouseTool::Measure;
        default:
            return std::nullopt;
    }
}

bool IsLoadCommand(uint32_t id) {
    switch (id) {
        case kOpenFile:
        case kOpenFolder:
        case kOpenZip:
        case kAddFile:
        case kAddFolder:
        case kAddZip:
        case kOpenDisc:
        case kScanAnother:
            return true;
        default:
            return false;
    }
}

// Commands that need a shown image in the active panel.
bool NeedsImage(uint32_t id) {
    return (id >= kDefaultWindow && id <= kZoom100) || id == kNegative ||
           (id >= kDeleteSelected && id <= kCopy) || (id >= kRotateCw && id <= kClearTransforms) ||
           (id >= kShowTags && id <= kAxial) || (id >= kZoom200 && id <= kZoom800);
}

QString Text(uint32_t id) {
    return QString::fromStdString(GetString(id));
}

// Dropped local files and folders, exactly as named; other addresses are not ours to fetch.
std::vector<std::string> LocalPaths(const QMimeData* data) {
    std::vector<std::string> paths;
    if (data == nullptr || !data->hasUrls()) return paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            paths.push_back(url.toLocalFile().toStdString());
    }
    return paths;
}


}  // namespace

bool CMainWindow::Loading() const {
    return m_scans->Scanning();
}

bool CMainWindow::Execute(uint32_t id, Qt::MouseButton button, Qt::KeyboardModifiers held) {
    bool done = false;
    if (IsLoadCommand(id)) {
        done = LoadCommand(id, held.testFlag(Qt::ShiftModifier) || id == kScanAnother ||
                                   id == kAddFile || id == kAddFolder || id == kAddZip);
    } else if (const auto tool = ToolOf(id)) {
        SetTool(*tool, button);
        done = true;
    } else if (const auto kind = KindOf(id)) {
        m_kind = *kind;
        SetTool(MouseTool::Measure, button);
        done = true;
    } else if (id >= kFirstLanguage && id < kFirstLanguage + CLanguageManager::kMaxLanguages) {
        ChooseLanguage(id - kFirstLanguage);
        done = true;
    } else {
        done = WindowCommand(id) || HelpCommand(id) || ViewportCommand(id);
    }
    RefreshToolbar();
    return done;
}

bool CMainWindow::WindowCommand(uint32_t id) {
    switch (id) {
        case kAnnotations:
            ToggleLayer(kLayerAnnotations);
            return true;
        case kReferenceLines:
            ToggleLayer(kLayerSynchroniser);
            return true;
        case kAutoSync:
            if (m_services.options == nullptr) return false;
            m_services.options->SetAutomaticSynchronisation(
                !m_services.options->AutomaticSynchronisation());
            return true;
        case kCine:
            ToggleCine();
            return true;
        case kFullScreen:
            SetFullScreen(!m_fullScreen);
            return true;
        case kMinimize:
            showMinimized();
            return true;
        case kClose:
            close();
            return true;
        case kSplitScreen: {
            QWidget* anchor = m_toolbar->Button(kSplitScreen);
            SplitChooser().Popup(anchor->mapToGlobal(QPoint(0, anchor->height())));
            return true;
        }
        case kNextPanel:
        case kPreviousPanel:
            Workspace().ActivateNext(id == kNextPanel ? 1 : -1);
            return true;
        case kFirstSeries:
            return m_thumbs->HandleKey(Qt::Key_Home);
        case kLastSeries:
            return m_thumbs->HandleKey(Qt::Key_End);
        case kPreviousSeries:
            return m_thumbs->HandleKey(Qt::Key_Left);
        case kNextSeries:
            return m_thumbs->HandleKey(Qt::Key_Right);
        case kCloseAll:
            CloseAll();
            return true;
        default:
            return false;
    }
}

bool CMainWindow::ViewportCommand(uint32_t id) {
    CWorkspacePanel* panel = ActivePanel();
    CViewport2D* active = ActiveViewport();
    if (panel == nullptr || active == nullptr) return false;
    CViewport2D& viewport = *active;
    if (id == kClosePanel) {
        Workspace().RemovePanel(panel->Id(), true, false);
        return true;
    }
    if (viewport.CurrentFrame() == nullptr) return false;
    if (id >= kDefaultWindow && id <= kLastPreset)
        return viewport.SelectPreset(int32_t(id - kDefaultWindow));
    CViewport2DROI& measurements = viewport.Measurements();
    switch (id) {
        case kNegative:
            viewport.SetNegative(!viewport.Negative());
            return true;
        case kFillViewport:
            viewport.FitToViewport();
            return true;
        case kZoom100:
            viewport.ActualSize();
            return true;
        case kZoom200:
        case kZoom400:
        case kZoom800:
            viewport.SetZoom(float(2 << (id - kZoom200)));
            return true;
        case kZoomIn:
        case kZoomOut:
        case kFontLarger:
        case kFontSmaller:
            viewport.KeyDown(id == kZoomIn || id == kFontLarger ? CViewport2D::kKeyPlus
                                                               : CViewport2D::kKeyMinus,
                             {true, id == kFontLarger || id == kFontSmaller});
            return true;
        case kPanLeft:
        case kPanRight:
            viewport.Pan(id == kPanLeft ? -kPanStep : kPanStep, 0);
            return true;
        case kPanUp:
        case kPanDown:
            viewport.Pan(0, id == kPanUp ? -kPanStep : kPanStep);
            return true;
        case kPreviousImage:
        case kNextImage:
            viewport.Browse(id == kPreviousImage ? -1 : 1);
            return true;
        case kBack10:
        case kForward10:
            viewport.Browse(id == kBack10 ? -10 : 10);
            return true;
        case kRotateCcw:
        case kRotateCw:
        case kRotate180:
            viewport.Transform(id == kRotateCcw ? -90 : id == kRotateCw ? 90 : 180, false, false,
                               false);
            return true;
        case kFlipHorizontal:
            viewport.Transform(0, false, true, false);
            return true;
        case kFlipVertical:
            viewport.Transform(0, true, false, false);
            return true;
        case kClearTransforms:
            viewport.Transform(0, false, false, true);
            return true;
        case kDeselect:
            return measurements.Escape();
        case kDeleteSelected:
            measurements.DeleteSelected();
            return true;
        case kDeleteInImage:
            measurements.DeleteAllInImage();
            return true;
        case kDeleteInSeries:
            measurements.DeleteAllInSeries();
            return true;
        case kCopy:
            return CopyToClipboard();
        case kExport:
            return OpenExport() != nullptr;
        case kShowTags:
            OpenTags();
            return true;
        case kCoronal:
        case kSagittal:
        case kAxial: {
            static constexpr int32_t kPlanes[] = {kPlaneCoronal, kPlaneSagittalRight,
                                                  kPlaneAxialFeet};
            auto* mpr = dynamic_cast<CViewport2DMPR*>(&viewport.Tool(ToolType::Mpr));
            return mpr != nullptr && mpr->SetPlane(kPlanes[id - kCoronal]) != 0;
        }
        case kFusion: {
            if (m_services.fusion == nullptr) return false;
            const std::string why = m_services.fusion->Toggle(viewport);
            if (!why.empty()) statusBar()->showMessage(QString::fromStdString(why), 5000);
            return why.empty();
        }
        default:
            return false;
    }
}

void CMainWindow::ToggleLayer(uint32_t bit) {
    m_layerMask ^= bit;
    for (CWorkspacePanel* panel : Workspace().Panels())
        panel->Viewport().SetLayerMask(m_layerMask);
    if (m_services.layerMaskChanged) m_services.layerMaskChanged(m_layerMask);
}

void CMainWindow::ToggleCine() {
    if (m_cineWnd != nullptr && m_cineWnd->isVisible()) {
        m_cineWnd->hide();
        return;
    }
    ShowCineWindow();
    // Under the cine button.
    if (QWidget* button = m_toolbar->Button(kCine); button && button->isVisible())
        m_cineWnd->move(button->mapToGlobal(QPoint(0, button->height())));
}

// ---- loading ----

QStringList CMainWindow::AskPaths(PathQuestion question) {
    if (m_services.askPaths) return m_services.askPaths(question);
    const QString start =
        m_services.options ? QString::fromStdString(m_services.options->Settings().dicomScanFolder)
                           : QString();
    switch (question) {
        case PathQuestion::Files:
            return QFileDialog::getOpenFileNames(this, {}, start, "DICOM (*)");
        case PathQuestion::Folder: {
            const QString folder =
                QFileDialog::getExistingDirectory(this, Text(kChooseFolderText), start);
            return folder.isEmpty() ? QStringList() : QStringList{folder};
        }
        case PathQuestion::Archive: {
            const QString file = QFileDialog::getOpenFileName(
                this, {}, start, "Zipped DICOM Files (*.zip *.dmz *.ZIP *.DMZ)");
            return file.isEmpty() ? QStringList() : QStringList{file};
        }
        case PathQuestion::Language: {
            const QString file =
                QFileDialog::getOpenFileName(this, {}, {}, "XML (*.xml *.XML)");
            return file.isEmpty() ? QStringList() : QStringList{file};
        }
    }
    return {};
}

bool CMainWindow::LoadCommand(uint32_t id, bool add) {
    if (Loading()) return false;
    std::vector<std::string> chosen;
    const auto ask = [&](PathQuestion question) {
        for (const QString& path : AskPaths(question))
            chosen.push_back(path.toStdString());
        return !chosen.empty();
    };
    switch (id) {
        case kOpenFile:
        case kAddFile:
            return ask(PathQuestion::Files) && Open({}, std::move(chosen), add);
        case kOpenFolder:
        case kAddFolder:
        case kScanAnother:
            if (!ask(PathQuestion::Folder)) return false;
            if (m_services.options) m_services.options->Settings().dicomScanFolder = chosen.front();
            return Open(std::move(chosen), {}, add);
        case kOpenZip:
        case kAddZip:
            return ask(PathQuestion::Archive) && OpenArchive(chosen.front(), add);
        case kOpenDisc: {
            std::vector<std::string> discs = OpticalMountPoints(ReadMountInfo());
            return !discs.empty() && Open(std::move(discs), {}, false);
        }
        default:
            return false;
    }
}

bool CMainWindow::Open(std::vector<std::string> folders, std::vector<std::string> files,
                       bool add) {
    if (Loading() || (folders.empty() && files.empty())) return false;
    if (!add) CloseAll();
    const bool optical = !folders.empty() && IsOnOpticalDrive(folders.front());
    const bool started = m_scans->StartScan(std::move(folders), std::move(files), optical);
    RefreshToolbar();
    return started;
}

bool CMainWindow::OpenArchive(const std::string& path, bool add) {
    if (Loading()) return false;
    if (!add) CloseAll();
    const bool started = m_scans->StartArchive(path);
    RefreshToolbar();
    return started;
}

bool CMainWindow::OpenPaths(const std::vector<std::string>& paths, bool add) {
    std::vector<std::string> folders;
    std::vector<std::string> files;
    for (const std::string& path : paths) {
        std::error_code error;
        if (std::filesystem::is_directory(path, error)) {
            folders.push_back(path);
        } else if (IsArchivePath(path) || IsZipByContent(path)) {
            // An archive is opened alone; whatever else came with it is left.
            return OpenArchive(path, add);
        } else {
            files.push_back(path);
        }
    }
    return Open(std::move(folders), std::move(files), add);
}

void CMainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!Loading() && !LocalPaths(event->mimeData()).empty()) event->acceptProposedAction();
}

void CMainWindow::dropEvent(QDropEvent* event) {
    const std::vector<std::string> paths = LocalPaths(event->mimeData());
    if (paths.empty() || Loading()) return;
    event->acceptProposedAction();
    OpenPaths(paths, event->modifiers().testFlag(Qt::ShiftModifier));
}

void CMainWindow::CloseAll() {
    // An export planned from what is open ends first (its thread is waited for).
    delete m_export;
    m_export = nullptr;
    Workspace().RemoveAllPanels();
    m_thumbs->Clear();
    m_model->Clear();
    m_autoOpen = true;
    if (CMemoryManager* files = m_services.scan.files) {
        files->ReleaseMemoryNow();
        // Unpacked archive entries go once the registry has let go of their paths (deferred
        // values are read back by path).
        if (m_services.scan.cache != nullptr) {
            m_services.scan.cache->DeleteGroupFiles("zip", [files](const std::filesystem::path& p) {
                return files->ForgetIfUnused(p.string());
            });
        }
    }
    RefreshToolbar();
}

// ---- keys ----

bool CMainWindow::HandleKey(int key, Qt::KeyboardModifiers held) {
    if (const auto id = CommandForKey(key, held)) Execute(*id, Qt::LeftButton, held);
    return true;
}

bool CMainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
    // Only keys aimed at this window or its children: dialogs and popups keep theirs.
    if (static_cast<QWidget*>(watched)->window() != this || m_destroying) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    return HandleKey(key->key(), key->modifiers());
}

void CMainWindow::OpenTags() {
    // Only an image read from a file: a reformatted slice has no file to list.
    CViewport2D* viewport = ActiveViewport();
    CDicomImage* image = viewport != nullptr ? viewport->CurrentImage() : nullptr;
    if (image == nullptr || image->File().Path().empty() || image->Frame(0) == nullptr ||
        image->Frame(0)->InMemory()) {
        return;
    }
    CDicomTagsWnd::Open(image->File(), this);
}

// ---- help, web and languages ----

bool CMainWindow::HelpCommand(uint32_t id) {
    switch (id) {
        case kOnlineHelp:
            return OpenWebPage(int(WebPage::Manual));
        case kDownloadLanguages:
            return OpenWebPage(int(WebPage::Translations));
        case kHomepage:
            return OpenWebPage(int(WebPage::Home));
        case kContactForm:
            return OpenWebPage(int(WebPage::Contact));
        case kImportLanguage:
            ImportLanguage();
            return true;
        case kCheckUpdates:
            return m_services.updater && m_services.updater->CheckForUpdates(true);
        case kAbout:
            ShowAbout();
            return true;
        default:
            return false;
    }
}

QUrl CMainWindow::WebUrl(int page) const {
    const QString site =
        m_services.options ? QString::fromStdString(m_services.options->Settings().webSite) : "";
    const CLanguageManager* languages = CLanguageManager::Instance();
    const QString code =
        languages && languages->LanguageCount() > 0
            ? QString::fromStdString(languages->Language(languages->ChosenIndex()).code)
            : QString("en");
    return WebPageUrl(site, WebPage(page), QString::fromUtf8(kFullVersion), code);
}

bool CMainWindow::OpenWebPage(int page) {
    QUrl url = WebUrl(page);
    // Without a web site, help is the guide installed with the program.
    if (!url.isValid() && page == int(WebPage::Manual)) url = LocalGuideUrl();
    if (!url.isValid()) return false;
    return m_services.openUrl ? m_services.openUrl(url) : QDesktopServices::openUrl(url);
}

QUrl CMainWindow::LocalGuideUrl() {
    // Installed beside the program's share folder, or in the source tree of a build.
    const std::filesystem::path installed =
        std::filesystem::path(QCoreApplication::applicationDirPath().toStdString()) / ".." /
        "share" / "doc" / "vexel" / "user-guide.md";
    for (const std::filesystem::path& guide :
         {installed, std::filesystem::path(VEXEL_GUIDE_SOURCE)}) {
        std::error_code error;
        if (std::filesystem::is_regular_file(guide, error))
            return QUrl::fromLocalFile(QString::fromStdString(guide.lexically_normal().string()));
    }
    return {};
}

void CMainWindow::ShowAbout() {
    QMessageBox::about(this, Text(kAboutText),
                       QString::fromUtf8(kProgramCaption) +
                           "\n\nA viewer for medical images stored as DICOM files.");
}

void CMainWindow::ImportLanguage() {
    CLanguageManager* languages = CLanguageManager::Instance();
    if (languages == nullptr) return;
    const QStringList chosen = AskPaths(PathQuestion::Language);
    if (chosen.isEmpty()) return;
    const std::filesystem::path path = chosen.front().toStdString();
    // A file that is not a usable language file changes nothing and says nothing.
    if (!languages->VerifyFile(path) || !languages->ImportFile(path)) return;
    if (m_services.scan.messages != nullptr) {
        m_services.scan.messages->ShowMessage(GetString(kLanguageImportedText),
                                              GetString(kRestartText), this, MessageKind::Notice);
    }
}

void CMainWindow::ChooseLanguage(size_t index) {
    CLanguageManager* languages = CLanguageManager::Instance();
    if (languages == nullptr || index >= languages->LanguageCount()) return;
    if (languages->ChooseLanguage(index) && m_services.scan.messages != nullptr) {
        m_services.scan.messages->ShowMessage(GetString(kNewLanguageText), GetString(kRestartText),
                                              this, MessageKind::Notice);
    }
}

// ---- states of menus and buttons ----

void CMainWindow::RefreshMenus() {
    CViewport2D* viewport = ActiveViewport();
    const bool shown = viewport != nullptr && viewport->CurrentFrame() != nullptr;
    const bool measuring = m_leftTool == MouseTool::Measure || m_rightTool == MouseTool::Measure;
    const int32_t preset =
        shown ? viewport->WindowTool().State().PresetId() : -1;
    const CLanguageManager* languages = CLanguageManager::Instance();
    for (const auto& [id, action] : m_menus->Actions()) {
        bool enabled = true;
        bool checked = false;
        if (IsLoadCommand(id)) enabled = !Loading();
        if (NeedsImage(id)) enabled = shown;
        if (const auto kind = KindOf(id)) checked = measuring && m_kind == *kind;
        if (id >= kDefaultWindow && id <= kLastPreset) checked = preset == int32_t(id - kDefaultWindow);
        switch (id) {
            case kNegative:
                checked = shown && viewport->Negative();
                break;
            case kAnnotations:
                checked = (m_layerMask & kLayerAnnotations) != 0;
                break;
            case kReferenceLines:
                checked = (m_layerMask & kLayerSynchroniser) != 0;
                break;
            case kAutoSync:
                checked = m_services.options == nullptr ||
                          m_services.options->AutomaticSynchronisation();
                enabled = m_services.options != nullptr;
                break;
            case kOnlineHelp:
                enabled = WebUrl(int(WebPage::Manual)).isValid() || LocalGuideUrl().isValid();
                break;
            case kDownloadLanguages:
            case kHomepage:
            case kContactForm:
                enabled = WebUrl(int(id == kDownloadLanguages ? WebPage::Translations
                                     : id == kHomepage          ? WebPage::Home
                                                                : WebPage::Contact))
                              .isValid();
                break;
            case kImportLanguage:
                enabled = languages != nullptr;
                break;
            case kCheckUpdates:
                // Off, and saying why, when no update server is configured.
                enabled = m_services.updater && m_services.updater->Enabled();
                action->setStatusTip(enabled ? QString() : tr("No update server is configured"));
                break;
            case kCoronal:
            case kSagittal:
            case kAxial:
                enabled = shown && m_services.viewport.mprTool != nullptr;
                break;
            default:
                break;
        }
        action->setEnabled(enabled);
        if (action->isCheckable()) action->setChecked(checked);
    }
}

void CMainWindow::RefreshToolbar() {
    if (m_toolbar == nullptr || m_destroying) return;
    const CViewport2D* viewport = ActiveViewport();
    for (const uint32_t tool : {kToolBrowse, kToolWindow, kToolPan, kToolZoom, kToolMeasure})
        m_toolbar->SetChecked(tool, ToolOf(tool) == m_leftTool);
    m_toolbar->SetChecked(kAnnotations, (m_layerMask & kLayerAnnotations) != 0);
    m_toolbar->SetChecked(kCine, viewport != nullptr && viewport->CinePlaying());
    m_toolbar->SetChecked(kFusion, viewport != nullptr && m_services.fusion != nullptr &&
                                       m_services.fusion->IsFused(viewport->Id()));
    // While a scan runs, nothing else may be loaded.
    const bool idle = !Loading();
    m_toolbar->Button(kOpenFolder)->setEnabled(idle);
    m_toolbar->Button(kOpenDisc)->setEnabled(idle);
    setAcceptDrops(idle);
}

}  // namespace vexel
