// SPDX-License-Identifier: GPL-3.0-or-later
// Byte-range reads from a device that serves only whole sectors.
//
// A Windows raw volume handle ("\\.\D:") is unbuffered: a read must start at
// a multiple of the sector size, ask for a whole number of sectors, and land
// in memory aligned to the sector size; anything else fails with
// ERROR_INVALID_PARAMETER. The engine asks for what the NTFS structures need
// (a 1024-byte record, a cluster run, a 4 MiB stretch of the MFT), so this
// layer widens each request to whole units, reads into an aligned buffer of
// its own and copies the wanted bytes out.
//
// The unit is 4096 bytes (or the sector size when that is larger): a whole
// number of sectors on 512-byte and on 4096-byte-sector disks alike. Where
// the device stops short (the volume's last bytes do not fill a 4096-byte
// unit, or a sector cannot be read) the rest is read one sector at a time up
// to the first sector that fails, so a read returns every byte the device
// can give before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>

namespace platform {

// The device side of a TSectorReader: one positioned read whose offset and
// size are whole sectors, into memory aligned to the sector size. Returns the
// bytes delivered: out.size(), fewer at the end of the device, 0 on failure.
class TSectorDevice {
public:
    virtual ~TSectorDevice() = default;
    virtual std::size_t ReadSectors(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
};

class TSectorReader {
public:
    // Largest single request sent to the device (and the size of the
    // aligned buffer); a multiple of every unit.
    static constexpr std::size_t kMaxRequest = std::size_t{1} << 20;
    // Memory alignment of the buffer: enough for any sector size taken.
    static constexpr std::size_t kBufferAlignment = 65536;

    // sectorSize: the device's logical sector size. A value that is not a
    // power of two from 512 to 65536 (a device that would not tell) is
    // taken as 512.
    TSectorReader(TSectorDevice& device, std::uint32_t sectorSize);

    // Positioned read of up to out.size() bytes at any offset. Returns the
    // bytes read: fewer at the end of the device or before a sector that
    // cannot be read; the bytes not read are left as they were.
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out);

    std::uint32_t SectorSize() const { return m_sector; }
    std::uint32_t Unit() const { return m_unit; }

private:
    // Fills m_buffer[0, length) from `start` (both whole units), of which
    // the bytes from `wanted` on are needed. Returns where the good bytes
    // end: m_buffer[wanted, result) holds the device's bytes.
    std::size_t Fill(std::uint64_t start, std::size_t length, std::size_t wanted);

    struct TAlignedDelete {
        void operator()(std::uint8_t* p) const { ::operator delete[](p, std::align_val_t{kBufferAlignment}); }
    };

    TSectorDevice& m_device;
    std::uint32_t m_sector;
    std::uint32_t m_unit;
    std::unique_ptr<std::uint8_t[], TAlignedDelete> m_buffer;
};

}  // namespace platform
