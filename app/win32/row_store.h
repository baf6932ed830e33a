// The rows lv1 shows, as UTF-16 texts in display order, with their ticks.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "app/win32/results_list.h"

namespace win32app {

struct TRowTexts {
    std::array<std::wstring, TResultsList::kColumnCount> Cells;  // caption, then the five sub-items
    bool Ticked = false;
};

class TRowStore : public TRowSource {
public:
    std::size_t RowCount() const override { return m_rows.size(); }
    std::wstring_view Cell(std::size_t row, int column) const override {
        return m_rows[row].Cells[static_cast<std::size_t>(column)];
    }
    bool Ticked(std::size_t row) const override { return m_rows[row].Ticked; }
    void SetTicked(std::size_t row, bool ticked) override { m_rows[row].Ticked = ticked; }

    void Clear() { m_rows.clear(); }
    void Append(TRowTexts row) { m_rows.push_back(std::move(row)); }
    std::vector<TRowTexts>& Rows() { return m_rows; }

private:
    std::vector<TRowTexts> m_rows;
};

}  // namespace win32app
