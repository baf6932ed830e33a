// SPDX-License-Identifier: GPL-3.0-or-later
// A count of steps shown on a progress bar, whose range is an int: counts
// beyond it are shown divided, so the bar still ends exactly full.
#pragma once

#include <cstdint>
#include <limits>

namespace form {

class TBarScale {
public:
    explicit TBarScale(std::uint64_t steps = 0)
        : m_divisor(steps <= kLimit ? 1 : (steps - 1) / kLimit + 1),
          m_maximum(static_cast<int>(steps / m_divisor)) {}
    int Maximum() const { return m_maximum; }
    int Position(std::uint64_t done) const { return static_cast<int>(done / m_divisor); }

private:
    static constexpr std::uint64_t kLimit = static_cast<std::uint64_t>(std::numeric_limits<int>::max());
    std::uint64_t m_divisor;
    int m_maximum;
};

}  // namespace form
