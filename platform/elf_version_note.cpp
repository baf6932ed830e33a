// SPDX-License-Identifier: GPL-3.0-or-later
// Finding the version note in an ELF image. Every field is read through a
// bounds-checked reader in the byte order the image declares, so a truncated
// or hostile file yields "no version" and never a read past the buffer.
#include <cstring>
#include <string_view>

#include "platform/file_version.h"

namespace platform {

namespace {

namespace elf {
constexpr std::size_t kClass = 4;          // u8: 1 = 32-bit, 2 = 64-bit
constexpr std::size_t kData = 5;           // u8: 1 = little-endian, 2 = big-endian
constexpr std::uint32_t kSectionNote = 7;  // SHT_NOTE
constexpr std::uint32_t kSegmentNote = 4;  // PT_NOTE
}  // namespace elf

class TReader {
public:
    TReader(std::span<const std::byte> data, bool bigEndian) : m_data(data), m_big(bigEndian) {}

    bool Has(std::uint64_t off, std::uint64_t n) const {
        return off <= m_data.size() && n <= m_data.size() - off;
    }

    std::optional<std::uint64_t> Uint(std::uint64_t off, std::size_t width) const {
        if (!Has(off, width)) return std::nullopt;
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t at = m_big ? i : width - 1 - i;
            v = v << 8 | std::to_integer<std::uint64_t>(m_data[static_cast<std::size_t>(off) + at]);
        }
        return v;
    }

    std::span<const std::byte> Bytes(std::uint64_t off, std::uint64_t n) const {
        if (!Has(off, n)) return {};
        return m_data.subspan(static_cast<std::size_t>(off), static_cast<std::size_t>(n));
    }

private:
    std::span<const std::byte> m_data;
    bool m_big;
};

std::uint64_t Align4(std::uint64_t n) {
    return (n + 3) & ~std::uint64_t{3};
}

// Walks the notes in [off, off + size) and returns the version note's numbers.
std::optional<TFileVersion> ScanNotes(const TReader& r, std::uint64_t off, std::uint64_t size) {
    if (!r.Has(off, size)) return std::nullopt;
    const std::uint64_t end = off + size;
    while (end - off >= 12) {
        const auto nameSize = r.Uint(off, 4);
        const auto descSize = r.Uint(off + 4, 4);
        const auto type = r.Uint(off + 8, 4);
        if (!nameSize || !descSize || !type) return std::nullopt;
        const std::uint64_t nameAt = off + 12;
        const std::uint64_t descAt = nameAt + Align4(*nameSize);
        const std::uint64_t next = descAt + Align4(*descSize);
        if (next > end) return std::nullopt;  // a note that runs past its section
        const auto name = r.Bytes(nameAt, *nameSize);
        if (*type == kVersionNoteType && *descSize == 8 && name.size() == sizeof kVersionNoteOwner &&
            std::memcmp(name.data(), kVersionNoteOwner, sizeof kVersionNoteOwner) == 0) {
            TFileVersion v{};
            for (std::size_t i = 0; i < v.size(); ++i) {
                v[i] = static_cast<std::uint16_t>(*r.Uint(descAt + 2 * i, 2));
            }
            return v;
        }
        off = next;
    }
    return std::nullopt;
}

}  // namespace

std::optional<TFileVersion> FindElfVersionNote(std::span<const std::byte> image) {
    static constexpr unsigned char kMagic[4] = {0x7F, 'E', 'L', 'F'};
    if (image.size() < 16 || std::memcmp(image.data(), kMagic, 4) != 0) return std::nullopt;
    const auto cls = std::to_integer<int>(image[elf::kClass]);
    const auto data = std::to_integer<int>(image[elf::kData]);
    if ((cls != 1 && cls != 2) || (data != 1 && data != 2)) return std::nullopt;
    const bool wide = cls == 2;
    const TReader r(image, data == 2);
    const std::size_t word = wide ? 8 : 4;

    // Header fields whose offsets differ between the two classes.
    const auto phOff = r.Uint(wide ? 0x20 : 0x1C, word);
    const auto shOff = r.Uint(wide ? 0x28 : 0x20, word);
    const auto phEntSize = r.Uint(wide ? 0x36 : 0x2A, 2);
    const auto phNum = r.Uint(wide ? 0x38 : 0x2C, 2);
    const auto shEntSize = r.Uint(wide ? 0x3A : 0x2E, 2);
    const auto shNum = r.Uint(wide ? 0x3C : 0x30, 2);
    if (!phOff || !shOff || !phEntSize || !phNum || !shEntSize || !shNum) return std::nullopt;

    // Section header: sh_type at 4; sh_offset and sh_size at 0x18/0x20 (64) or 0x10/0x14 (32).
    if (*shOff != 0 && *shEntSize >= (wide ? 0x28u : 0x18u)) {
        for (std::uint64_t i = 0; i < *shNum; ++i) {
            const std::uint64_t at = *shOff + i * *shEntSize;
            const auto type = r.Uint(at + 4, 4);
            if (!type) break;
            if (*type != elf::kSectionNote) continue;
            const auto off = r.Uint(at + (wide ? 0x18 : 0x10), word);
            const auto size = r.Uint(at + (wide ? 0x20 : 0x14), word);
            if (!off || !size) continue;
            if (auto v = ScanNotes(r, *off, *size)) return v;
        }
    }
    // Program header: p_type at 0; p_offset at 8 (64) or 4 (32); p_filesz at 0x20 (64) or 0x10 (32).
    if (*phOff != 0 && *phEntSize >= (wide ? 0x38u : 0x20u)) {
        for (std::uint64_t i = 0; i < *phNum; ++i) {
            const std::uint64_t at = *phOff + i * *phEntSize;
            const auto type = r.Uint(at, 4);
            if (!type) break;
            if (*type != elf::kSegmentNote) continue;
            const auto off = r.Uint(at + (wide ? 8 : 4), word);
            const auto size = r.Uint(at + (wide ? 0x20 : 0x10), word);
            if (!off || !size) continue;
            if (auto v = ScanNotes(r, *off, *size)) return v;
        }
    }
    return std::nullopt;
}

}  // namespace platform
