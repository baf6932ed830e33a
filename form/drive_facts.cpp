// SPDX-License-Identifier: GPL-3.0-or-later
#include "form/drive_facts.h"

#include "form/texts.h"
#include "form/toolkit_free.h"
#include "ntfs/text.h"

namespace form {

namespace {

std::u16string Ascii(std::string_view text) {
    return std::u16string(text.begin(), text.end());
}

std::u16string Decimal(std::uint64_t value) {
    return Ascii(std::to_string(value));
}

std::u16string HexUpper(std::uint64_t value, std::size_t minDigits) {
    std::u16string digits;
    do {
        digits.insert(digits.begin(), u"0123456789ABCDEF"[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    if (digits.size() < minDigits) digits.insert(0, minDigits - digits.size(), u'0');
    return digits;
}

std::u16string Join(std::u16string_view a, std::u16string_view b, std::u16string_view c = {}) {
    std::u16string out;
    out.reserve(a.size() + b.size() + c.size());
    out.append(a).append(b).append(c);
    return out;
}

}  // namespace

std::u16string Utf16(std::string_view utf8) {
    return ntfs::Utf8ToUtf16(utf8);
}

std::u16string DriveNameText(std::string_view labelUtf8) {
    return Join(texts::kDriveNamePrefix, Utf16(labelUtf8));
}

std::u16string SerialText(std::uint64_t serial) {
    return Join(texts::kSerialPrefix, HexUpper(serial, 8));
}

std::u16string ProbeNameText(std::string_view labelUtf8) {
    return Join(texts::kProbeNamePrefix, Utf16(labelUtf8));
}

std::u16string ProbeSerialText(std::uint64_t serial) {
    return Join(texts::kProbeSerialPrefix, HexUpper(serial, 8));
}

std::u16string SizeText(std::uint64_t volumeBytes) {
    // Signed 64-bit arithmetic, each division truncating: a damaged sector
    // count that wrapped shows as the negative number it became.
    const std::int64_t mb = static_cast<std::int64_t>(volumeBytes) / 1024 / 1024;
    return Join(texts::kSizePrefix, Ascii(std::to_string(mb)), texts::kSizeSuffix);
}

std::u16string MftLocationText(std::uint64_t mftByteOffset) {
    return Join(texts::kMftLocationPrefix, HexUpper(mftByteOffset, 2));
}

std::u16string MftSizeText(std::uint64_t mftBytes) {
    return Join(texts::kMftSizePrefix, Decimal(mftBytes), texts::kMftSizeSuffix);
}

std::u16string MftSizeText(std::uint64_t mftBytes, bool fromMirror) {
    std::u16string text = MftSizeText(mftBytes);
    if (fromMirror) text += texts::kMftFromMirrorSuffix;
    return text;
}

std::u16string RecordCountText(std::uint64_t records) {
    return Join(texts::kRecordCountPrefix, Decimal(records));
}

std::u16string DeletedCountText(std::uint64_t rows) {
    return Join(texts::kDeletedCountPrefix, Decimal(rows));
}

std::u16string RecoveryDoneText(std::uint64_t notWritten, std::uint64_t attempted) {
    std::u16string text(texts::kRecoverDone);
    if (notWritten == 0) return text;
    text.append(u"\n")
        .append(Decimal(notWritten))
        .append(texts::kNotWrittenOf)
        .append(Decimal(attempted))
        .append(texts::kNotWrittenTail);
    return text;
}

}  // namespace form

std::u16string form::texts::Fill(std::u16string_view pattern, std::u16string_view value) {
    std::u16string out(pattern);
    const auto at = out.find(u"%1");
    if (at != std::u16string::npos) out.replace(at, 2, value);
    return out;
}
