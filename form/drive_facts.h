// SPDX-License-Identifier: GPL-3.0-or-later
// The drive's facts and the row count as the window's labels show them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace form {

// UTF-8 to UTF-16 for texts from the engine (labels, names, dates).
std::u16string Utf16(std::string_view utf8);

std::u16string DriveNameText(std::string_view labelUtf8);  // "Driver Name: " + label
std::u16string SerialText(std::uint64_t serial);           // "SN" + upper-case hex, at least 8 digits
std::u16string SizeText(std::uint64_t volumeBytes);        // "Size : N MB"
std::u16string MftLocationText(
    std::uint64_t mftByteOffset);                    // "MFT位置 : 0x" + upper-case hex, at least 2 digits
std::u16string MftSizeText(std::uint64_t mftBytes);  // "MFT大小 : N Byte"
// The same with " (MFTMirr)" when fromMirror: damaged first records were read from the mirror.
std::u16string MftSizeText(std::uint64_t mftBytes, bool fromMirror);
std::u16string RecordCountText(std::uint64_t records);     // "File QTY : N"
std::u16string ProbeNameText(std::string_view labelUtf8);  // "Name: " + label
std::u16string ProbeSerialText(std::uint64_t serial);      // "SN: " + upper-case hex, at least 8 digits
std::u16string DeletedCountText(std::uint64_t rows);       // "Deleted QTY：N"

// The recovery's closing message: the completion line, and when files were
// not written a second line "N of M files could not be written."
std::u16string RecoveryDoneText(std::uint64_t notWritten, std::uint64_t attempted);

}  // namespace form
