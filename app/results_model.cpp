#include "app/results_model.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

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
        case 1:
            return FileName;
        case 2:
            return FileExt;
        case 3:
            return FileSize;
        case 4:
            return CreateTime;
        case 5:
            return LastTime;
        default:
            return Caption;
    }
}

void TRowStore::Push(TRow&& row) {
    if (m_size == m_chunks.size() * kChunkRows) m_chunks.push_back(std::make_unique<TRow[]>(kChunkRows));
    (*this)[m_size++] = std::move(row);
}

void TRowStore::Clear() {
    m_chunks.clear();
    m_size = 0;
}

TResultsModel::TResultsModel(QObject* parent) : QAbstractTableModel(parent) {
    m_announceTimer.setSingleShot(true);
    m_announceTimer.setInterval(kAnnounceIntervalMs);
    connect(&m_announceTimer, &QTimer::timeout, this, &TResultsModel::Announce);
}

int TResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_announced;
}

int TResultsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant TResultsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_announced) return {};
    const TRow& row = Row(index.row());
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            return row.Column(index.column());
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
    m_rows.Push(std::move(row));
    if (!m_announceTimer.isActive()) m_announceTimer.start();
}

void TResultsModel::AppendRows(std::vector<TRow> rows) {
    if (rows.empty()) return;
    for (TRow& row : rows) {
        row.Checked = false;
        m_rows.Push(std::move(row));
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
    m_rows.Clear();
    m_announced = 0;
    endResetModel();
}

int TResultsModel::CheckedCount() const {
    int count = 0;
    for (std::size_t i = 0; i < m_rows.Size(); ++i) count += m_rows[i].Checked ? 1 : 0;
    return count;
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
    for (std::size_t i = 0; i < m_rows.Size(); ++i) m_rows[i].Checked = checked;
    if (m_announced > 0) emit dataChanged(index(0, 0), index(m_announced - 1, 0), {Qt::CheckStateRole});
}

void TResultsModel::SortByColumn(int column) {
    Announce();
    const std::size_t count = m_rows.Size();
    if (count < 2) return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);

    // CompareText folds a to z and then compares unit by unit, a prefix
    // first: exactly the plain order of the folded texts. So every key is
    // folded once into one contiguous buffer, and its first eight units are
    // packed into two integers that decide most comparisons without touching
    // the buffer. Comparing the rows' own strings instead chased two pointers
    // per comparison into 300,000 scattered allocations and took seconds.
    struct TSortKey {
        std::uint64_t Head0;  // folded units 0..3, big-endian; 0 past the end
        std::uint64_t Head1;  // units 4..7
        int Position;         // the row's position before the sort
    };
    std::vector<TSortKey> keys(count);
    std::vector<std::size_t> start(count + 1);  // where each row's folded key begins
    for (std::size_t i = 0; i < count; ++i)
        start[i + 1] = start[i] + static_cast<std::size_t>(m_rows[i].Column(column).size());
    std::u16string folded(start[count], u'\0');
    for (std::size_t i = 0; i < count; ++i) {
        const QString& text = m_rows[i].Column(column);
        const auto* in = reinterpret_cast<const char16_t*>(text.utf16());
        char16_t* out = folded.data() + start[i];
        TSortKey& key = keys[i];
        key = {0, 0, static_cast<int>(i)};
        for (qsizetype u = 0; u < text.size(); ++u) {
            char16_t unit = in[u];
            if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - (u'a' - u'A'));
            out[u] = unit;
            if (u < 4)
                key.Head0 |= std::uint64_t{unit} << (16 * (3 - u));
            else if (u < 8)
                key.Head1 |= std::uint64_t{unit} << (16 * (7 - u));
        }
    }
    // A missing unit packs as 0 like a real unit 0, so equal heads only say
    // "look further": the full comparison then decides, prefixes included.
    const std::u16string_view all(folded);
    auto fullKey = [&](int position) {
        const auto p = static_cast<std::size_t>(position);
        return all.substr(start[p], start[p + 1] - start[p]);
    };
    std::stable_sort(keys.begin(), keys.end(), [&](const TSortKey& a, const TSortKey& b) {
        if (a.Head0 != b.Head0) return a.Head0 < b.Head0;
        if (a.Head1 != b.Head1) return a.Head1 < b.Head1;
        return fullKey(a.Position) < fullKey(b.Position);
    });

    // Put the rows in their new places by following the permutation's
    // cycles with swaps: no second copy of 300,000 rows to allocate.
    std::vector<int> newPosition(count);
    for (std::size_t i = 0; i < keys.size(); ++i)
        newPosition[static_cast<std::size_t>(keys[i].Position)] = static_cast<int>(i);
    std::vector<int> place(newPosition);
    for (std::size_t i = 0; i < place.size(); ++i) {
        while (place[i] != static_cast<int>(i)) {
            const auto target = static_cast<std::size_t>(place[i]);
            std::swap(m_rows[i], m_rows[target]);
            std::swap(place[i], place[target]);
        }
    }

    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& old : from)
        to.push_back(index(newPosition[static_cast<std::size_t>(old.row())], old.column()));
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace app
