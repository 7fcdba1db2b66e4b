#include "output/export_wnd.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include "engine/task_manager.h"
#include "output/export_naming.h"
#include "output/export_run.h"
#include "viewer/viewport_2d.h"

namespace vexel {
namespace {

namespace text {
constexpr uint32_t kCancel = 3, kClose = 6, kChooseFolderTitle = 7;
constexpr uint32_t kCaption = 3001, kDone = 3002, kExport = 3004, kCurrentImage = 3005,
                   kCurrentSeries = 3006, kMoreOptions = 3007, kFileFormat = 3008, kLocation = 3009,
                   kFolder = 3010, kChooseFolder = 3011, kPrefix = 3012, kFileSettings = 3013,
                   kImageSize = 3014, kDefaultSize = 3015, kCurrentSize = 3016, kAnnotations = 3017,
                   kFull = 3018, kBasic = 3019, kDisabled = 3020, kJpegQuality = 3021,
                   kWorst = 3022, kBest = 3023, kExporting = 3024, kWmv = 3025, kFrameRate = 3026,
                   kDefaultRate = 3027, kCustom = 3028, kFps = 3029, kAllSeries = 3030,
                   kWmvQuality = 3031, kFitTo = 3032, kPixels = 3033, kMp4 = 3034, kFailures = 3035,
                   kBadPrefix = 3036, kExisting = 3037, kReplace = 3038;
}  // namespace text

struct FitSize {
    int32_t width;
    int32_t height;
};
// The first entry is "Custom": the two number fields.
constexpr FitSize kFitSizes[] = {{0, 0},     {160, 120},  {320, 240},  {640, 480},
                                 {800, 600}, {1024, 768}, {1280, 720}, {1920, 1080}};
constexpr int kFirstFitChoice = 3;  // 640 x 480

// Each "%d" in turn, without printf: a translated text must not be a format string.
QString FillNumbers(QString text, std::initializer_list<size_t> numbers) {
    for (const size_t number : numbers) {
        const qsizetype at = text.indexOf("%d");
        if (at < 0) break;
        text.replace(at, 2, QString::number(number));
    }
    return text;
}

QRadioButton* AddChoice(QButtonGroup* group, QLayout* layout, const QString& label, int id) {
    auto* button = new QRadioButton(label);
    group->addButton(button, id);
    layout->addWidget(button);
    return button;
}

}  // namespace

CExportWnd::CExportWnd(ExportWindowContext context, bool annotationsShown, QWidget* parent)
    : QDialog(parent), m_context(std::move(context)) {
    setModal(false);
    setWindowTitle(Text(text::kCaption));
    BuildControls(annotationsShown);
    UpdateControls();
}

CExportWnd::~CExportWnd() {
    // Joined here, while this object still takes the run's last posts (which Qt then drops).
    m_run.reset();
    EndTask();
}

QString CExportWnd::Text(uint32_t id) const {
    return m_context.texts ? QString::fromStdString(m_context.texts(id)) : QString();
}

// ---- controls ----

void CExportWnd::BuildControls(bool annotationsShown) {
    auto* layout = new QVBoxLayout(this);
    m_options = new QWidget;
    auto* options = new QVBoxLayout(m_options);
    options->setContentsMargins(0, 0, 0, 0);
    options->addWidget(BuildScope());
    options->addWidget(BuildFormat());
    options->addWidget(BuildSize());
    options->addWidget(BuildOptions());
    m_moreButton = new QPushButton(Text(text::kMoreOptions));
    m_moreButton->setCheckable(true);
    options->addWidget(m_moreButton, 0, Qt::AlignLeft);
    options->addWidget(BuildLocation());
    m_location->setVisible(false);
    connect(m_moreButton, &QPushButton::toggled, this, [this](bool on) {
        m_location->setVisible(on);
        adjustSize();
    });
    layout->addWidget(m_options);

    m_message = new QLabel;
    m_message->setWordWrap(true);
    m_message->setVisible(false);
    layout->addWidget(m_message);
    m_progress = new QProgressBar;
    m_progress->setRange(0, 100);
    m_progress->setVisible(false);
    layout->addWidget(m_progress);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_exportButton = new QPushButton(Text(text::kExport));
    m_exportButton->setDefault(true);
    m_closeButton = new QPushButton(Text(text::kClose));
    buttons->addWidget(m_exportButton);
    buttons->addWidget(m_closeButton);
    layout->addLayout(buttons);
    connect(m_exportButton, &QPushButton::clicked, this, &CExportWnd::StartExport);
    connect(m_closeButton, &QPushButton::clicked, this, &CExportWnd::reject);
    m_annotations->setCurrentIndex(annotationsShown ? 0 : 2);
}

QWidget* CExportWnd::BuildScope() {
    auto* box = new QGroupBox;
    auto* row = new QHBoxLayout(box);
    m_scope = new QButtonGroup(this);
    AddChoice(m_scope, row, Text(text::kCurrentImage), int(ExportScope::CurrentImage))
        ->setChecked(true);
    AddChoice(m_scope, row, Text(text::kCurrentSeries), int(ExportScope::CurrentSeries));
    AddChoice(m_scope, row, Text(text::kAllSeries), int(ExportScope::AllSeries));
    connect(m_scope, &QButtonGroup::idClicked, this, [this] { UpdateControls(); });
    return box;
}

QWidget* CExportWnd::BuildFormat() {
    auto* box = new QGroupBox(Text(text::kFileFormat));
    auto* row = new QHBoxLayout(box);
    m_format = new QButtonGroup(this);
    AddChoice(m_format, row, "JPEG", int(ExportFormat::Jpeg))->setChecked(true);
    AddChoice(m_format, row, "BMP", int(ExportFormat::Bmp));
    AddChoice(m_format, row, Text(text::kWmv), int(ExportFormat::Wmv));
    AddChoice(m_format, row, Text(text::kMp4), int(ExportFormat::Mp4));
    connect(m_format, &QButtonGroup::idClicked, this, [this] { UpdateControls(); });
    return box;
}

QWidget* CExportWnd::BuildSize() {
    auto* box = new QGroupBox(Text(text::kImageSize));
    auto* grid = new QGridLayout(box);
    m_size = new QButtonGroup(this);
    auto* defaultSize = new QRadioButton(Text(text::kDefaultSize));
    m_currentSize = new QRadioButton(Text(text::kCurrentSize));
    auto* fitTo = new QRadioButton(Text(text::kFitTo));
    m_size->addButton(defaultSize, int(ExportSize::Default));
    m_size->addButton(m_currentSize, int(ExportSize::Current));
    m_size->addButton(fitTo, int(ExportSize::FitTo));
    defaultSize->setChecked(true);
    m_fitList = new QComboBox;
    const QString pixels = Text(text::kPixels);
    for (const FitSize& size : kFitSizes) {
        m_fitList->addItem(
            size.width == 0 ? Text(text::kCustom)
                            : QString("%1 x %2 %3").arg(size.width).arg(size.height).arg(pixels));
    }
    m_fitList->setCurrentIndex(kFirstFitChoice);
    m_customWidth = new QSpinBox;
    m_customHeight = new QSpinBox;
    for (QSpinBox* side : {m_customWidth, m_customHeight})
        side->setRange(16, 4096);
    m_customWidth->setValue(640);
    m_customHeight->setValue(480);
    grid->addWidget(defaultSize, 0, 0);
    grid->addWidget(m_currentSize, 1, 0);
    grid->addWidget(fitTo, 2, 0);
    grid->addWidget(m_fitList, 2, 1);
    grid->addWidget(m_customWidth, 2, 2);
    grid->addWidget(new QLabel("x"), 2, 3);
    grid->addWidget(m_customHeight, 2, 4);
    connect(m_size, &QButtonGroup::idClicked, this, [this] { UpdateControls(); });
    connect(m_fitList, &QComboBox::currentIndexChanged, this, [this] { UpdateControls(); });
    return box;
}

QWidget* CExportWnd::BuildOptions() {
    auto* box = new QGroupBox(Text(text::kFileSettings));
    auto* grid = new QGridLayout(box);
    m_annotations = new QComboBox;
    m_annotations->addItems({Text(text::kFull), Text(text::kBasic), Text(text::kDisabled)});
    grid->addWidget(new QLabel(Text(text::kAnnotations)), 0, 0);
    grid->addWidget(m_annotations, 0, 1, 1, 3);
    m_qualityLabel = new QLabel;
    m_quality = new QSlider(Qt::Horizontal);
    m_quality->setRange(0, 10);
    m_quality->setValue(10);
    m_quality->setTickPosition(QSlider::TicksBelow);
    grid->addWidget(m_qualityLabel, 1, 0);
    grid->addWidget(new QLabel(Text(text::kWorst)), 1, 1);
    grid->addWidget(m_quality, 1, 2);
    grid->addWidget(new QLabel(Text(text::kBest)), 1, 3);
    m_rate = new QButtonGroup(this);
    auto* rates = new QHBoxLayout;
    AddChoice(m_rate, rates, Text(text::kDefaultRate), 0)->setChecked(true);
    AddChoice(m_rate, rates, Text(text::kCustom), 1);
    m_customRate = new QSpinBox;
    m_customRate->setRange(0, 1000);
    m_customRate->setValue(10);
    rates->addWidget(m_customRate);
    rates->addWidget(new QLabel(Text(text::kFps)));
    grid->addWidget(new QLabel(Text(text::kFrameRate)), 2, 0);
    grid->addLayout(rates, 2, 1, 1, 3);
    connect(m_rate, &QButtonGroup::idClicked, this, [this] { UpdateControls(); });
    return box;
}

QWidget* CExportWnd::BuildLocation() {
    m_location = new QGroupBox(Text(text::kLocation));
    auto* grid = new QGridLayout(m_location);
    m_folder = new QLineEdit(QDir::homePath() + "/");
    auto* choose = new QPushButton(Text(text::kChooseFolder));
    m_prefix = new QLineEdit;
    grid->addWidget(new QLabel(Text(text::kFolder)), 0, 0);
    grid->addWidget(m_folder, 0, 1);
    grid->addWidget(choose, 0, 2);
    grid->addWidget(new QLabel(Text(text::kPrefix)), 1, 0);
    grid->addWidget(m_prefix, 1, 1, 1, 2);
    connect(choose, &QPushButton::clicked, this, [this] { ChooseFolder(); });
    return m_location;
}

void CExportWnd::UpdateControls() {
    const auto format = ExportFormat(m_format->checkedId());
    const bool movie = IsMovie(format);
    const bool allSeries = m_scope->checkedId() == int(ExportScope::AllSeries);
    // The viewport's size belongs to what is on screen, and a movie's frames share one size.
    m_currentSize->setEnabled(!movie && !allSeries);
    if (m_currentSize->isChecked() && !m_currentSize->isEnabled())
        m_size->button(int(ExportSize::Default))->setChecked(true);
    const bool fit = m_size->checkedId() == int(ExportSize::FitTo);
    m_fitList->setEnabled(fit);
    m_customWidth->setEnabled(fit && m_fitList->currentIndex() == 0);
    m_customHeight->setEnabled(fit && m_fitList->currentIndex() == 0);
    m_qualityLabel->setText(Text(movie ? text::kWmvQuality : text::kJpegQuality));
    m_quality->setEnabled(format != ExportFormat::Bmp);
    for (QAbstractButton* button : m_rate->buttons())
        button->setEnabled(movie);
    m_customRate->setEnabled(movie && m_rate->checkedId() == 1);
}

void CExportWnd::SetControlsEnabled(bool enabled) {
    m_options->setEnabled(enabled);
    m_exportButton->setEnabled(enabled);
    if (enabled) UpdateControls();
}

void CExportWnd::SelectScope(ExportScope scope) {
    m_scope->button(int(scope))->setChecked(true);
    UpdateControls();
}

void CExportWnd::SelectFormat(ExportFormat format) {
    m_format->button(int(format))->setChecked(true);
    UpdateControls();
}

void CExportWnd::SelectSize(ExportSize size) {
    if (m_size->button(int(size))->isEnabled()) m_size->button(int(size))->setChecked(true);
    UpdateControls();
}

ExportSettings CExportWnd::Settings() const {
    ExportSettings s;
    s.scope = ExportScope(m_scope->checkedId());
    s.format = ExportFormat(m_format->checkedId());
    s.size = ExportSize(m_size->checkedId());
    const int fit = m_fitList->currentIndex();
    s.fitWidth = fit <= 0 ? m_customWidth->value() : kFitSizes[fit].width;
    s.fitHeight = fit <= 0 ? m_customHeight->value() : kFitSizes[fit].height;
    s.quality = m_quality->value();
    constexpr AnnotationMode kLevels[] = {AnnotationMode::Full, AnnotationMode::Basic,
                                          AnnotationMode::None};
    s.annotations = kLevels[std::clamp(m_annotations->currentIndex(), 0, 2)];
    s.framesPerSecond = m_rate->checkedId() == 1 ? ClampMovieRate(m_customRate->value()) : 0;
    s.prefix = m_prefix->text().toStdString();
    s.folder = m_folder->text().toStdString();
    s.imageRun = m_imageRun;
    s.movieCounter = m_movieCounter;
    s.studyDateTime = m_context.studyDateTime;
    return s;
}

// ---- opening, starting, closing ----

bool CExportWnd::Open() {
    const ExportSource source = m_context.activeSource ? m_context.activeSource() : ExportSource{};
    if (source.viewport == nullptr || source.viewport->ImageCount() == 0) return false;
    if (!isVisible() && parentWidget() != nullptr) {
        adjustSize();
        // Centred over the main window, but never off the screen's top or left edge.
        QPoint at = parentWidget()->frameGeometry().center() - rect().center();
        if (const QScreen* screen = parentWidget()->screen()) {
            const QRect area = screen->availableGeometry();
            at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - width())));
            at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - height())));
        }
        move(at);
    }
    show();
    raise();
    activateWindow();
    return true;
}

