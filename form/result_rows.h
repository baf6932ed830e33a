// SPDX-License-Identifier: GPL-3.0-or-later
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

#include "scan/deleted_file_entry.h"

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
    // Known once the walk is over (HasDetails): where the file was and
    // whether its clusters survived.
    bool HasDetails = false;
    std::u16string Path;
    scan::TRecoverability Recoverability;

    // The text a column shows: 0 the caption, 1..5 the sub-items.
    const std::u16string& Column(int column) const;
};

// A row's details in the form the list shows them: made on the scan's
// thread, so that the UI thread only moves them into their rows.
struct TShownDetails {
    std::u16string Path;
    scan::TRecoverability Recoverability;
    bool Known = false;
};

// How a row's text is tinted: an overwritten row grey, a partial one dark
// amber, any other as the list draws it.
struct TRgb {
    std::uint8_t Red = 0, Green = 0, Blue = 0;
    bool operator==(const TRgb&) const = default;
};
inline constexpr TRgb kOverwrittenTint{128, 128, 128};
inline constexpr TRgb kPartialTint{153, 102, 0};
std::optional<TRgb> RowTint(const TRow& row);

// The verdict in words: "Intact", "Partial: 3 of 49 clusters now belong to
// other files", "Overwritten: 49 of 49 clusters now belong to other files",
// "Unknown: ...".
std::u16string VerdictWords(const scan::TRecoverability& r);

// A row's tooltip: its original path, then the verdict in words; empty
// until the row has its details.
std::u16string RowToolTip(const TRow& row);

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

    // Each row's details, by its scan index (rows beyond `details` keep none).
    // details: by scan index, as TShownDetails made them.
    void SetDetails(std::vector<TShownDetails>&& details);

    // Seek: the first row whose search text or original path, folded,
    // contains the folded text.
    std::optional<std::size_t> Find(std::u16string_view text) const;

private:
    std::vector<std::unique_ptr<TRow[]>> m_chunks;
    std::size_t m_size = 0;
    std::uint64_t m_generation = 0;
};

}  // namespace form
