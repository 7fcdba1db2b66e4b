// The provisional list of what was loaded: patients, their studies and their series with
// image counts, rows inserted where the model's order puts them while a scan runs.
#pragma once

#include <QTreeWidget>
#include <map>

#include "engine/study_model.h"

namespace vexel {

class CStudyTree final : public QTreeWidget {
    Q_OBJECT

public:
    explicit CStudyTree(QWidget* parent = nullptr);

    // Applies one AddFile result (in revision order) of model.
    void Apply(const AddFileResult& result, const StudyModel& model);

    // The series a row lists; 0 for patient and study rows (and null).
    static SeriesId SeriesOf(const QTreeWidgetItem* row);
    // The row of a series, or null.
    QTreeWidgetItem* SeriesRow(SeriesId series) const;

    // Row texts, also used by the tests.
    static QString PatientText(const PatientView& patient);
    static QString StudyText(const StudyView& study);
    static QString SeriesText(const SeriesView& series);

private:
    QTreeWidgetItem* InsertRow(QTreeWidgetItem* parent, uint32_t position);
};

}  // namespace vexel
