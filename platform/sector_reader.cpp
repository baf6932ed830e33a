// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sector_reader.h"

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

constexpr std::uint32_t kMinSector = 512;
constexpr std::uint32_t kMaxSector = 65536;
constexpr std::uint32_t kMinUnit = 4096;

std::uint32_t SaneSectorSize(std::uint32_t sectorSize) {
    const bool powerOfTwo = sectorSize != 0 && (sectorSize & (sectorSize - 1)) == 0;
    if (!powerOfTwo || sectorSize < kMinSector || sectorSize > kMaxSector) return kMinSector;
    return sectorSize;
}

}  // namespace

static_assert(TSectorReader::kMaxRequest % kMaxSector == 0);
static_assert(TSectorReader::kBufferAlignment >= kMaxSector);

TSectorReader::TSectorReader(TSectorDevice& device, std::uint32_t sectorSize)
    : m_device(device),
      m_sector(SaneSectorSize(sectorSize)),
      m_unit(std::max(m_sector, kMinUnit)),
      m_buffer(
          static_cast<std::uint8_t*>(::operator new[](kMaxRequest, std::align_val_t{kBufferAlignment}))) {}

std::size_t TSectorReader::Fill(std::uint64_t start, std::size_t length, std::size_t wanted) {
    std::size_t good = std::min(m_device.ReadSectors(start, {m_buffer.get(), length}), length);
    if (good == length) return good;
    // Stopped short: the end of the volume inside this request, or a sector
    // that cannot be read. Whatever came in whole sectors stands; go on one
    // sector at a time, from the first sector wanted, until one fails.
    good -= good % m_sector;
    good = std::max(good, wanted - wanted % m_sector);
    while (good < length) {
        const std::size_t got = m_device.ReadSectors(start + good, {m_buffer.get() + good, m_sector});
        if (got != m_sector) break;
        good += m_sector;
    }
    return good;
}

std::size_t TSectorReader::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) {
    // The last byte wanted, rounded up to a unit, must be a position too.
    if (out.empty() || offset > UINT64_MAX - out.size() - m_unit) return 0;
    const std::uint64_t end = offset + out.size();
    std::size_t done = 0;
    while (done < out.size()) {
        const std::uint64_t pos = offset + done;
        const std::uint64_t start = pos - pos % m_unit;
        const std::uint64_t alignedEnd = (end + m_unit - 1) / m_unit * m_unit;
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::uint64_t>(alignedEnd - start, kMaxRequest));
        const std::size_t skip = static_cast<std::size_t>(pos - start);
        const std::size_t good = Fill(start, length, skip);
        if (good <= skip) break;
        const std::size_t n = std::min(good - skip, out.size() - done);
        std::memcpy(out.data() + done, m_buffer.get() + skip, n);
        done += n;
        if (good < length) break;
    }
    return done;
}

}  // namespace platform
