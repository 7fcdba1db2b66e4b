#include "app/dicom_thumb_box.h"

#include <algorithm>

#include <QKeyEvent>
#include <QWheelEvent>

#include "app/thumb_box_texts.h"
#include "app/thumb_drag_preview.h"
#include "imaging/dicom_image.h"

namespace vexel {
namespace {

CListBoxBase::ListItem ItemOf(ThumbRowKind kind) {
    switch (kind) {
        case ThumbRowKind::Patient:
            return {ThumbEntry::kPatientHeight, false};
        case ThumbRowKind::Study:
            return {ThumbEntry::kStudyHeight, false};
        case ThumbRowKind::Series:
            break;
    }
    return {ThumbEntry::kSeriesHeight, true};
}

std::unique_ptr<ThumbEntry> NewEntry(ThumbRowKind kind, SeriesId series = 0) {
    auto entry = std::make_unique<ThumbEntry>();
    entry->kind = kind;
    entry->series = series;
    return entry;
}

}  // namespace

CDicomThumbBox::CDicomThumbBox(StudyModel& model, QWidget* parent)
    : CListBoxBase(parent), m_model(model), m_preview(new CThumbDragPreview(this)) {
    m_growthRedraw.setSingleShot(true);
    connect(&m_growthRedraw, &QTimer::timeout, this, [this] {
        m_lastGrowthRedraw = std::chrono::steady_clock::now();
        Redraw();
    });
}

CDicomThumbBox::~CDicomThumbBox() = default;

// ---- rows from the model ----

AddFileResult CDicomThumbBox::AddFile(CDicomFile& file) {
    return AddFile(ReadStudyFileKeys(file));
}

AddFileResult CDicomThumbBox::AddFile(StudyFileKeys keys) {
    const AddFileResult result = m_model.AddFile(std::move(keys));
    Apply(result);
    return result;
}

int CDicomThumbBox::FindOrdinal(int from, ThumbRowKind kind, uint32_t ordinal) const {
    uint32_t seen = 0;
    for (int row = std::max(from, 0); row < Count(); ++row) {
        const ThumbRowKind here = Entry(row).kind;
        // A header of a higher level ends the parent's rows.
        if (uint32_t(here) < uint32_t(kind)) return row;
        if (here != kind) continue;
        if (seen == ordinal) return row;
        ++seen;
    }
    return Count();
}

void CDicomThumbBox::InsertEntry(int row, std::unique_ptr<ThumbEntry> entry) {
    const ListItem item = ItemOf(entry->kind);
    if (entry->kind == ThumbRowKind::Series) m_bySeries[entry->series] = entry.get();
    m_entries.insert(m_entries.begin() + row, std::move(entry));
    InsertItem(row, item);
}

bool CDicomThumbBox::Apply(const AddFileResult& result) {
    if (result.status != AddFileStatus::Added) return false;
    const auto present = [this](int row, ThumbRowKind kind) {
        return row < Count() && Entry(row).kind == kind;
    };
    const int patientRow = FindOrdinal(0, ThumbRowKind::Patient, result.patient.position);
    if (result.patient.created) {
        InsertEntry(patientRow, NewEntry(ThumbRowKind::Patient));
    } else if (!present(patientRow, ThumbRowKind::Patient)) {
        return false;  // a result out of order: the rows do not know its patient
    }
    const int studyRow = FindOrdinal(patientRow + 1, ThumbRowKind::Study, result.study.position);
    if (result.study.created) {
        InsertEntry(studyRow, NewEntry(ThumbRowKind::Study));
    } else if (!present(studyRow, ThumbRowKind::Study)) {
        return false;
    }
    if (!result.seriesPlacement.created) {
        SeriesGrew(result.series);
        return false;
    }
    const int seriesRow =
        FindOrdinal(studyRow + 1, ThumbRowKind::Series, result.seriesPlacement.position);
    InsertEntry(seriesRow, NewEntry(ThumbRowKind::Series, result.series));
    FillTexts(result.series, patientRow, studyRow, seriesRow);
    return true;
}

void CDicomThumbBox::FillTexts(SeriesId series, int patientRow, int studyRow, int seriesRow) {
    // The headers of the patient and study that hold the series, as the model is now.
    const std::optional<PatientView> patient = m_model.FindSeriesContext(series);
    if (!patient || patient->studies.empty()) return;
    const StudyView& study = patient->studies.front();
    const auto view = std::find_if(study.series.begin(), study.series.end(),
                                   [&](const SeriesView& v) { return v.id == series; });
    if (view == study.series.end()) return;
    ThumbEntry& patientEntry = *m_entries[size_t(patientRow)];
    patientEntry.patientName = TrimmedName(patient->name);
    patientEntry.birthDate = FormatDicomDate(patient->birthDate);
    ThumbEntry& studyEntry = *m_entries[size_t(studyRow)];
    studyEntry.studyDescription = TrimmedOrUnnamed(study.description);
    studyEntry.studyDateTime = FormatDicomDateTime(study.date, study.time);
    const std::string modality = study.modalities.empty() ? std::string() : study.modalities.front();
    studyEntry.modality = QString::fromStdString(modality);
    studyEntry.seriesCount = study.series.size();
    studyEntry.seriesLine = StudySeriesLine(modality, study.series.size());
    ThumbEntry& seriesEntry = *m_entries[size_t(seriesRow)];
    seriesEntry.seriesDescription = TrimmedOrUnnamed(view->description);
    seriesEntry.imageCount = view->frameTotal;
    seriesEntry.tooltip =
        SeriesTooltip(patientEntry.patientName, TrimmedName(study.description),
                      TrimmedName(view->description), FormatDicomDateTime(view->date, view->time));
    RedrawSoon();
}

void CDicomThumbBox::SeriesGrew(SeriesId series) {
    const auto found = m_bySeries.find(series);
    const auto view = m_model.FindSeries(series);
    if (found == m_bySeries.end() || !view) return;
    found->second->imageCount = view->frameTotal;
    // A scan adds files to known series far more often than it finds new ones: repaint at a
    // bounded rate, and once more after the last change.
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastGrowthRedraw >= kGrowthRedrawInterval) {
        m_lastGrowthRedraw = now;
        m_growthRedraw.stop();
        Redraw();
    } else if (!m_growthRedraw.isActive()) {
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
            m_lastGrowthRedraw + kGrowthRedrawInterval - now);
        m_growthRedraw.start(int(wait.count()) + 1);
    }
}

