#include "app/tag_table_model.h"

#include <QBrush>
#include <QPalette>
#include <algorithm>

#include "support/language_manager.h"

namespace vexel {
namespace {

constexpr uint32_t kFirstHeaderText = 11002;  // "Tag ID", "VR", "VM", "Length", ...

}  // namespace

CTagTableModel::CTagTableModel(std::vector<TagListRow> rows, QObject* parent)
    : QAbstractTableModel(parent), m_rows(std::move(rows)) {}

int CTagTableModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return static_cast<int>(m_shown ? m_shown->size() : m_rows.size());
}

int CTagTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

const std::string& CTagTableModel::Text(const TagListRow& row, int column) {
    switch (column) {
        case kTag:
            return row.tagText;
        case kVr:
            return row.vrText;
        case kCount:
            return row.countText;
        case kLength:
            return row.lengthText;
        case kName:
            return row.name;
        default:
            return row.valueText;
    }
}

QVariant CTagTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const uint32_t listRow = ListRow(index.row());
    if (role == Qt::DisplayRole)
        return QString::fromStdString(Text(m_rows[listRow], index.column()));
    if (role == Qt::ForegroundRole && m_shown &&
        !std::binary_search(m_marked.begin(), m_marked.end(), listRow)) {
        return QPalette().brush(QPalette::Disabled, QPalette::Text);
    }
    return {};
}

QVariant CTagTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= kColumnCount) {
        return {};
    }
    return QString::fromStdString(GetString(kFirstHeaderText + uint32_t(section)));
}

void CTagTableModel::SetFilter(std::optional<std::vector<uint32_t>> shown,
                               std::vector<uint32_t> marked) {
    beginResetModel();
    m_shown = std::move(shown);
    m_marked = std::move(marked);
    endResetModel();
}

uint32_t CTagTableModel::ListRow(int modelRow) const {
    return m_shown ? (*m_shown)[size_t(modelRow)] : uint32_t(modelRow);
}

std::optional<int> CTagTableModel::ModelRow(uint32_t listRow) const {
    if (!m_shown) {
        if (listRow >= m_rows.size()) return std::nullopt;
        return int(listRow);
    }
    const auto found = std::lower_bound(m_shown->begin(), m_shown->end(), listRow);
    if (found == m_shown->end() || *found != listRow) return std::nullopt;
    return int(found - m_shown->begin());
}

}  // namespace vexel
