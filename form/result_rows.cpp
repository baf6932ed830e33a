// SPDX-License-Identifier: GPL-3.0-or-later
#include "form/result_rows.h"

#include <algorithm>

#include "form/toolkit_free.h"
//
#include "form/drive_facts.h"

namespace form {

namespace {

inline char16_t Fold(char16_t unit) {
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - (u'a' - u'A')) : unit;
}

bool NeedsQuotes(std::u16string_view item) {
    return std::any_of(item.begin(), item.end(),
                       [](char16_t u) { return (u >= 1 && u <= 32) || u == u'"' || u == u','; });
}

}  // namespace

const std::u16string& TRow::Column(int column) const {
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

std::u16string UpperAZ(std::u16string_view text) {
    std::u16string out(text);
    UpperAZInPlace(out);
    return out;
}

void UpperAZInPlace(std::u16string& text) {
    for (char16_t& c : text) c = Fold(c);
}

int CompareText(std::u16string_view a, std::u16string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const int ua = Fold(a[i]);
        const int ub = Fold(b[i]);
        if (ua != ub) return ua - ub;
    }
    if (a.size() == b.size()) return 0;
    const std::size_t diff = a.size() > b.size() ? a.size() - b.size() : b.size() - a.size();
    const int magnitude = static_cast<int>(std::min<std::size_t>(diff, 0x7FFFFFFF));
    return a.size() > b.size() ? magnitude : -magnitude;
}

void BuildSearchText(const std::array<std::u16string_view, 5>& subItems, std::u16string& out) {
    out.clear();  // keeps the capacity: one buffer serves a whole pass over the list
    bool first = true;
    for (const std::u16string_view item : subItems) {
        if (!first) out += u',';
        first = false;
        if (!NeedsQuotes(item)) {
            out += item;
            continue;
        }
        out += u'"';
        for (const char16_t c : item) {
            if (c == u'"') out += u'"';
            out += c;
        }
        out += u'"';
    }
}

void TResultRows::Clear() {
    m_chunks.clear();
    m_size = 0;
    ++m_generation;
}

void TResultRows::Append(std::vector<TRow>&& rows) {
    for (TRow& row : rows) {
        if (m_size == m_chunks.size() * kChunkRows) m_chunks.push_back(std::make_unique<TRow[]>(kChunkRows));
        row.Checked = false;
        Row(m_size++) = std::move(row);
    }
}

std::size_t TResultRows::CheckedCount() const {
    std::size_t count = 0;
    for (std::size_t i = 0; i < m_size; ++i) count += Row(i).Checked ? 1 : 0;
    return count;
}

bool TResultRows::SetChecked(std::size_t position, bool checked) {
    if (position >= m_size || Row(position).Checked == checked) return false;
    Row(position).Checked = checked;
    return true;
}

void TResultRows::SetAllChecked(bool checked) {
    for (std::size_t i = 0; i < m_size; ++i) Row(i).Checked = checked;
}