bool CExportWnd::Exporting() const {
    return m_run && m_run->Running();
}

bool CExportWnd::ChooseFolder() {
    const QString chosen =
        QFileDialog::getExistingDirectory(this, Text(text::kChooseFolderTitle), m_folder->text());
    if (chosen.isEmpty()) return false;
    m_folder->setText(chosen.endsWith('/') ? chosen : chosen + "/");
    m_folderConfirmed = true;
    return true;
}

void CExportWnd::StartExport() {
    if (Exporting()) return;
    const ExportSource source = m_context.activeSource ? m_context.activeSource() : ExportSource{};
    if (source.viewport == nullptr || source.viewport->CurrentImage() == nullptr) return;
    if (m_rate->checkedId() == 1) m_customRate->setValue(ClampMovieRate(m_customRate->value()));
    const bool folderKnown = ExportFolder(m_folder->text().toStdString()).has_value();
    if ((!m_moreButton->isChecked() && !m_folderConfirmed) || !folderKnown) {
        if (ChooseFolder()) StartExport();
        return;
    }
    m_folderConfirmed = false;
    ExportSettings settings = Settings();
    settings.folder = *ExportFolder(m_folder->text().toStdString());
    if (!settings.prefix.empty() && !PrefixIsValid(settings.prefix)) {
        QMessageBox::warning(this, windowTitle(), Text(text::kBadPrefix));
        return;
    }
    ExportPlan plan = PlanExport(settings, source, *m_context.model, *m_context.files);
    if (!plan.error.empty()) {
        QMessageBox::warning(this, windowTitle(), QString::fromStdString(plan.error));
        return;
    }
    if (plan.items.empty() && plan.movies.empty()) return;
    Begin(std::move(plan));
}

