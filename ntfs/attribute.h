// SPDX-License-Identifier: GPL-3.0-or-later
// Attributes of an MFT record: the lookup and the decoders of the headers and
// of the two values the scan reads.
//
// Attribute images are copies made by FindAttribute: the attribute's bytes
// from its header on, cut at the end of the record. Every decoder takes such
// an image and answers empty when the image is too short for a field it needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "ntfs/byte_view.h"
#include "ntfs/dynamic_char_array.h"

namespace ntfs {

namespace attribute {
constexpr std::uint32_t kStandardInformation = 0x10;
constexpr std::uint32_t kAttributeList = 0x20;
constexpr std::uint32_t kFileName = 0x30;
constexpr std::uint32_t kData = 0x80;
constexpr std::uint32_t kEnd = 0xFFFFFFFF;

// Common header.
constexpr std::size_t kType = 0x00;         // u32
constexpr std::size_t kLength = 0x04;       // u32: bytes to the next attribute
constexpr std::size_t kNonResident = 0x08;  // u8: 0 resident, 1 non-resident
constexpr std::size_t kNameLength = 0x09;   // u8: UTF-16 units of the attribute's own name
constexpr std::size_t kNameOffset = 0x0A;   // u16
constexpr std::size_t kFlags = 0x0C;        // u16: 0x0001 compressed, 0x4000 encrypted, 0x8000 sparse
// Resident form.
constexpr std::size_t kValueLength = 0x10;  // u32
constexpr std::size_t kValueOffset = 0x14;  // u16
// Non-resident form.
constexpr std::size_t kStartingVcn = 0x10;      // s64
constexpr std::size_t kLastVcn = 0x18;          // s64
constexpr std::size_t kRunListOffset = 0x20;    // u16
constexpr std::size_t kCompressionUnit = 0x22;  // u16: log2 of clusters per compression unit
constexpr std::size_t kAllocatedSize = 0x28;    // s64
constexpr std::size_t kDataSize = 0x30;         // s64
constexpr std::size_t kInitializedSize = 0x38;  // s64
constexpr std::size_t kNonResidentHeaderSize = 0x40;

constexpr std::uint16_t kFlagCompressed = 0x0001;
constexpr std::uint16_t kFlagEncrypted = 0x4000;
constexpr std::uint16_t kFlagSparse = 0x8000;

// The scan and the decoders below take an attribute's value to begin at 0x18,
// where a resident attribute without a name keeps it.
constexpr std::size_t kFixedValueOffset = 0x18;
constexpr std::size_t kCreationTime = kFixedValueOffset + 0x00;       // u64 file time
constexpr std::size_t kModificationTime = kFixedValueOffset + 0x08;   // u64 file time
constexpr std::size_t kFileNameLength = kFixedValueOffset + 0x40;     // u8: UTF-16 units
constexpr std::size_t kFileNameNamespace = kFixedValueOffset + 0x41;  // u8: 0 POSIX 1 Win32 2 DOS 3 both
constexpr std::size_t kFileNameChars = kFixedValueOffset + 0x42;      // UTF-16LE, no terminator

constexpr std::uint8_t kNamespaceDos = 2;
}  // namespace attribute

struct TATTRIBUTE_HEADER {
    std::uint32_t AttributeType = 0;
    std::uint32_t AttributeLength = 0;
    std::uint8_t NonResident = 0;
    std::uint16_t AttributeFlags = 0;
};

struct TRESIDENT_ATTRIBUTE {
    std::uint32_t ValueLength = 0;
    std::uint16_t ValueOffset = 0;
};

struct TNONRESIDENT_ATTRIBUTE {
    std::int64_t StartingVcn = 0;
    std::int64_t LastVcn = 0;
    std::uint16_t RunListOffset = 0;
    std::uint16_t CompressionUnit = 0;
    std::int64_t DataSize = 0;
};

struct TSTANDARD_INFORMATION {
    std::uint64_t CreationTime = 0;
    std::uint64_t ModificationTime = 0;
};

struct TFILE_NAME_ATTRIBUTE {
    std::uint8_t FileNameLength = 0;
    std::uint8_t FileNameNamespace = 0;
    std::u16string FileName;  // the units present, at most FileNameLength
};

// Finds the first attribute of the given type in a record image (which begins
// with "FILE": the walk starts at its FirstAttributeOffset) or in a run of
// attributes (the walk starts at offset 0), and returns a copy of it:
// AttributeLength bytes, cut at the end of the image. With namespaceRule on and
// type 0x30, file names in the DOS namespace (and unknown namespaces 4..255)
// are passed over. Empty when the type is absent, the walk meets the end
// marker, fewer than 8 bytes remain, or an attribute's length has 0 in its
// low 16 bits (the walk would not advance).
TDynamicCharArray FindAttribute(TByteView image, std::uint32_t type, bool namespaceRule);

// The same lookup without the copy: a view of the attribute inside the image
// (valid while the image is), empty when nothing is found. For hot loops.
TByteView LocateAttribute(TByteView image, std::uint32_t type, bool namespaceRule);

std::optional<TATTRIBUTE_HEADER> DecodeAttributeHeader(TByteView attr);
std::optional<TRESIDENT_ATTRIBUTE> DecodeResident(TByteView attr);
std::optional<TNONRESIDENT_ATTRIBUTE> DecodeNonResident(TByteView attr);

// The creation and modification times at fixed offsets 0x18 and 0x20.
std::optional<TSTANDARD_INFORMATION> DecodeStandardInformation(TByteView attr);

// The name at fixed offset 0x5A; its length byte (0x58) and namespace byte
// (0x59) must be present. The name is cut at the end of the image, an odd
// trailing byte dropped.
std::optional<TFILE_NAME_ATTRIBUTE> DecodeFileName(TByteView attr);

// The size a $DATA attribute reports, from the field its NonResident byte
// selects: the 4 x (NonResident + 1) bytes at 16 + 32 x NonResident, little
// endian into a signed 64-bit value, only the first 8 bytes of a longer field
// counting and the bytes past the end of the image simply absent. That is
// ValueLength for a resident attribute and DataSize for a non-resident one.
// Empty when the NonResident byte itself is missing.
std::optional<std::int64_t> ReportedDataSize(TByteView attr);

}  // namespace ntfs
