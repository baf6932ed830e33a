// SPDX-License-Identifier: GPL-3.0-or-later
// $ATTRIBUTE_LIST (type 0x20): when a file's attributes outgrow its base
// record, the base record lists every attribute and the record that holds it.
// A heavily fragmented file keeps the later pieces of its $DATA run list in
// such extension records, each piece starting at its own VCN.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "ntfs/boot_sector.h"
#include "ntfs/byte_view.h"
#include "ntfs/data_runs.h"
#include "ntfs/dynamic_char_array.h"
#include "platform/raw_volume.h"

namespace ntfs {

namespace attribute_list {
constexpr std::size_t kType = 0x00;         // u32
constexpr std::size_t kLength = 0x04;       // u16: bytes of this entry
constexpr std::size_t kNameLength = 0x06;   // u8: UTF-16 units of the attribute's name
constexpr std::size_t kNameOffset = 0x07;   // u8
constexpr std::size_t kStartingVcn = 0x08;  // u64
constexpr std::size_t kRecord = 0x10;       // u48 record number + u16 sequence number
constexpr std::size_t kAttributeId = 0x18;  // u16
constexpr std::size_t kMinEntry = 0x1A;
// NTFS keeps attribute lists far below this; a larger claim is damage.
constexpr std::uint64_t kMaxValueBytes = 4u << 20;
}  // namespace attribute_list

struct TAttributeListEntry {
    std::uint32_t Type = 0;
    std::uint8_t NameLength = 0;
    std::uint64_t StartingVcn = 0;
    std::uint64_t Record = 0;    // low 48 bits of the file reference
    std::uint16_t Sequence = 0;  // its top 16 bits: the record's sequence number when listed
};

// Decodes the entries of an attribute list value; stops at the first entry
// that is too short or does not advance.
std::vector<TAttributeListEntry> DecodeAttributeList(TByteView value);

// The value of a (resident or non-resident) attribute, read whole when it is
// at most `maxBytes`; empty when it is larger, or cannot be read or decoded.
std::optional<TDynamicCharArray> ReadAttributeValue(platform::TRawVolume& volume, TByteView attribute,
                                                    const TDISK_INFORMATION& geometry,
                                                    std::uint64_t maxBytes);

// Reads MFT record `n` into a buffer of BytesPerFileRecord bytes, fixed up;
// empty when it cannot be read or fails its fixups.
using TRecordReader = std::function<std::optional<TDynamicCharArray>(std::uint64_t n)>;

// The complete run list of the unnamed $DATA attribute of a base record, in
// VCN order: the runs of the base record's own $DATA, joined with those of
// the extension records that its $ATTRIBUTE_LIST names. `dataAttribute` is
// the base record's first $DATA (as FindAttribute returns it). Pieces that
// cannot be read are left out (their VCNs stay uncovered: the caller treats
// them as zeros). Runs are returned with absolute VCNs.
TRunList CollectDataRuns(platform::TRawVolume& volume, std::span<const std::uint8_t> baseRecord,
                         TByteView dataAttribute, const TDISK_INFORMATION& geometry,
                         const TRecordReader& readRecord);

// The record's first $DATA attribute without a name (the file's content, not
// a named stream); empty when it has none.
TByteView LocateUnnamedData(TByteView record);

// An attribute that a base record keeps only in an extension record: the
// first $FILE_NAME (with the namespace rule of FindAttribute), or the unnamed
// $DATA that begins the value (resident, or starting at VCN 0), held by an
// extension record that its $ATTRIBUTE_LIST names. An extension record is
// trusted only while it is free, still names this base record (with the
// base's sequence number, or the one before a delete moved it on) and has
// the sequence number the list gives (or the next: freed with the file); one
// taken by another file since is passed over. Empty when none is found.
TDynamicCharArray FindListedAttribute(platform::TRawVolume& volume, std::span<const std::uint8_t> baseRecord,
                                      std::uint64_t baseNumber, std::uint32_t type, bool namespaceRule,
                                      const TDISK_INFORMATION& geometry, const TRecordReader& readRecord);

}  // namespace ntfs