// ---- thumbnails, mark, clear ----

bool CDicomThumbBox::SetThumbnail(SeriesId series, CDicomImage& image) {
    if (m_bySeries.count(series) == 0) return false;
    std::optional<Thumbnail> thumbnail = RenderThumbnail(image);
    return thumbnail && SetThumbnail(series, std::move(*thumbnail));
}

bool CDicomThumbBox::SetThumbnail(SeriesId series, Thumbnail thumbnail) {
    const auto found = m_bySeries.find(series);
    if (found == m_bySeries.end()) return false;
    const bool sane = thumbnail.width > 0 && thumbnail.width <= kThumbnailSide &&
                      thumbnail.height > 0 && thumbnail.height <= kThumbnailSide &&
                      thumbnail.pixels.size() == size_t(thumbnail.width) * size_t(thumbnail.height);
    if (!sane) return false;
    found->second->thumbnail = std::move(thumbnail);
    RedrawRow(RowOf(series));
    return true;
}

int CDicomThumbBox::RowOf(SeriesId series) const {
    if (series == 0) return -1;
    for (int row = 0; row < Count(); ++row)
        if (Entry(row).series == series) return row;
    return -1;
}

SeriesId CDicomThumbBox::SeriesAt(int row) const {
    if (row < 0 || row >= Count()) return 0;
    return Entry(row).kind == ThumbRowKind::Series ? Entry(row).series : 0;
}

void CDicomThumbBox::MarkSeries(SeriesId series) {
    const int row = RowOf(series);
    SetMarked(row);
    if (row >= 0) ScrollToRow(row);
}

void CDicomThumbBox::Clear() {
    m_growthRedraw.stop();
    RemoveAllItems();
    m_bySeries.clear();
    m_entries.clear();
    m_preview->hide();
}

// ---- keyboard and wheel ----

void CDicomThumbBox::Select(int row) {
    if (row < 0) return;
    SetMarked(row);
    ScrollToRow(row);
    ActivateRow(row);
}

void CDicomThumbBox::MoveSelection(int direction) {
    const int marked = Marked();
    Select(marked < 0 ? NextSelectable(-1, 1) : NextSelectable(marked, direction));
}

void CDicomThumbBox::SelectFirst() {
    Select(NextSelectable(-1, 1));
}

void CDicomThumbBox::SelectLast() {
    Select(NextSelectable(Count(), -1));
}

bool CDicomThumbBox::HandleKey(int qtKey) {
    switch (qtKey) {
        case Qt::Key_Home:
            SelectFirst();
            return true;
        case Qt::Key_End:
            SelectLast();
            return true;
        case Qt::Key_Left:
            MoveSelection(-1);
            return true;
        case Qt::Key_Right:
            MoveSelection(1);
            return true;
        default:
            return false;
    }
}

void CDicomThumbBox::keyPressEvent(QKeyEvent* event) {
    if (!HandleKey(event->key())) CListBoxBase::keyPressEvent(event);
}

void CDicomThumbBox::wheelEvent(QWheelEvent* event) {
    // Whole notches only, the rest kept: touchpads send small steps.
    m_wheelRemainder += event->angleDelta().y();
    const int notches = m_wheelRemainder / kWheelNotch;
    m_wheelRemainder -= notches * kWheelNotch;
    if (notches != 0) ScrollBy(-notches);
    event->accept();
}

// ---- rows of the base ----

void CDicomThumbBox::DrawRow(QPainter& painter, int index, const ListItem&, const QRect& rect,
                             bool marked) {
    m_painter.Draw(painter, Entry(index), rect, marked);
}

// The base keeps the pressed row's index up to date while rows are inserted; nothing more
// to remember here.
void CDicomThumbBox::Pressed(int) {}

void CDicomThumbBox::Released(int) {}

void CDicomThumbBox::Clicked(int index) {
    const SeriesId series = SeriesAt(index);
    if (series == 0 || !m_onClick) return;
    const ClickHandler handler = m_onClick;  // it may replace itself
    handler(series, std::nullopt);
}

void CDicomThumbBox::DroppedOutside(int index, QPoint globalPos) {
    const SeriesId series = SeriesAt(index);
    if (series == 0 || !m_onClick) return;
    const ClickHandler handler = m_onClick;
    handler(series, globalPos);
}

void CDicomThumbBox::DragStarted(int index, QPoint globalPos) {
    if (SeriesAt(index) == 0) return;
    m_preview->ShowAt(m_painter.PreviewImage(Entry(index)), globalPos);
}

void CDicomThumbBox::Dragged(int, QPoint globalPos) {
    if (m_preview->isVisible()) m_preview->MoveTo(globalPos);
}

void CDicomThumbBox::DragEnded() {
    m_preview->hide();
}

QString CDicomThumbBox::TooltipText(int index) {
    return Entry(index).kind == ThumbRowKind::Series ? Entry(index).tooltip : QString();
}

}  // namespace vexel
