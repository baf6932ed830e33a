// SPDX-License-Identifier: GPL-3.0-or-later
#include "ntfs/record_matcher.h"

#include "ntfs/file_record.h"

namespace ntfs {

namespace {

constexpr std::size_t kUsedSize = 0x18;  // u32: bytes of the record in use

// Whether every stretch of the record ends in the update sequence number;
// the array is known to lie inside the record.
bool StretchesEndInSequence(TByteView record, std::size_t usa, std::size_t stretches) {
    const std::uint16_t sequence = *record.U16(usa);
    for (std::size_t i = 1; i <= stretches; ++i) {
        if (*record.U16(i * record_matcher::kBoundary - 2) != sequence) return false;
    }
    return true;
}

}  // namespace

std::optional<TFoundRecord> MatchRecord(TByteView bytes, std::uint64_t absoluteOffset) {
    if (!HasFileSignature(bytes) || !bytes.Has(0, file_record::kHeaderSize)) return std::nullopt;
    const std::uint16_t usa = *bytes.U16(file_record::kUsaOffset);
    const std::uint16_t count = *bytes.U16(file_record::kUsaCount);
    const std::uint32_t size = static_cast<std::uint32_t>(count - 1) * record_matcher::kBoundary;
    if (count < 2 || (size != record_matcher::kRecordSizes[0] && size != record_matcher::kRecordSizes[1]))
        return std::nullopt;
    if (!bytes.Has(0, size)) return std::nullopt;
    const TByteView record = bytes.Sub(0, size);
    if (*record.U32(file_record::kAllocatedSize) != size) return std::nullopt;
    const std::uint32_t used = *record.U32(kUsedSize);
    if (used > size || used < file_record::kHeaderSize) return std::nullopt;
    // The array lies past the fixed header fields it may not overwrite, is
    // u16-aligned, and ends before the first attribute.
    const std::size_t usaEnd = std::size_t{usa} + 2u * count;
    const std::uint16_t firstAttribute = *record.U16(file_record::kFirstAttributeOffset);
    if (usa < 0x28 || usa % 2 != 0 || usaEnd > firstAttribute || firstAttribute >= used) return std::nullopt;
    if (!StretchesEndInSequence(record, usa, count - 1u)) return std::nullopt;

    TFoundRecord found;
    found.ByteOffset = absoluteOffset;
    found.RecordSize = size;
    found.Lsn = *record.U64(file_record::kLogSequenceNumber);
    found.SequenceNumber = *record.U16(file_record::kSequenceNumber);
    found.Flags = *record.U16(file_record::kRecordFlags);
    if (const auto self = SelfNumber(record)) {
        found.SelfNumber = *self;
        found.HasSelfNumber = true;
    }
    return found;
}

std::size_t MatchRecords(TByteView buffer, std::uint64_t absoluteOffset, bool last,
                         const TFoundRecordSink& sink) {
    constexpr std::size_t kStep = record_matcher::kBoundary;
    const std::size_t needed = last ? record_matcher::kRecordSizes[0] : record_matcher::kMaxRecordSize;
    // The first boundary at or after the buffer's first byte.
    const std::size_t misalignment = static_cast<std::size_t>(absoluteOffset % kStep);
    std::size_t at = misalignment == 0 ? 0 : kStep - misalignment;
    for (; buffer.Has(at, needed); at += kStep) {
        // Most boundaries are not records: the signature alone rules them out.
        if (buffer.Data()[at] != 'F') continue;
        if (auto found = MatchRecord(buffer.Sub(at, record_matcher::kMaxRecordSize), absoluteOffset + at))
            sink(*found);
    }
    return at < buffer.Size() ? at : buffer.Size();
}

}  // namespace ntfs
