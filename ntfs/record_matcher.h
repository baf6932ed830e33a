// SPDX-License-Identifier: GPL-3.0-or-later
// Finding MFT FILE records anywhere on a disk, by their own bytes alone.
//
// When no MFT can be walked (a quick format wrote a new one, a partition
// table is gone, the first records are torn) the records themselves are
// still where the old MFT put them. Each starts on a 512-byte boundary with
// "FILE", and its update sequence array says how long it is: a record of
// 1,024 bytes protects 2 stretches, one of 4,096 bytes 8. The header's
// allocated size must say the same, and every stretch must end in the
// update sequence number; random data or a text file quoting "FILE" does
// not pass all of that.
//
// The matcher is pure: it looks at a buffer of bytes and the absolute byte
// offset of its first byte, and never changes the buffer. A long read is cut
// into buffers by the caller; each 512-byte boundary is looked at in exactly
// one buffer (see MatchRecords), so buffers that overlap by the largest
// record size find every record once, also one that spans two reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "ntfs/byte_view.h"

namespace ntfs {

namespace record_matcher {
constexpr std::size_t kBoundary = 512;                  // records start on these
constexpr std::uint32_t kRecordSizes[] = {1024, 4096};  // the sizes NTFS formats with
constexpr std::uint32_t kMaxRecordSize = 4096;
}  // namespace record_matcher

// What a found record says of itself, read from its header.
struct TFoundRecord {
    std::uint64_t ByteOffset = 0;  // absolute: where its first byte lies
    std::uint32_t RecordSize = 0;  // 1,024 or 4,096
    std::uint64_t Lsn = 0;         // log sequence number of its last write
    std::uint32_t SelfNumber = 0;  // its own MFT record number, when HasSelfNumber
    bool HasSelfNumber = false;    // false: an older header without the field
    std::uint16_t SequenceNumber = 0;
    std::uint16_t Flags = 0;  // file_record::kFlagInUse, kFlagDirectory
    bool InUse() const { return (Flags & 0x0001) != 0; }
    bool Directory() const { return (Flags & 0x0002) != 0; }
};

// The record starting at the first byte of `bytes` (found at absoluteOffset),
// or empty when those bytes are not a whole, sound FILE record of one of
// the sizes: signature, update sequence array of size/512 + 1 entries lying
// inside the header, allocated size equal to the size, used size within it,
// first attribute past the array, and every stretch ending in the update
// sequence number.
std::optional<TFoundRecord> MatchRecord(TByteView bytes, std::uint64_t absoluteOffset);

using TFoundRecordSink = std::function<void(const TFoundRecord&)>;

// Looks at every 512-byte boundary (of the absolute offsets) in `buffer`,
// whose first byte lies at absoluteOffset, and gives each record found to
// sink in order. A boundary is looked at only when a record of the largest
// size would fit after it, unless `last` (the end of the source): then every
// boundary that a 1,024-byte record fits after is. Returns how many bytes of
// the buffer were dealt with: the next buffer should start at
// absoluteOffset + that, so that no boundary is looked at twice or missed.
std::size_t MatchRecords(TByteView buffer, std::uint64_t absoluteOffset, bool last,
                         const TFoundRecordSink& sink);

}  // namespace ntfs
