// SPDX-License-Identifier: GPL-3.0-or-later
// SHA-256 of the downloaded executable, computed while it is written, so a
// file that does not match the published digest is never swapped in.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace update {

class TSha256 {
public:
    TSha256();
    void Add(std::span<const std::uint8_t> bytes);
    std::array<std::uint8_t, 32> Finish();

private:
    void Block(const std::uint8_t* block);

    std::array<std::uint32_t, 8> m_state;
    std::array<std::uint8_t, 64> m_buffer{};
    std::size_t m_buffered = 0;
    std::uint64_t m_length = 0;  // bytes
};

}  // namespace update
