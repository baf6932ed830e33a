// SPDX-License-Identifier: GPL-3.0-or-later
// A read-only window onto a byte range of another volume: one partition of a
// whole-disk image or device, seen as a volume of its own, so that every byte
// position above it stays relative to the partition's first byte.
#pragma once

#include <algorithm>
#include <memory>

#include "platform/raw_volume.h"

namespace platform {

class TWindowVolume : public TRawVolume {
public:
    TWindowVolume(std::unique_ptr<TRawVolume> disk, std::uint64_t start, std::uint64_t size)
        : m_disk(std::move(disk)), m_start(start), m_size(size) {}
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
        // Reads never reach past the window, nor wrap around 64 bits.
        if (offset >= m_size) return 0;
        const std::uint64_t n = std::min<std::uint64_t>(out.size(), m_size - offset);
        if (m_start > UINT64_MAX - offset) return 0;
        return m_disk->ReadAt(m_start + offset, out.first(static_cast<std::size_t>(n)));
    }
    std::uint64_t Size() const override { return m_size; }
    bool AllowsConcurrentReads() const override { return m_disk->AllowsConcurrentReads(); }
    std::uint64_t Start() const { return m_start; }

private:
    std::unique_ptr<TRawVolume> m_disk;
    std::uint64_t m_start;
    std::uint64_t m_size;
};

// The same window onto a volume it does not own (a file system a deep scan
// found somewhere on a whole source).
class TSpanVolume : public TRawVolume {
public:
    TSpanVolume(TRawVolume& disk, std::uint64_t start, std::uint64_t size)
        : m_disk(disk), m_start(start), m_size(size) {}
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
        if (offset >= m_size) return 0;
        const std::uint64_t n = std::min<std::uint64_t>(out.size(), m_size - offset);
        if (m_start > UINT64_MAX - offset) return 0;
        return m_disk.ReadAt(m_start + offset, out.first(static_cast<std::size_t>(n)));
    }
    std::uint64_t Size() const override { return m_size; }
    bool AllowsConcurrentReads() const override { return m_disk.AllowsConcurrentReads(); }

private:
    TRawVolume& m_disk;
    std::uint64_t m_start;
    std::uint64_t m_size;
};

}  // namespace platform