void CExportWnd::Begin(ExportPlan plan) {
    bool replace = false;
    if (!plan.existing.empty()) {
        QMessageBox ask(QMessageBox::Question, windowTitle(),
                        Text(text::kExisting) + "\n\n" +
                            QString::fromStdString(plan.existing.front().filename().string()),
                        QMessageBox::NoButton, this);
        QPushButton* replaceButton = ask.addButton(Text(text::kReplace), QMessageBox::AcceptRole);
        ask.addButton(Text(text::kCancel), QMessageBox::RejectRole);
        ask.exec();
        if (ask.clickedButton() != replaceButton) return;
        replace = true;
    }
    ExportServices services;
    services.files = m_context.files;
    services.jpeg = m_context.jpeg;
    services.presets = m_context.presets;
    services.sharedStates = m_context.states;
    services.texts = m_context.texts;
    services.threads = m_context.threads;
    services.replace = replace;
    ExportCallbacks callbacks;
    // From the run's threads: only posted here, with the run's id, and dropped once this
    // window is gone.
    callbacks.onProgress = [this](const ExportProgress& progress) {
        QMetaObject::invokeMethod(
            this, [this, progress] { OnProgress(progress); }, Qt::QueuedConnection);
    };
    m_run.reset();  // a finished run
    auto run =
        std::make_unique<CExportRun>(++m_lastRunId, std::move(services), std::move(plan.items),
                                     std::move(plan.movies), std::move(callbacks));
    if (run->Total() == 0) return;
    if (m_context.tasks != nullptr)
        m_taskId =
            m_context.tasks->AddTask(uint32_t(run->Total()), Text(text::kExporting).toStdString());
    if (!run->Start()) {
        EndTask();
        return;
    }
    m_run = std::move(run);
    m_imageRun = plan.nextImageRun;
    m_movieCounter = plan.nextMovieCounter;
    SetControlsEnabled(false);
    m_message->setVisible(false);
    m_progress->setValue(0);
    m_progress->setVisible(true);
    m_closeButton->setText(Text(text::kCancel));
    m_lastBarMove.invalidate();
}

