// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/qt/results_model.h"

#include <QBrush>
#include <QColor>

#include "form/texts.h"

namespace app {

namespace {

// The caption column is left-aligned; the others are centred.
Qt::Alignment AlignmentOf(int column) {
    return column == 0 ? (Qt::AlignLeft | Qt::AlignVCenter) : Qt::AlignCenter;
}

}  // namespace

QString ToQString(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

TResultsModel::TResultsModel(form::TMainLogic& logic, QObject* parent)
    : QAbstractTableModel(parent), m_logic(logic) {}

int TResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_shown;
}

int TResultsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant TResultsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_shown || index.row() >= Count()) return {};
    const form::TRow& row = Row(index.row());
    switch (role) {
        case Qt::DisplayRole:
            return ToQString(row.Column(index.column()));
        case Qt::ToolTipRole: {
            // Where the file was and what survived of it, once the walk has
            // told; until then the cell's own text.
            const std::u16string tip = form::RowToolTip(row);
            return ToQString(tip.empty() ? row.Column(index.column()) : tip);
        }
        case Qt::ForegroundRole:
            if (const auto tint = form::RowTint(row))
                return QBrush(QColor(tint->Red, tint->Green, tint->Blue));
            return {};
        case Qt::CheckStateRole:
            if (index.column() == 0) return row.Checked ? Qt::Checked : Qt::Unchecked;
            return {};
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(AlignmentOf(index.column()));
        default:
            return {};
    }
}

bool TResultsModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.row() >= m_shown || index.column() != 0 || role != Qt::CheckStateRole)
        return false;
    SetChecked(index.row(), value.value<Qt::CheckState>() == Qt::Checked);
    return true;
}

Qt::ItemFlags TResultsModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;  // never editable
    if (index.column() == 0) f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant TResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
    if (role == Qt::DisplayRole) return ToQString(form::texts::kColumnHeaders[section]);
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(AlignmentOf(section));
    return {};
}

void TResultsModel::SetChecked(int position, bool checked) {
    if (position < 0) return;
    m_logic.RowCheckClicked(static_cast<std::size_t>(position), checked);
}

void TResultsModel::RowsReset() {
    beginResetModel();
    m_shown = Count();
    endResetModel();
}

void TResultsModel::RowsAppended(std::size_t first, std::size_t count) {
    if (count == 0) return;
    if (static_cast<std::size_t>(m_shown) != first) {
        RowsReset();
        return;
    }
    beginInsertRows({}, m_shown, static_cast<int>(first + count) - 1);
    m_shown = static_cast<int>(first + count);
    endInsertRows();
}

void TResultsModel::RowsReordered(std::span<const std::size_t> newPosition) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& old : from) {
        const auto row = static_cast<std::size_t>(old.row());
        to.push_back(row < newPosition.size() ? index(static_cast<int>(newPosition[row]), old.column())
                                              : old);
    }
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TResultsModel::DetailsChanged(std::size_t first, std::size_t last) {
    if (m_shown == 0 || first >= static_cast<std::size_t>(m_shown)) return;
    const int end = static_cast<int>(std::min(last, static_cast<std::size_t>(m_shown) - 1));
    emit dataChanged(index(static_cast<int>(first), 0), index(end, kColumnCount - 1),
                     {Qt::ToolTipRole, Qt::ForegroundRole});
}

void TResultsModel::ChecksChanged(std::size_t first, std::size_t last) {
    if (m_shown == 0 || first >= static_cast<std::size_t>(m_shown)) return;
    const int end = static_cast<int>(std::min(last, static_cast<std::size_t>(m_shown) - 1));
    emit dataChanged(index(static_cast<int>(first), 0), index(end, 0), {Qt::CheckStateRole});
}

}  // namespace app
