#include "app/results_model.h"

#include <algorithm>
#include <numeric>

namespace app {

namespace {

constexpr const char* kHeaders[TResultsModel::kColumnCount] = {"N",    "FileName",    "Type",
                                                              "Size", "Create Date", "Update Date"};

// The caption column is left-aligned; the others are centred.
Qt::Alignment AlignmentOf(int column) {
    return column == 0 ? (Qt::AlignLeft | Qt::AlignVCenter) : Qt::AlignCenter;
}

}  // namespace

const QString& TRow::Column(int column) const {
    switch (column) {
        case 1: return FileName;
        case 2: return FileExt;
        case 3: return FileSize;
        case 4: return CreateTime;
        case 5: return LastTime;
        default: return Caption;
    }
}

TResultsModel::TResultsModel(QObject* parent) : QAbstractTableModel(parent) {
    m_announceTimer.setSingleShot(true);
    m_announceTimer.setInterval(kAnnounceIntervalMs);
    connect(&m_announceTimer, &QTimer::timeout, this, &TResultsModel::Announce);
}

int TResultsModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_announced; }

int TResultsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant TResultsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_announced) return {};
    const TRow& row = Row(index.row());
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole: return row.Column(index.column());
        case Qt::CheckStateRole:
            if (index.column() == 0) return row.Checked ? Qt::Checked : Qt::Unchecked;
            return {};
        case Qt::TextAlignmentRole: return QVariant::fromValue(AlignmentOf(index.column()));
        default: return {};
    }
}

bool TResultsModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.row() >= m_announced || index.column() != 0 || role != Qt::CheckStateRole)
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
    if (role == Qt::DisplayRole) return QString::fromLatin1(kHeaders[section]);
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(AlignmentOf(section));
    return {};
}

void TResultsModel::Append(TRow row) {
    row.Checked = false;
    m_rows.push_back(std::move(row));
    if (!m_announceTimer.isActive()) m_announceTimer.start();
}

void TResultsModel::AppendRows(std::vector<TRow> rows) {
    if (rows.empty()) return;
    m_rows.reserve(m_rows.size() + rows.size());
    for (TRow& row : rows) {
        row.Checked = false;
        m_rows.push_back(std::move(row));
    }
    Announce();
}

void TResultsModel::Announce() {
    m_announceTimer.stop();
    const int total = Count();
    if (total == m_announced) return;
    beginInsertRows({}, m_announced, total - 1);
    m_announced = total;
    endInsertRows();
}

void TResultsModel::Clear() {
    m_announceTimer.stop();
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_announced = 0;
    endResetModel();
}

int TResultsModel::CheckedCount() const {
    return static_cast<int>(std::count_if(m_rows.begin(), m_rows.end(), [](const TRow& r) { return r.Checked; }));
}

void TResultsModel::SetChecked(int position, bool checked) {
    if (position < 0 || position >= Count()) return;
    TRow& row = m_rows[static_cast<std::size_t>(position)];
    if (row.Checked == checked) return;
    row.Checked = checked;
    if (position < m_announced) {
        const QModelIndex cell = index(position, 0);
        emit dataChanged(cell, cell, {Qt::CheckStateRole});
    }
}

void TResultsModel::SetAllChecked(bool checked) {
    for (TRow& row : m_rows) row.Checked = checked;
    if (m_announced > 0) emit dataChanged(index(0, 0), index(m_announced - 1, 0), {Qt::CheckStateRole});
}

void TResultsModel::Sort(const std::function<int(const TRow&, const TRow&)>& compare) {
    Announce();
    if (m_rows.size() < 2) return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);

    // Sort positions rather than rows, so the old-to-new map for the view's
    // persistent indexes (selection, focus) falls out of the same pass.
    std::vector<int> order(m_rows.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return compare(m_rows[static_cast<std::size_t>(a)], m_rows[static_cast<std::size_t>(b)]) < 0;
    });
    std::vector<TRow> sorted;
    sorted.reserve(m_rows.size());
    std::vector<int> newPosition(m_rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        sorted.push_back(std::move(m_rows[static_cast<std::size_t>(order[i])]));
        newPosition[static_cast<std::size_t>(order[i])] = static_cast<int>(i);
    }
    m_rows = std::move(sorted);

    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& old : from)
        to.push_back(index(newPosition[static_cast<std::size_t>(old.row())], old.column()));
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace app