void CExportWnd::OnProgress(const ExportProgress& progress) {
    if (!m_run || progress.run != m_run->Id()) return;
    if (progress.finished) return Finish(progress);
    if (progress.total == 0 || progress.done >= progress.total) return;
    const int percent = int(progress.done * 100 / progress.total);
    setWindowTitle(QString("%1 %2%").arg(Text(text::kExporting)).arg(percent));
    if (m_context.tasks != nullptr && m_taskId != 0)
        m_context.tasks->SetTaskProgress(m_taskId, uint32_t(progress.done),
                                         uint32_t(progress.total));
    // The bar moves at most once a second: a fast export would spend its time repainting.
    if (!m_lastBarMove.isValid() || m_lastBarMove.elapsed() >= 1000) {
        m_progress->setValue(std::clamp(percent, 0, 100));
        m_lastBarMove.start();
    }
}

void CExportWnd::Finish(const ExportProgress& progress) {
    EndTask();
    m_lastFailed = progress.failed;
    m_lastTotal = progress.total;
    m_progress->setVisible(false);
    m_closeButton->setText(Text(text::kClose));
    SetControlsEnabled(true);
    if (progress.failed > 0) {
        const QString failures =
            FillNumbers(Text(text::kFailures), {progress.failed, progress.total});
        setWindowTitle(Text(text::kCaption));
        m_message->setText(failures);
        m_message->setVisible(true);
        if (m_context.showStatus) m_context.showStatus(failures);
        return;
    }
    setWindowTitle(progress.stopped ? Text(text::kCaption) : Text(text::kDone));
    if (!progress.stopped) hide();
}

void CExportWnd::reject() {
    // Cancel and Close alike: running items finish, nothing new starts, the window goes.
    if (m_run) m_run->Stop();
    EndTask();
    hide();
    setWindowTitle(Text(text::kCaption));
    m_progress->setVisible(false);
    m_message->setVisible(false);
    m_closeButton->setText(Text(text::kClose));
    // Export stays disabled until the stopped run has reported its end.
    m_options->setEnabled(true);
    UpdateControls();
}

void CExportWnd::EndTask() {
    if (m_context.tasks != nullptr && m_taskId != 0) m_context.tasks->EndTask(m_taskId);
    m_taskId = 0;
}

}  // namespace vexel
