// The results list's rows: their texts, ticks and order, for every window.
//
// The rows of 300,000 deleted files are stored in fixed-size chunks, so
// appending never moves the rows already stored (a growing vector copied
// them over and over). The window draws them as a virtual list and is told
// of changes through form::TMainView; everything that works on "all rows"
// (counting ticks, sorting, Select All, Seek, the recovery's walk) works here.
//
// Text rules: the sort order and the Seek match fold only the letters a to z,
// unit by UTF-16 unit, with no locale rules, so both are the same on every
// machine.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace form {

inline constexpr int kColumnCount = 6;

// One row: the caption ("0x" + the record's byte offset) and five sub-items.
struct TRow {
    std::u16string Caption;
    std::u16string FileName;
    std::u16string FileExt;
    std::u16string FileSize;
    std::u16string CreateTime;
    std::u16string LastTime;
    std::size_t ScanIndex = 0;  // the row's place in its scan's result
    bool Checked = false;

    // The text a column shows: 0 the caption, 1..5 the sub-items.
    const std::u16string& Column(int column) const;
};

// a to z become A to Z; every other unit stays as it is.
std::u16string UpperAZ(std::u16string_view text);
void UpperAZInPlace(std::u16string& text);

// Compares a and b unit by unit after folding a to z. At the first folded
// difference the result is a's unit minus b's; without one it is a's length
// minus b's, so a prefix ranks first and equal-length keys rank equal.
int CompareText(std::u16string_view a, std::u16string_view b);

// The search text of a row's five sub-items into out (cleared first): the
// items joined with ",", each one in double quotes (inner quotes doubled)
// when it holds a unit from 1 to 32, a double quote or a comma.
void BuildSearchText(const std::array<std::u16string_view, 5>& subItems, std::u16string& out);

class TResultRows {
public:
    static constexpr std::size_t kChunkRows = 4096;

    std::size_t Count() const { return m_size; }
    TRow& Row(std::size_t i) { return m_chunks[i / kChunkRows][i % kChunkRows]; }
    const TRow& Row(std::size_t i) const { return m_chunks[i / kChunkRows][i % kChunkRows]; }
    // Changes whenever the rows are replaced (Clear): a recovery that began
    // on older rows stops rather than reading rows of another scan.
    std::uint64_t Generation() const { return m_generation; }

    void Clear();
    // Appends rows at the end, unticked.
    void Append(std::vector<TRow>&& rows);

    std::size_t CheckedCount() const;
    // False when the tick was already so (or there is no such row).
    bool SetChecked(std::size_t position, bool checked);
    void SetAllChecked(bool checked);

    // Sorts ascending by one column in CompareText's order; rows that rank
    // equal keep their order. Returns where each row went: newPosition[old].
    std::vector<std::size_t> SortByColumn(int column);

    // Seek: the first row whose search text, folded, contains the folded text.
    std::optional<std::size_t> Find(std::u16string_view text) const;

private:
    std::vector<std::unique_ptr<TRow[]>> m_chunks;
    std::size_t m_size = 0;
    std::uint64_t m_generation = 0;
};

}  // namespace form
