// SPDX-License-Identifier: GPL-3.0-or-later
// Bounds-checked little-endian access to on-disk bytes.
//
// Everything read from a volume is untrusted: a record may be torn, reused or
// crafted. Every field therefore goes through TByteView, which answers
// "nothing" instead of reading past the end, and every size computed from a
// field goes through the checked arithmetic below instead of wrapping.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace ntfs {

class TByteView {
public:
    TByteView() = default;
    TByteView(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    TByteView(std::span<const std::uint8_t> s) : m_data(s.data()), m_size(s.size()) {}  // NOLINT

    const std::uint8_t* Data() const { return m_data; }
    std::size_t Size() const { return m_size; }
    bool Empty() const { return m_size == 0; }

    // True when n bytes starting at off lie wholly inside the view.
    bool Has(std::size_t off, std::size_t n) const { return off <= m_size && n <= m_size - off; }

    std::optional<std::uint8_t> U8(std::size_t off) const {
        if (!Has(off, 1)) return std::nullopt;
        return m_data[off];
    }
    std::optional<std::uint16_t> U16(std::size_t off) const {
        if (!Has(off, 2)) return std::nullopt;
        return static_cast<std::uint16_t>(m_data[off] | (m_data[off + 1] << 8));
    }
    std::optional<std::uint32_t> U32(std::size_t off) const {
        if (!Has(off, 4)) return std::nullopt;
        return static_cast<std::uint32_t>(LoadLe(off, 4));
    }
    std::optional<std::uint64_t> U64(std::size_t off) const {
        if (!Has(off, 8)) return std::nullopt;
        return LoadLe(off, 8);
    }
    std::optional<std::int64_t> I64(std::size_t off) const {
        auto v = U64(off);
        if (!v) return std::nullopt;
        return static_cast<std::int64_t>(*v);
    }

    // Up to 8 bytes as an unsigned little-endian value; the caller checks Has().
    std::uint64_t LoadLe(std::size_t off, std::size_t n) const {
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < n && i < 8; ++i) v |= std::uint64_t{m_data[off + i]} << (8 * i);
        return v;
    }

    // The bytes [off, off + n) cut at the end of the view (empty when off is past it).
    TByteView Sub(std::size_t off, std::size_t n) const {
        if (off >= m_size) return {};
        return {m_data + off, n < m_size - off ? n : m_size - off};
    }

    // Whether the view starts with the given ASCII bytes.
    bool StartsWith(const char* ascii, std::size_t n) const {
        if (!Has(0, n)) return false;
        for (std::size_t i = 0; i < n; ++i)
            if (m_data[i] != static_cast<std::uint8_t>(ascii[i])) return false;
        return true;
    }

private:
    const std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
};

inline std::optional<std::uint64_t> MulChecked(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > UINT64_MAX / a) return std::nullopt;
    return a * b;
}

inline std::optional<std::uint64_t> AddChecked(std::uint64_t a, std::uint64_t b) {
    if (b > UINT64_MAX - a) return std::nullopt;
    return a + b;
}

}  // namespace ntfs
