#include "app/dicom_tags_wnd.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTableView>
#include <algorithm>

#include "app/tag_table_model.h"
#include "dicom/dicom_file.h"
#include "support/language_manager.h"

namespace vexel {
namespace {

constexpr uint32_t kCaptionText = 11001;  // "DICOM Tags"
constexpr uint32_t kCloseText = 6;
constexpr int kColumnWidths[CTagTableModel::kColumnCount] = {120, 30, 30, 70, 200, 2000};
constexpr int kMargin = 10;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 26;
constexpr int kSearchWidth = 300;

QString Text(uint32_t id) {
    return QString::fromStdString(GetString(id));
}

// The open windows, UI thread only.
std::vector<CDicomTagsWnd*>& OpenWindows() {
    static std::vector<CDicomTagsWnd*> windows;
    return windows;
}

}  // namespace

CDicomTagsWnd* CDicomTagsWnd::Open(CDicomFile& file, QWidget* over) {
    auto* window = new CDicomTagsWnd(file.Path(), BuildTagList(file), over);
    if (over != nullptr) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(over->frameGeometry().center());
        window->move(frame.topLeft());
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

size_t CDicomTagsWnd::OpenCount() {
    return OpenWindows().size();
}

void CDicomTagsWnd::CloseAll() {
    // Each destructor takes its window off the list.
    while (!OpenWindows().empty())
        delete OpenWindows().back();
}

CDicomTagsWnd::CDicomTagsWnd(const std::string& path, std::vector<TagListRow> rows, QWidget* parent)
    : QDialog(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowTitle(Text(kCaptionText) + " (" + QString::fromStdString(path) + ")");
    m_model = new CTagTableModel(std::move(rows), this);

    m_list = new QTableView(this);
    m_list->setModel(m_model);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setWordWrap(false);
    m_list->setShowGrid(false);
    m_list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Fixed row heights: the view never measures rows, so a list of any length opens at once.
    QHeaderView* rowsHeader = m_list->verticalHeader();
    rowsHeader->hide();
    rowsHeader->setSectionResizeMode(QHeaderView::Fixed);
    rowsHeader->setDefaultSectionSize(fontMetrics().height() + 4);
    m_list->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_list->horizontalHeader()->setHighlightSections(false);
    for (int column = 0; column < CTagTableModel::kColumnCount; ++column)
        m_list->setColumnWidth(column, kColumnWidths[column]);
    m_list->installEventFilter(this);

    m_search = new QLineEdit(this);
    m_search->setClearButtonEnabled(true);
    connect(m_search, &QLineEdit::textChanged, this, &CDicomTagsWnd::Search);
    connect(m_search, &QLineEdit::returnPressed, this, [this] { StepMatch(true); });

    m_close = new QPushButton(Text(kCloseText), this);
    m_close->setAutoDefault(false);  // Enter steps through the matches instead
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);

    connect(new QShortcut(QKeySequence::Find, this), &QShortcut::activated, this, [this] {
        m_search->setFocus(Qt::ShortcutFocusReason);
        m_search->selectAll();
    });
    connect(new QShortcut(QKeySequence(Qt::Key_F3), this), &QShortcut::activated, this,
            [this] { StepMatch(true); });
    connect(new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), this), &QShortcut::activated, this,
            [this] { StepMatch(false); });

    resize(900, 600);
    OpenWindows().push_back(this);
}

CDicomTagsWnd::~CDicomTagsWnd() {
    std::vector<CDicomTagsWnd*>& windows = OpenWindows();
    windows.erase(std::remove(windows.begin(), windows.end(), this), windows.end());
}

void CDicomTagsWnd::Search(const QString& text) {
    const std::optional<uint32_t> current = CurrentListRow();
    if (text.isEmpty()) {
        m_matches.clear();
        m_model->SetFilter(std::nullopt, {});
    } else {
        if (!m_searchIndex) m_searchIndex.emplace(m_model->Rows());
        m_matches = m_searchIndex->Find(text.toStdString());
        m_model->SetFilter(m_searchIndex->WithParents(m_matches), m_matches);
    }
    // The row the user was on stays current while it is shown.
    if (current && m_model->ModelRow(*current)) SelectListRow(*current);
}

void CDicomTagsWnd::StepMatch(bool forward) {
    if (const auto next = CTagListSearch::Step(m_matches, CurrentListRow(), forward))
        SelectListRow(*next);
}

QString CDicomTagsWnd::SelectedRowsText() const {
    QModelIndexList selected = m_list->selectionModel()->selectedRows();
    std::sort(selected.begin(), selected.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::string text;
    for (const QModelIndex& index : selected) {
        const TagListRow& row = m_model->Rows()[m_model->ListRow(index.row())];
        for (int column = 0; column < CTagTableModel::kColumnCount; ++column) {
            if (column > 0) text += '\t';
            text += CTagTableModel::Text(row, column);
        }
        text += '\n';
    }
    return QString::fromStdString(text);
}

void CDicomTagsWnd::SelectListRow(uint32_t listRow) {
    const std::optional<int> row = m_model->ModelRow(listRow);
    if (!row) return;
    const QModelIndex index = m_model->index(*row, 0);
    m_list->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_list->scrollTo(index);
}

std::optional<uint32_t> CDicomTagsWnd::CurrentListRow() const {
    const QModelIndex current = m_list->currentIndex();
    if (!current.isValid()) return std::nullopt;
    return m_model->ListRow(current.row());
}

void CDicomTagsWnd::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const int w = width(), h = height();
    if (w <= 0 || h <= 0) return;
    m_list->setGeometry(kMargin, kMargin, std::max(0, w - 2 * kMargin), std::max(0, h - 50));
    m_close->setGeometry(w - 90, h - 33, kButtonWidth, kButtonHeight);
    m_search->setGeometry(kMargin, h - 33, std::clamp(w - 110, 0, kSearchWidth), kButtonHeight);
}

// Close button, Esc and the title bar all close, and closing destroys the window.
void CDicomTagsWnd::closeEvent(QCloseEvent* event) {
    event->accept();
}

void CDicomTagsWnd::reject() {
    close();
}

bool CDicomTagsWnd::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_list && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        QGuiApplication::clipboard()->setText(SelectedRowsText());
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace vexel
