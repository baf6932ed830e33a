// SPDX-License-Identifier: GPL-3.0-or-later
// Where a deleted file lived: its folders from the root, rebuilt from the
// parent references of $FILE_NAME attributes.
//
// A file name carries its parent directory as a file reference: the record
// number in the low 48 bits and the record's sequence number in the high 16.
// The sequence number says which use of the record is meant. A live directory
// holds the same number its children name; NTFS raises the number by one when
// it frees a record, so a deleted directory holds one above the reference its
// (also deleted) children kept. Any other number means the record has been
// reused since, and the chain breaks there.
//
// The walk already reads every record, so it notes each directory it meets in
// a compact table (record, sequence, in-use, parent, name), and the paths are
// resolved once the walk is over: no record is read twice. Parent links that
// form a loop (a damaged or crafted volume) are cut, so every chain ends.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ntfs/byte_view.h"

namespace scan {

struct TFileReference {
    std::uint64_t Record = 0;    // low 48 bits
    std::uint16_t Sequence = 0;  // high 16 bits
};

TFileReference SplitReference(std::uint64_t reference);

// The sequence number a record gets when it is freed: one up, 0 skipped.
std::uint16_t NextSequence(std::uint16_t sequence);

// The folders of a file from the root (or from where the chain broke) down to
// the folder that held it, as UTF-8.
struct TOriginalPath {
    std::vector<std::string> Folders;
    bool Broken = false;  // the chain did not reach the root
};

// "\" + folders + name joined by "\", or "?\" + the part that could be
// followed where the chain broke.
std::string PathText(const TOriginalPath& path, std::string_view name);

// The parent reference of a $FILE_NAME attribute image (the first 8 bytes of
// its value); empty when the image is too short.
std::optional<std::uint64_t> ParentReferenceOf(ntfs::TByteView fileNameAttribute);

// What a directory record tells the table; taken apart from the table so
// that records decoded on other threads can be noted in walk order.
struct TDirectoryNote {
    std::uint64_t Record = 0;
    std::uint16_t Sequence = 0;
    bool InUse = false;
    std::uint64_t ParentReference = 0;
    std::u16string Name;
};

// A fixed-up record's note when its header flags carry the directory bit
// and it has a usable name.
std::optional<TDirectoryNote> DirectoryNoteOf(std::uint64_t recordNumber, ntfs::TByteView record,
                                              std::uint16_t recordFlags);

class TDirectoryTable {
public:
    static constexpr std::uint64_t kRootRecord = 5;

    // A fixed-up record whose header flags carry the directory bit. Records
    // must come in increasing record order (the walk's order); one that does
    // not, or that has no usable name, is left out.
    void NoteRecord(std::uint64_t recordNumber, ntfs::TByteView record, std::uint16_t recordFlags);
    void Note(const TDirectoryNote& note) {
        Note(note.Record, note.Sequence, note.InUse, note.ParentReference, note.Name);
    }
    void Note(std::uint64_t recordNumber, std::uint16_t sequence, bool inUse, std::uint64_t parentReference,
              std::u16string_view name);

    // Links every directory to its parent and cuts loops. Call once, after
    // the last Note and before Resolve.
    void Link();

    // The folders of a file whose name names parentReference.
    TOriginalPath Resolve(std::uint64_t parentReference) const;

    std::size_t Size() const { return m_entries.size(); }
    // What the table holds in memory.
    std::size_t Bytes() const { return m_entries.capacity() * sizeof(TEntry) + m_names.capacity(); }

private:
    static constexpr std::int64_t kRoot = -1;
    static constexpr std::int64_t kBroken = -2;

    struct TEntry {
        std::uint64_t Record = 0;
        std::uint64_t ParentReference = 0;
        std::uint32_t NameOffset = 0;  // into m_names
        std::uint32_t NameLength = 0;
        std::uint16_t Sequence = 0;
        bool InUse = false;
        std::int64_t Parent = kBroken;  // after Link: index, kRoot or kBroken
    };

    // The table index the reference names, kRoot, or kBroken.
    std::int64_t Find(std::uint64_t reference) const;

    std::vector<TEntry> m_entries;  // in record order
    std::string m_names;            // every name as UTF-8, end to end (converted once, not per row)
    bool m_linked = false;
};

}  // namespace scan
