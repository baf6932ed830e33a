// SPDX-License-Identifier: GPL-3.0-or-later
// The walk's decoding of one stretch of MFT records into rows, apart from
// the engine's state, so that stretches can be decoded on several threads
// and handed to the front end in record order.
//
// Everything a decoded stretch holds is its own: the status of each record
// (for the counters), the rows, and, when the walk collects details, what
// each directory and each row tells the details collector. The engine notes
// them in order as it hands the stretch on.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "ntfs/boot_sector.h"
#include "ntfs/dynamic_char_array.h"
#include "ntfs/mft_map.h"
#include "platform/local_time.h"
#include "platform/raw_volume.h"
#include "scan/deleted_file_entry.h"
#include "scan/original_path.h"
#include "scan/row_details.h"

namespace scan {

enum class TRecordStatus : std::uint8_t {
    Found,
    ReadFailure,  // the volume did not deliver the record whole
    FixupFailure,
    InUseOrDirectory,
    MissingAttributes,
};

struct TDecodedStretch {
    std::vector<TRecordStatus> Status;  // one per record
    // The Found records' rows, in order: the first RowCount of Rows. Rows
    // past them are kept from earlier stretches, so that their strings are
    // filled again without new allocations.
    std::vector<DeletedFileEntry> Rows;
    std::size_t RowCount = 0;
    std::vector<TRowNote> RowNotes;           // with details: one per row
    std::vector<TDirectoryNote> Directories;  // with details: in record order
    void Clear() {
        Status.clear();
        RowCount = 0;
        RowNotes.clear();
        Directories.clear();
    }
};

// One per thread: it keeps its own date-text caches.
class TRecordDecoder {
public:
    // volume: reads of extension records (attribute lists) and of records
    // a short chunk left out; it must allow reads from several threads when
    // decoders run on several.
    TRecordDecoder(const ntfs::TDISK_INFORMATION& geometry, const ntfs::TMftMap& map,
                   platform::TRawVolume& volume, bool details, std::uint64_t clusterCount);

    // Records first .. first + count - 1 from bytes (count whole records),
    // of which the first got bytes were read; records past them are read
    // again one by one, so a bad stretch costs only its own records. They
    // are added to out, which must end with record first - 1 or be empty.
    void Decode(std::uint64_t first, std::size_t count, std::span<std::uint8_t> bytes, std::size_t got,
                TDecodedStretch& out);

    // One record image found anywhere (the deep pass): decoded as the walk
    // decodes record recordNumber at byteOffset, its row (if any) added to out.
    TRecordStatus DecodeImage(std::uint64_t recordNumber, std::uint64_t byteOffset,
                              std::span<std::uint8_t> image, TDecodedStretch& out) {
        return DecodeRecord(recordNumber, byteOffset, image, out);
    }

private:
    TRecordStatus DecodeRecord(std::uint64_t recordNumber, std::uint64_t byteOffset,
                               std::span<std::uint8_t> image, TDecodedStretch& out);
    ntfs::TDynamicCharArray FindListed(std::uint64_t recordNumber, std::span<const std::uint8_t> image,
                                       std::uint32_t type, bool namespaceRule);

    const ntfs::TDISK_INFORMATION& m_geometry;
    const ntfs::TMftMap& m_map;
    platform::TRawVolume& m_volume;
    bool m_details;
    std::uint64_t m_clusterCount;
    platform::TDateTimeFormatter m_formatter;
};

}  // namespace scan
