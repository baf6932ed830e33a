// SPDX-License-Identifier: GPL-3.0-or-later
// Small text helpers shared by the decoders and their users.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ntfs {

// Upper-case hexadecimal with at least minDigits digits, no prefix.
std::string HexUpper(std::uint64_t value, int minDigits);

// UTF-16 code units to UTF-8. A lone surrogate (legal in an NTFS name,
// which is just 16-bit units) becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view units);
// The same into out, reusing its storage (a walk fills the same rows again).
void Utf16ToUtf8(std::u16string_view units, std::string& out);

// UTF-8 to UTF-16; malformed sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

// UTF-16 code units to code points; a lone surrogate becomes U+FFFD.
std::u32string Utf16ToUtf32(std::u16string_view units);

// Code points to UTF-8.
std::string Utf32ToUtf8(std::u32string_view text);

}  // namespace ntfs
