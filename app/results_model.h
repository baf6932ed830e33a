// The rows of the results list lv1 and their ticks.
//
// A shown table view re-lays itself out after every announced insertion, so
// rows handed over one at a time (as the scan does, one per found file) are
// stored at once but announced to the view in batches, at most every 50 ms.
// Everything that works on "all rows" (counting ticks, sorting, Select All,
// Seek, the recovery's walk) sees every stored row, announced or not.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QTimer>
#include <memory>
#include <vector>

namespace app {

// One row: the caption ("0x" + the record's byte offset) and five sub-items.
struct TRow {
    QString Caption;
    QString FileName;
    QString FileExt;
    QString FileSize;
    QString CreateTime;
    QString LastTime;
    bool Checked = false;

    // The text a column shows: 0 the caption, 1..5 the sub-items.
    const QString& Column(int column) const;
};

// The rows in fixed-size chunks: appending never moves the rows already
// stored. A growing vector of 300,000 rows copied them over and over into
// fresh memory, which took half a second of a 300,000-row scan.
class TRowStore {
public:
    static constexpr std::size_t kChunkRows = 4096;

    std::size_t Size() const { return m_size; }
    TRow& operator[](std::size_t i) { return m_chunks[i / kChunkRows][i % kChunkRows]; }
    const TRow& operator[](std::size_t i) const { return m_chunks[i / kChunkRows][i % kChunkRows]; }
    void Push(TRow&& row);
    void Clear();

private:
    std::vector<std::unique_ptr<TRow[]>> m_chunks;
    std::size_t m_size = 0;
};

class TResultsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int kColumnCount = 6;
    // How long appended rows may wait before the view is told of them.
    static constexpr int kAnnounceIntervalMs = 50;

    explicit TResultsModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Appends rows at the end, unticked (a tick in the argument is ignored).
    void Append(TRow row);
    void AppendRows(std::vector<TRow> rows);
    // Tells the view about every row appended so far.
    void Announce();
    // Removes every row.
    void Clear();

    // Every stored row, announced or not, in display order.
    int Count() const { return static_cast<int>(m_rows.Size()); }
    const TRow& Row(int position) const { return m_rows[static_cast<std::size_t>(position)]; }
    int CheckedCount() const;
    void SetChecked(int position, bool checked);
    void SetAllChecked(bool checked);

    // Sorts all rows ascending by one column's text, in the order of
    // CompareText (a to z folded, unit by unit, a prefix first). Rows that
    // rank equal keep their order. Selection and focus follow their rows.
    void SortByColumn(int column);

private:
    TRowStore m_rows;
    int m_announced = 0;  // rows the view knows of: the first m_announced
    QTimer m_announceTimer;
};

}  // namespace app