std::vector<std::size_t> TResultRows::SortByColumn(int column) {
    const std::size_t count = m_size;
    std::vector<std::size_t> newPosition(count);
    for (std::size_t i = 0; i < count; ++i) newPosition[i] = i;
    if (count < 2) return newPosition;

    // CompareText folds a to z and then compares unit by unit, a prefix
    // first: exactly the plain order of the folded texts. So every key is
    // folded once into one contiguous buffer, and its first eight units are
    // packed into two integers that decide most comparisons without touching
    // the buffer. Comparing the rows' own strings instead chased two pointers
    // per comparison into 300,000 scattered allocations and took seconds.
    struct TSortKey {
        std::uint64_t Head0;   // folded units 0..3, big-endian; 0 past the end
        std::uint64_t Head1;   // units 4..7
        std::size_t Position;  // the row's position before the sort
    };
    std::vector<TSortKey> keys(count);
    std::vector<std::size_t> start(count + 1);  // where each row's folded key begins
    for (std::size_t i = 0; i < count; ++i) start[i + 1] = start[i] + Row(i).Column(column).size();
    std::u16string folded(start[count], u'\0');
    for (std::size_t i = 0; i < count; ++i) {
        const std::u16string& text = Row(i).Column(column);
        char16_t* out = folded.data() + start[i];
        TSortKey& key = keys[i];
        key = {0, 0, i};
        for (std::size_t u = 0; u < text.size(); ++u) {
            const char16_t unit = Fold(text[u]);
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
    auto fullKey = [&](std::size_t p) { return all.substr(start[p], start[p + 1] - start[p]); };
    std::stable_sort(keys.begin(), keys.end(), [&](const TSortKey& a, const TSortKey& b) {
        if (a.Head0 != b.Head0) return a.Head0 < b.Head0;
        if (a.Head1 != b.Head1) return a.Head1 < b.Head1;
        return fullKey(a.Position) < fullKey(b.Position);
    });

    // Put the rows in their new places by following the permutation's
    // cycles with swaps: no second copy of 300,000 rows to allocate.
    for (std::size_t i = 0; i < count; ++i) newPosition[keys[i].Position] = i;
    std::vector<std::size_t> place(newPosition);
    for (std::size_t i = 0; i < count; ++i) {
        while (place[i] != i) {
            const std::size_t target = place[i];
            std::swap(Row(i), Row(target));
            std::swap(place[i], place[target]);
        }
    }
    return newPosition;
}

std::optional<TRgb> RowTint(const TRow& row) {
    if (!row.HasDetails) return std::nullopt;
    switch (row.Recoverability.Verdict) {
        case scan::TVerdict::Overwritten:
            return kOverwrittenTint;
        case scan::TVerdict::Partial:
            return kPartialTint;
        case scan::TVerdict::Intact:
        case scan::TVerdict::Unknown:
            break;
    }
    return std::nullopt;
}

std::u16string VerdictWords(const scan::TRecoverability& r) {
    const std::string lost = std::to_string(r.InUse + r.LostToNewer) + " of " + std::to_string(r.Clusters) +
                             " clusters now belong to other files";
    std::string words;
    switch (r.Verdict) {
        case scan::TVerdict::Intact:
            words = "Intact: none of its " + std::to_string(r.Clusters) + " clusters belong to other files";
            break;
        case scan::TVerdict::Partial:
            words = "Partial: " + lost;
            break;
        case scan::TVerdict::Overwritten:
            words = "Overwritten: " + lost;
            break;
        case scan::TVerdict::Unknown:
            words = "Unknown: the cluster bitmap or the run list cannot be read soundly";
            break;
    }
    return std::u16string(words.begin(), words.end());  // ASCII only
}

std::u16string RowToolTip(const TRow& row) {
    if (!row.HasDetails) return {};
    return row.Path + u"\n" + VerdictWords(row.Recoverability);
}

void TResultRows::SetDetails(std::vector<TShownDetails>&& details) {
    for (std::size_t i = 0; i < m_size; ++i) {
        TRow& row = Row(i);
        if (row.ScanIndex >= details.size() || !details[row.ScanIndex].Known) continue;
        TShownDetails& d = details[row.ScanIndex];
        row.Path = std::move(d.Path);
        row.Recoverability = d.Recoverability;
        row.HasDetails = true;
    }
}

std::optional<std::size_t> TResultRows::Find(std::u16string_view text) const {
    if (text.empty()) return std::nullopt;
    const std::u16string wanted = UpperAZ(text);
    std::u16string rowText;
    for (std::size_t i = 0; i < m_size; ++i) {
        const TRow& row = Row(i);
        BuildSearchText({row.FileName, row.FileExt, row.FileSize, row.CreateTime, row.LastTime}, rowText);
        UpperAZInPlace(rowText);
        if (rowText.find(wanted) != std::u16string::npos) return i;
        if (!row.Path.empty() && UpperAZ(row.Path).find(wanted) != std::u16string::npos) return i;
    }
    return std::nullopt;
}

}  // namespace form
