// SPDX-License-Identifier: GPL-3.0-or-later
#include "ntfs/attribute.h"

#include "ntfs/file_record.h"

namespace ntfs {

TDynamicCharArray FindAttribute(TByteView image, std::uint32_t type, bool namespaceRule) {
    const TByteView found = LocateAttribute(image, type, namespaceRule);
    return TDynamicCharArray(found.Data(), found.Size());
}

TByteView LocateAttribute(TByteView image, std::uint32_t type, bool namespaceRule) {
    std::size_t off = 0;
    if (HasFileSignature(image)) {
        const auto first = image.U16(file_record::kFirstAttributeOffset);
        if (!first) return {};
        off = *first;
    }
    for (;;) {
        // Room for AttributeType and AttributeLength.
        if (!image.Has(off, 8)) return {};
        const std::uint32_t t = *image.U32(off + attribute::kType);
        if (t == attribute::kEnd) return {};
        const std::uint32_t length = *image.U32(off + attribute::kLength);
        const std::size_t step = length & 0xFFFF;
        // A zero step would never advance.
        if (step == 0) return {};
        if (t == type) {
            bool accepted = true;
            if (namespaceRule && type == attribute::kFileName) {
                const auto ns = image.U8(off + attribute::kFileNameNamespace);
                accepted = ns && (*ns == 0 || *ns == 1 || *ns == 3);
            }
            if (accepted) return image.Sub(off, length);
        }
        off += step;
    }
}

std::optional<TATTRIBUTE_HEADER> DecodeAttributeHeader(TByteView attr) {
    if (!attr.Has(0, attribute::kFlags + 2)) return std::nullopt;
    TATTRIBUTE_HEADER h;
    h.AttributeType = *attr.U32(attribute::kType);
    h.AttributeLength = *attr.U32(attribute::kLength);
    h.NonResident = *attr.U8(attribute::kNonResident);
    h.AttributeFlags = *attr.U16(attribute::kFlags);
    return h;
}

std::optional<TRESIDENT_ATTRIBUTE> DecodeResident(TByteView attr) {
    if (!attr.Has(0, attribute::kValueOffset + 2)) return std::nullopt;
    return TRESIDENT_ATTRIBUTE{*attr.U32(attribute::kValueLength), *attr.U16(attribute::kValueOffset)};
}

std::optional<TNONRESIDENT_ATTRIBUTE> DecodeNonResident(TByteView attr) {
    if (!attr.Has(0, attribute::kDataSize + 8)) return std::nullopt;
    TNONRESIDENT_ATTRIBUTE n;
    n.StartingVcn = *attr.I64(attribute::kStartingVcn);
    n.LastVcn = *attr.I64(attribute::kLastVcn);
    n.RunListOffset = *attr.U16(attribute::kRunListOffset);
    n.CompressionUnit = *attr.U16(attribute::kCompressionUnit);
    n.DataSize = *attr.I64(attribute::kDataSize);
    return n;
}

std::optional<TSTANDARD_INFORMATION> DecodeStandardInformation(TByteView attr) {
    if (!attr.Has(attribute::kCreationTime, 16)) return std::nullopt;
    return TSTANDARD_INFORMATION{*attr.U64(attribute::kCreationTime),
                                 *attr.U64(attribute::kModificationTime)};
}

std::optional<TFILE_NAME_ATTRIBUTE> DecodeFileName(TByteView attr) {
    if (!attr.Has(attribute::kFileNameNamespace, 1)) return std::nullopt;
    TFILE_NAME_ATTRIBUTE fn;
    fn.FileNameLength = *attr.U8(attribute::kFileNameLength);
    fn.FileNameNamespace = *attr.U8(attribute::kFileNameNamespace);
    const TByteView chars = attr.Sub(attribute::kFileNameChars, std::size_t{fn.FileNameLength} * 2);
    const std::size_t units = chars.Size() / 2;
    fn.FileName.resize(units);
    for (std::size_t i = 0; i < units; ++i) fn.FileName[i] = static_cast<char16_t>(*chars.U16(2 * i));
    return fn;
}

std::optional<std::int64_t> ReportedDataSize(TByteView attr) {
    const auto nonResident = attr.U8(attribute::kNonResident);
    if (!nonResident) return std::nullopt;
    const std::size_t off = 16 + std::size_t{32} * *nonResident;
    const std::size_t width = std::size_t{4} * (*nonResident + 1u);
    const TByteView field = attr.Sub(off, width < 8 ? width : 8);
    return static_cast<std::int64_t>(field.LoadLe(0, field.Size()));
}

}  // namespace ntfs
