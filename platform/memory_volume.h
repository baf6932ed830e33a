// SPDX-License-Identifier: GPL-3.0-or-later
// In-memory volumes for tests and fuzzing: a byte vector served as a volume,
// and one that fails after a number of reads.
#pragma once

#include <algorithm>
#include <vector>

#include "platform/raw_volume.h"

namespace platform {

class TMemoryVolume : public TRawVolume {
public:
    explicit TMemoryVolume(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
        ++m_reads;
        if (offset >= m_bytes.size()) return 0;
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), m_bytes.size() - offset));
        std::copy_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(offset), n, out.begin());
        return n;
    }
    std::uint64_t Size() const override { return m_bytes.size(); }
    std::vector<std::uint8_t>& Bytes() { return m_bytes; }
    std::size_t Reads() const { return m_reads; }

private:
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_reads = 0;
};

// Serves reads from an inner volume until `goodReads` reads have been made,
// then fails every further read.
class TFailingVolume : public TRawVolume {
public:
    TFailingVolume(TRawVolume& inner, std::size_t goodReads) : m_inner(inner), m_left(goodReads) {}
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
        if (m_left == 0) return 0;
        --m_left;
        return m_inner.ReadAt(offset, out);
    }
    std::uint64_t Size() const override { return m_inner.Size(); }

private:
    TRawVolume& m_inner;
    std::size_t m_left;
};

}  // namespace platform
