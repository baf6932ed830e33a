// SPDX-License-Identifier: GPL-3.0-or-later
// TDynamicCharArray: the growable, owning byte buffer that carries record and
// attribute images between the NTFS operations and their callers. An empty
// array means "nothing found".
#pragma once

#include <cstdint>
#include <vector>

#include "ntfs/byte_view.h"

namespace ntfs {

class TDynamicCharArray {
public:
    TDynamicCharArray() = default;
    explicit TDynamicCharArray(std::size_t size) : m_bytes(size, 0) {}
    TDynamicCharArray(const std::uint8_t* data, std::size_t size) : m_bytes(data, data + size) {}

    std::uint8_t* Data() { return m_bytes.data(); }
    const std::uint8_t* Data() const { return m_bytes.data(); }
    std::size_t Size() const { return m_bytes.size(); }
    bool Empty() const { return m_bytes.empty(); }
    void Resize(std::size_t size) { m_bytes.resize(size, 0); }
    void Clear() { m_bytes.clear(); }
    std::uint8_t& operator[](std::size_t i) { return m_bytes[i]; }
    const std::uint8_t& operator[](std::size_t i) const { return m_bytes[i]; }

    TByteView View() const { return {m_bytes.data(), m_bytes.size()}; }
    std::span<std::uint8_t> Span() { return {m_bytes.data(), m_bytes.size()}; }

private:
    std::vector<std::uint8_t> m_bytes;
};

}  // namespace ntfs
