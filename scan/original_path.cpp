// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/original_path.h"

#include <algorithm>
#include <limits>

#include "ntfs/attribute.h"
#include "ntfs/text.h"

namespace scan {

namespace {
constexpr std::size_t kSequenceNumber = 0x10;  // u16 in the record header
constexpr std::uint64_t kRecordMask = 0x0000FFFFFFFFFFFFull;
}  // namespace

TFileReference SplitReference(std::uint64_t reference) {
    return {reference & kRecordMask, static_cast<std::uint16_t>(reference >> 48)};
}

std::uint16_t NextSequence(std::uint16_t sequence) {
    const auto next = static_cast<std::uint16_t>(sequence + 1);
    return next == 0 ? 1 : next;
}

std::string PathText(const TOriginalPath& path, std::string_view name) {
    std::string text = path.Broken ? "?" : "";
    for (const std::string& folder : path.Folders) {
        text += '\\';
        text += folder;
    }
    text += '\\';
    text += name;
    return text;
}

std::optional<std::uint64_t> ParentReferenceOf(ntfs::TByteView fileNameAttribute) {
    return fileNameAttribute.U64(ntfs::attribute::kFixedValueOffset);
}

std::optional<TDirectoryNote> DirectoryNoteOf(std::uint64_t recordNumber, ntfs::TByteView record,
                                              std::uint16_t recordFlags) {
    if ((recordFlags & 0x0002) == 0) return std::nullopt;
    const auto sequence = record.U16(kSequenceNumber);
    const ntfs::TByteView nameAttribute = ntfs::LocateAttribute(record, ntfs::attribute::kFileName, true);
    const auto parent = ParentReferenceOf(nameAttribute);
    auto name = ntfs::DecodeFileName(nameAttribute);
    if (!sequence || !parent || !name) return std::nullopt;
    return TDirectoryNote{recordNumber, *sequence, (recordFlags & 0x0001) != 0, *parent,
                          std::move(name->FileName)};
}

void TDirectoryTable::NoteRecord(std::uint64_t recordNumber, ntfs::TByteView record,
                                 std::uint16_t recordFlags) {
    if (const auto note = DirectoryNoteOf(recordNumber, record, recordFlags)) Note(*note);
}

void TDirectoryTable::Note(std::uint64_t recordNumber, std::uint16_t sequence, bool inUse,
                           std::uint64_t parentReference, std::u16string_view name) {
    if (!m_entries.empty() && m_entries.back().Record >= recordNumber) return;
    const std::string text = ntfs::Utf16ToUtf8(name);
    if (m_names.size() + text.size() > std::numeric_limits<std::uint32_t>::max()) return;
    TEntry entry;
    entry.Record = recordNumber;
    entry.ParentReference = parentReference;
    entry.NameOffset = static_cast<std::uint32_t>(m_names.size());
    entry.NameLength = static_cast<std::uint32_t>(text.size());
    entry.Sequence = sequence;
    entry.InUse = inUse;
    m_entries.push_back(entry);
    m_names += text;
    m_linked = false;
}

std::int64_t TDirectoryTable::Find(std::uint64_t reference) const {
    const TFileReference ref = SplitReference(reference);
    if (ref.Record == kRootRecord) return kRoot;
    std::size_t lo = 0;
    std::size_t hi = m_entries.size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (m_entries[mid].Record < ref.Record)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo == m_entries.size() || m_entries[lo].Record != ref.Record) return kBroken;
    const TEntry& e = m_entries[lo];
    // The same use of the record: live and unchanged, or freed once since.
    const bool sameUse = e.InUse ? e.Sequence == ref.Sequence : e.Sequence == NextSequence(ref.Sequence);
    return sameUse ? static_cast<std::int64_t>(lo) : kBroken;
}

void TDirectoryTable::Link() {
    for (TEntry& e : m_entries) e.Parent = Find(e.ParentReference);
    // Follow each chain once; a chain that comes back to a directory still on
    // the current stretch is a loop, cut at the link that closes it.
    enum : std::uint8_t { kNew, kOnStretch, kDone };
    std::vector<std::uint8_t> state(m_entries.size(), kNew);
    std::vector<std::size_t> stretch;
    for (std::size_t start = 0; start < m_entries.size(); ++start) {
        std::int64_t at = static_cast<std::int64_t>(start);
        while (at >= 0 && state[static_cast<std::size_t>(at)] == kNew) {
            state[static_cast<std::size_t>(at)] = kOnStretch;
            stretch.push_back(static_cast<std::size_t>(at));
            at = m_entries[static_cast<std::size_t>(at)].Parent;
        }
        if (at >= 0 && state[static_cast<std::size_t>(at)] == kOnStretch)
            m_entries[stretch.back()].Parent = kBroken;
        for (const std::size_t i : stretch) state[i] = kDone;
        stretch.clear();
    }
    m_linked = true;
}

TOriginalPath TDirectoryTable::Resolve(std::uint64_t parentReference) const {
    TOriginalPath path;
    std::int64_t at = Find(parentReference);
    // Without Link the parents are not known to end; take the first step only.
    while (at >= 0) {
        const TEntry& e = m_entries[static_cast<std::size_t>(at)];
        path.Folders.emplace_back(m_names, e.NameOffset, e.NameLength);
        at = m_linked ? e.Parent : kBroken;
    }
    path.Broken = at != kRoot;
    std::reverse(path.Folders.begin(), path.Folders.end());
    return path;
}

}  // namespace scan
