// SPDX-License-Identifier: GPL-3.0-or-later
// lv1's model: the rows of form::TResultRows, which the window logic owns,
// shown as a table with a check box in the first column.
//
// The logic tells the window of every change (rows appended, reset, put in a
// new order, ticks changed) and the window passes it on here as the model's
// own signals. A tick the user clicks goes back to the logic.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <cstddef>
#include <span>

#include "form/main_logic.h"

namespace app {

class TResultsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int kColumnCount = form::kColumnCount;

    TResultsModel(form::TMainLogic& logic, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The logic's rows (for the window and its tests).
    int Count() const { return static_cast<int>(m_logic.Rows().Count()); }
    const form::TRow& Row(int position) const {
        return m_logic.Rows().Row(static_cast<std::size_t>(position));
    }
    int CheckedCount() const { return static_cast<int>(m_logic.Rows().CheckedCount()); }
    // A tick, as if the user had clicked the row's check box.
    void SetChecked(int position, bool checked);
    void SetAllChecked(bool checked) { m_logic.chk1Click(checked); }
    void Clear() { m_logic.ClearRows(); }

    // From the window's view calls: what the logic did to its rows.
    void RowsReset();
    void RowsAppended(std::size_t first, std::size_t count);
    void RowsReordered(std::span<const std::size_t> newPosition);
    void ChecksChanged(std::size_t first, std::size_t last);
    void DetailsChanged(std::size_t first, std::size_t last);

private:
    form::TMainLogic& m_logic;
    int m_shown = 0;  // rows the view knows of: the first m_shown
};

QString ToQString(std::u16string_view text);

}  // namespace app
