// SPDX-License-Identifier: GPL-3.0-or-later
#include "ntfs/file_record.h"

namespace ntfs {

bool HasFileSignature(TByteView image) {
    return image.StartsWith("FILE", 4);
}

std::optional<TFILE_RECORD_HEADER> DecodeRecordHeader(TByteView image) {
    if (image.Size() < file_record::kHeaderSize || !HasFileSignature(image)) return std::nullopt;
    TFILE_RECORD_HEADER h;
    h.UsaOffset = *image.U16(file_record::kUsaOffset);
    h.UsaCount = *image.U16(file_record::kUsaCount);
    h.FirstAttributeOffset = *image.U16(file_record::kFirstAttributeOffset);
    h.RecordFlags = *image.U16(file_record::kRecordFlags);
    return h;
}

std::optional<std::uint32_t> SelfNumber(TByteView image) {
    const auto usa = image.U16(file_record::kUsaOffset);
    if (!usa || *usa < file_record::kUsaOffsetWithSelfNumber) return std::nullopt;
    return image.U32(file_record::kSelfNumber);
}

bool ApplyFixups(std::span<std::uint8_t> image, const TDISK_INFORMATION& /*geometry*/) {
    const TByteView view(image.data(), image.size());
    const auto header = DecodeRecordHeader(view);
    if (!header) return false;

    const std::size_t usa = header->UsaOffset;
    const std::size_t count = header->UsaCount;
    // One entry for the sequence number and one for every stretch. A count
    // that says fewer would leave the later stretches unchecked, a torn
    // record read as whole; one that says more names stretch ends the record
    // does not have. Either is damage, judged before anything changes.
    if (image.size() % file_record::kFixupStride != 0 ||
        count != image.size() / file_record::kFixupStride + 1)
        return false;
    // The whole array must lie inside the image before anything changes.
    if (!view.Has(usa, 2 * count)) return false;

    const std::uint8_t u0 = image[usa];
    const std::uint8_t u1 = image[usa + 1];
    for (std::size_t i = 1; i < count; ++i) {
        const std::size_t end = i * file_record::kFixupStride;
        // The stretch end must lie inside the image.
        if (end > image.size()) return false;
        if (image[end - 2] != u0 || image[end - 1] != u1) return false;
        image[end - 2] = image[usa + 2 * i];
        image[end - 1] = image[usa + 2 * i + 1];
    }
    return true;
}

}  // namespace ntfs
