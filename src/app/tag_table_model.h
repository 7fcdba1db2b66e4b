// The rows of an element listing as a table model: six columns of texts handed out only for
// the cells a view asks for, and an optional filter that shows a subset of the rows in list
// order without copying them.
#pragma once

#include <QAbstractTableModel>
#include <cstdint>
#include <optional>
#include <vector>

#include "dicom/tag_list.h"

namespace vexel {

class CTagTableModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { kTag, kVr, kCount, kLength, kName, kValue, kColumnCount };

    explicit CTagTableModel(std::vector<TagListRow> rows, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const std::vector<TagListRow>& Rows() const { return m_rows; }
    // The list's rows to show, in list order; none: every row. `marked` rows (the matches)
    // are shown plainly, the others (the rows holding them) dimmed.
    void SetFilter(std::optional<std::vector<uint32_t>> shown, std::vector<uint32_t> marked);
    bool Filtered() const { return m_shown.has_value(); }

    // Between the list's row numbers and the model's; nullopt for a row the filter hides.
    uint32_t ListRow(int modelRow) const;
    std::optional<int> ModelRow(uint32_t listRow) const;

    // A row's text in a column, as shown.
    static const std::string& Text(const TagListRow& row, int column);

private:
    std::vector<TagListRow> m_rows;
    std::optional<std::vector<uint32_t>> m_shown;
    std::vector<uint32_t> m_marked;  // sorted
};

}  // namespace vexel
