#include "app/study_tree.h"

#include <QHeaderView>
#include <QTreeWidgetItemIterator>

#include "engine/study_model_text.h"
#include "support/language_manager.h"

namespace vexel {
namespace {

constexpr uint32_t kUnnamedText = 10002;      // "unnamed"
constexpr uint32_t kStudyHeaderText = 10001;  // "%s: %d series"
constexpr int kSeriesIdRole = Qt::UserRole + 1;

QString Text(uint32_t id) {
    return QString::fromStdString(GetString(id));
}

QString OrUnnamed(const std::string& text) {
    return text.empty() ? Text(kUnnamedText) : QString::fromStdString(text);
}

// The header text's "%s" and "%d", filled in order without printf.
QString StudyHeader(const StudyView& study) {
    QString pattern = Text(kStudyHeaderText);
    const QString modality =
        QString::fromStdString(study.modalities.empty() ? std::string() : study.modalities.front());
    pattern.replace(pattern.indexOf("%s"), 2, modality);
    const qsizetype count = pattern.indexOf("%d");
    if (count >= 0) pattern.replace(count, 2, QString::number(study.series.size()));
    return pattern;
}

}  // namespace

CStudyTree::CStudyTree(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(2);
    setHeaderLabels({"", ""});
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::Stretch);
    header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    header()->hide();
}

QString CStudyTree::PatientText(const PatientView& patient) {
    return OrUnnamed(DisplayPersonName(patient.name));
}

QString CStudyTree::StudyText(const StudyView& study) {
    return QString::fromStdString(study.date + " " + study.time) + "  " +
           OrUnnamed(study.description) + "  " + StudyHeader(study);
}

QString CStudyTree::SeriesText(const SeriesView& series) {
    return QString::number(series.seriesNumber) + "  " + OrUnnamed(series.description) + "  " +
           QString::fromStdString(series.modality);
}

SeriesId CStudyTree::SeriesOf(const QTreeWidgetItem* row) {
    return row != nullptr ? SeriesId(row->data(0, kSeriesIdRole).toULongLong()) : 0;
}

QTreeWidgetItem* CStudyTree::SeriesRow(SeriesId series) const {
    if (series == 0) return nullptr;
    for (QTreeWidgetItemIterator it(const_cast<CStudyTree*>(this)); *it; ++it) {
        if (SeriesOf(*it) == series) return *it;
    }
    return nullptr;
}

QTreeWidgetItem* CStudyTree::InsertRow(QTreeWidgetItem* parent, uint32_t position) {
    auto* item = new QTreeWidgetItem;
    if (parent == nullptr) {
        insertTopLevelItem(int(position), item);
    } else {
        parent->insertChild(int(position), item);
        parent->setExpanded(true);
    }
    return item;
}

void CStudyTree::Apply(const AddFileResult& result, const StudyModel& model) {
    if (result.status != AddFileStatus::Added) return;
    if (result.patient.created) InsertRow(nullptr, result.patient.position);
    QTreeWidgetItem* patientRow = topLevelItem(int(result.patient.position));
    if (patientRow == nullptr) return;
    if (result.study.created) InsertRow(patientRow, result.study.position);
    QTreeWidgetItem* studyRow = patientRow->child(int(result.study.position));
    if (studyRow == nullptr) return;
    if (result.seriesPlacement.created) InsertRow(studyRow, result.seriesPlacement.position);
    QTreeWidgetItem* seriesRow = studyRow->child(int(result.seriesPlacement.position));
    if (seriesRow == nullptr) return;

    // Texts of the three rows from the model as it is now.
    const auto series = model.FindSeries(result.series);
    if (!series) return;
    seriesRow->setData(0, kSeriesIdRole, QVariant::fromValue<qulonglong>(result.series));
    seriesRow->setText(0, SeriesText(*series));
    seriesRow->setText(1, QString::number(series->frameTotal));
    // Patient and study texts change only when a row appears below them.
    if (!result.seriesPlacement.created) return;
    const auto patients = model.Snapshot();
    if (result.patient.position >= patients.size()) return;
    const PatientView& patient = patients[result.patient.position];
    patientRow->setText(0, PatientText(patient));
    if (result.study.position < patient.studies.size()) {
        studyRow->setText(0, StudyText(patient.studies[result.study.position]));
    }
}

}  // namespace vexel
