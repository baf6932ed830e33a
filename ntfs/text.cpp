// SPDX-License-Identifier: GPL-3.0-or-later
#include "ntfs/text.h"

namespace ntfs {

std::string HexUpper(std::uint64_t value, int minDigits) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    char buf[16];
    int n = 0;
    do {
        buf[n++] = kDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    std::string out;
    for (int i = n; i < minDigits; ++i) out.push_back('0');
    while (n > 0) out.push_back(buf[--n]);
    return out;
}

namespace {
void PutUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}
}  // namespace

std::u32string Utf16ToUtf32(std::u16string_view units) {
    std::u32string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            out.push_back(0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(units[i + 1]) - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            out.push_back(0xFFFD);
        } else {
            out.push_back(u);
        }
    }
    return out;
}

std::string Utf32ToUtf8(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char32_t cp : text) PutUtf8(out, cp);
    return out;
}

std::string Utf16ToUtf8(std::u16string_view units) {
    std::string out;
    Utf16ToUtf8(units, out);
    return out;
}

void Utf16ToUtf8(std::u16string_view units, std::string& out) {
    // Most names are ASCII: one byte per unit, no detour through UTF-32.
    out.resize(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (units[i] >= 0x80) {
            out = Utf32ToUtf8(Utf16ToUtf32(units));
            return;
        }
        out[i] = static_cast<char>(units[i]);
    }
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        char32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c >> 5) == 0x6) {
            len = 2;
        } else if ((c >> 4) == 0xE) {
            len = 3;
        } else if ((c >> 3) == 0x1E) {
            len = 4;
        }
        if (len > 1) {
            bool ok = i + len <= text.size();
            char32_t v = c & (0x7F >> len);
            for (std::size_t k = 1; ok && k < len; ++k) {
                const auto cc = static_cast<unsigned char>(text[i + k]);
                if ((cc >> 6) != 0x2) ok = false;
                v = (v << 6) | (cc & 0x3F);
            }
            static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
            if (ok && v >= kMin[len] && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
                cp = v;
            } else {
                len = 1;
            }
        }
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

}  // namespace ntfs
