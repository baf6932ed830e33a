// SPDX-License-Identifier: GPL-3.0-or-later
// File extraction: rebuilds one deleted file from its MFT record and writes
// it to a target path.
//
// The record is read again at the byte offset its results row carries and
// must still be free (RecordFlags 0): a record taken back into use since the
// scan now describes another file. The content is the resident value of the
// first $DATA attribute, or the clusters its run list names, streamed to a
// temporary file beside the target that replaces the target only once it is
// complete. Whatever goes wrong, a file already at the target path is either
// left as it was or replaced by a complete one.
//
// Beyond the plain run walk:
// - compressed data ($DATA flag 0x0001, non-resident) is decompressed unit
//   by unit (LZNT1); encrypted data cannot be decrypted and is written as it
//   lies;
// - a record with an $ATTRIBUTE_LIST keeps later runs in extension records;
//   they are found through the MFT's own run list and joined in VCN order;
// - bytes past the attribute's initialized size are zeros, as NTFS reads
//   them, whatever stale clusters lie there.
//
// Reasons a file is passed over are told apart: the record's data is
// corrupt (go on with the next row) or a read or write failed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ntfs/boot_sector.h"
#include "platform/raw_volume.h"

namespace recover {

enum class TRecoverStatus {
    Written,           // the file was written (Bytes long)
    BadGeometry,       // a cluster or record size that no NTFS volume has
    RecordUnreadable,  // I/O: the record's read failed or came up short
    FixupsFailed,      // corrupt: not a FILE record, or torn
    InUse,             // the record is in use again (or carries other flags)
    NoData,            // corrupt: the record has no $DATA attribute
    BadData,           // corrupt: the $DATA header is cut short or its sizes are impossible
    OutputFailed,      // I/O: the output file could not be created, written or renamed
};

struct TRecoverResult {
    TRecoverStatus Status = TRecoverStatus::Written;
    std::uint64_t Bytes = 0;        // size of the written file
    std::uint64_t UnreadBytes = 0;  // zeros in place of clusters whose read failed or lay past the volume end
    std::uint64_t MissingBytes =
        0;  // zeros where no run could be found (cut run list, lost extension record)
    std::uint64_t DamagedUnits = 0;  // compression units that did not decompress cleanly
    // Holes where a run maps volume clusters that an earlier part of the file
    // already used: a damaged run list, never a real file.
    std::uint64_t ReusedBytes = 0;
    // Holes a recovery run left: clusters another file of the run already
    // holds while neither row's verdict says they were reused (Taken), and
    // bytes past what the run may write in all, the bytes the volume holds
    // (Beyond).
    std::uint64_t TakenBytes = 0;
    std::uint64_t BeyondBytes = 0;
    // Bytes the record's DataSize claims past what its runs allocate: not
    // written, the file is cut there.
    std::uint64_t CutBytes = 0;
    // The system's error number when the output file failed (Status OutputFailed), 0 if none.
    int OutputError = 0;
    bool Compressed = false;
    bool Encrypted = false;  // written as it lies: still encrypted
};

// Whether a status is a failed read or write rather than corrupt or unsuitable data.
bool IsIoFailure(TRecoverStatus status);

// The byte offset of a results row's caption: its first two characters (the
// "0x") dropped, the rest hexadecimal digits in either case whose value fits
// 64 bits. Empty for anything else.
std::optional<std::uint64_t> ParseCaption(std::string_view caption);

// Rebuilds the file whose record lies at `recordOffset` of `volume` and
// writes it to `targetPath` (UTF-8).
TRecoverResult RecoverFileFromRecord(platform::TRawVolume& volume, std::uint64_t recordOffset,
                                     const ntfs::TDISK_INFORMATION& geometry, const std::string& targetPath);

}  // namespace recover
