// SPDX-License-Identifier: GPL-3.0-or-later
// MFT FILE records: the header and the update-sequence fixups.
//
// NTFS writes a record in 512-byte stretches and, to detect a record whose
// stretches were not all written, stores an update sequence number in the
// last two bytes of every stretch; the bytes that belonged there are kept in
// the update sequence array. ApplyFixups checks and undoes this in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "ntfs/boot_sector.h"
#include "ntfs/byte_view.h"

namespace ntfs {

namespace file_record {
constexpr std::size_t kSignature = 0x00;             // 4 x ASCII "FILE"
constexpr std::size_t kUsaOffset = 0x04;             // u16: offset of the update sequence array
constexpr std::size_t kUsaCount = 0x06;              // u16: entries, the sequence number included
constexpr std::size_t kLogSequenceNumber = 0x08;     // u64: $LogFile position of the last write
constexpr std::size_t kSequenceNumber = 0x10;        // u16: times the record was reused
constexpr std::size_t kFirstAttributeOffset = 0x14;  // u16
constexpr std::size_t kRecordFlags = 0x16;           // u16: 0x0001 in use, 0x0002 directory
constexpr std::size_t kAllocatedSize = 0x1C;         // u32: the record's size in bytes
constexpr std::size_t kBaseRecord = 0x20;            // u64: base record reference, 0 for a base
constexpr std::size_t kSelfNumber = 0x2C;            // u32: the record's own number (NTFS 3.1 headers)
constexpr std::size_t kHeaderSize = 48;
static_assert(kRecordFlags + 2 <= kHeaderSize);
static_assert(kSelfNumber + 4 <= kHeaderSize);
// An update sequence array at or past this offset leaves room for the
// self-number; older headers put the array at 0x2A, over it.
constexpr std::size_t kUsaOffsetWithSelfNumber = 0x30;
// NTFS protects every 512 bytes of a record whatever the volume's sector size.
constexpr std::size_t kFixupStride = 512;
constexpr std::uint16_t kFlagInUse = 0x0001;
constexpr std::uint16_t kFlagDirectory = 0x0002;
}  // namespace file_record

struct TFILE_RECORD_HEADER {
    std::uint16_t UsaOffset = 0;
    std::uint16_t UsaCount = 0;
    std::uint16_t FirstAttributeOffset = 0;
    std::uint16_t RecordFlags = 0;
};

// Whether the image begins with "FILE".
bool HasFileSignature(TByteView image);

// The header fields, or empty when the image is shorter than the header or is
// not a FILE record.
std::optional<TFILE_RECORD_HEADER> DecodeRecordHeader(TByteView image);

// The record's own number (low 32 bits) when its header has room for it,
// empty for the older header or an image too short for it.
std::optional<std::uint32_t> SelfNumber(TByteView image);

// Checks that image is a FILE record whose 512-byte stretches were written
// together, and puts back the bytes the update sequence displaced. The image
// is the whole record: a multiple of 512 bytes whose array holds exactly one
// entry more than it has stretches. True: the record may be used. False:
// not a FILE record, an image or entry count other than that (the image is
// left unchanged), the array does not fit, or a stretch end does not hold
// the sequence number; then the stretches before the failing one stay
// restored and the caller discards the image. Nothing outside the image is
// read or written. The geometry is part of the contract of the callers but
// the stride is always 512 bytes (see kFixupStride).
bool ApplyFixups(std::span<std::uint8_t> image, const TDISK_INFORMATION& geometry);

}  // namespace ntfs
