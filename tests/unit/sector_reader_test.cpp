// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

#include "platform/sector_reader.h"

namespace {

using platform::TSectorReader;

// How a device answers a request that runs past its last sector.
enum class TEndMode { Truncate, Fail };

// A device as strict as a Windows raw volume handle: a request whose
// position, size or buffer address is not a whole number of sectors fails
// (and is counted). Bytes are a pattern of their position; sectors listed
// as bad fail every request that touches them.
class TStrictDevice : public platform::TSectorDevice {
public:
    TStrictDevice(std::uint64_t size, std::uint32_t sector, TEndMode mode)
        : m_size(size), m_sector(sector), m_mode(mode) {}

    static std::uint8_t ByteAt(std::uint64_t pos) {
        return static_cast<std::uint8_t>((pos * 131) ^ (pos >> 9));
    }

    std::size_t ReadSectors(std::uint64_t offset, std::span<std::uint8_t> out) override {
        ++Requests;
        LargestRequest = std::max(LargestRequest, out.size());
        const auto address = reinterpret_cast<std::uintptr_t>(out.data());
        if (offset % m_sector != 0 || out.size() % m_sector != 0 || address % m_sector != 0 || out.empty()) {
            ++Misaligned;
            return 0;
        }
        if (offset >= m_size) return 0;
        std::uint64_t end = offset + out.size();
        if (end > m_size) {
            if (m_mode == TEndMode::Fail) return 0;
            end = m_size;
        }
        for (std::uint64_t s = offset / m_sector; s < end / m_sector; ++s)
            if (Bad.count(s) != 0) return 0;
        for (std::uint64_t p = offset; p < end; ++p) out[static_cast<std::size_t>(p - offset)] = ByteAt(p);
        return static_cast<std::size_t>(end - offset);
    }

    std::set<std::uint64_t> Bad;
    int Requests = 0;
    int Misaligned = 0;
    std::size_t LargestRequest = 0;

private:
    std::uint64_t m_size;
    std::uint32_t m_sector;
    TEndMode m_mode;
};

// Reads [offset, offset + length) through the reader, into a buffer that
// starts at an odd address, and checks every byte against the pattern.
void ExpectRead(TSectorReader& reader, std::uint64_t offset, std::size_t length, std::size_t expectedBytes) {
    std::vector<std::uint8_t> storage(length + 1, 0xEE);
    const std::span<std::uint8_t> out(storage.data() + 1, length);
    const std::size_t got = reader.ReadAt(offset, out);
    ASSERT_EQ(got, expectedBytes) << "offset " << offset << " length " << length;
    for (std::size_t i = 0; i < got; ++i)
        ASSERT_EQ(out[i], TStrictDevice::ByteAt(offset + i)) << "offset " << offset << " byte " << i;
    for (std::size_t i = got; i < length; ++i) ASSERT_EQ(out[i], 0xEE) << "byte past the read was changed";
}

TEST(SectorReader, AnyByteRangeBecomesWholeAlignedSectorRequests) {
    // 512-byte sectors on a volume whose size is not a multiple of 4096, and
    // 4096-byte sectors; a device that cuts a request at its end and one
    // that fails it whole.
    struct TCase {
        std::uint32_t sector;
        std::uint64_t size;
        TEndMode mode;
    };
    for (const TCase c : {TCase{512, 3 * 1048576 + 5 * 512, TEndMode::Truncate},
                          TCase{512, 3 * 1048576 + 5 * 512, TEndMode::Fail},
                          TCase{4096, 3 * 1048576 + 3 * 4096, TEndMode::Truncate},
                          TCase{4096, 3 * 1048576 + 3 * 4096, TEndMode::Fail}}) {
        SCOPED_TRACE(testing::Message()
                     << "sector " << c.sector << (c.mode == TEndMode::Fail ? " fail" : " truncate"));
        TStrictDevice device(c.size, c.sector, c.mode);
        TSectorReader reader(device, c.sector);
        const std::uint64_t size = c.size;
        ExpectRead(reader, 0, 512, 512);                  // the boot sector
        ExpectRead(reader, 0, 4096, 4096);                // ... as it is read
        ExpectRead(reader, 16384 + 1024, 1024, 1024);     // one record
        ExpectRead(reader, 4096 * 3 + 7, 10000, 10000);   // odd position and length
        ExpectRead(reader, 1048576 - 100, 200, 200);      // across a request boundary
        ExpectRead(reader, 4096, 4u << 20, size - 4096);  // a scan chunk running off the end
        ExpectRead(reader, size - 1024, 1024, 1024);      // the last record, exactly
        ExpectRead(reader, size - 1024, 4096, 1024);      // the last record and beyond
        ExpectRead(reader, size - 1, 10, 1);              // the very last byte
        ExpectRead(reader, size, 512, 0);                 // at the end
        ExpectRead(reader, size + 12345, 512, 0);         // past it
        EXPECT_EQ(device.Misaligned, 0);
        EXPECT_LE(device.LargestRequest, TSectorReader::kMaxRequest);
    }
}

TEST(SectorReader, StopsBeforeAnUnreadableSector) {
    TStrictDevice device(2 * 1048576, 512, TEndMode::Fail);
    device.Bad = {1000};  // bytes 512000..512511
    TSectorReader reader(device, 512);
    ExpectRead(reader, 0, 1048576, 512000);
    ExpectRead(reader, 511000, 3000, 1000);
    ExpectRead(reader, 512000, 512, 0);
    ExpectRead(reader, 512512, 4096, 4096);  // the sector after it reads
    EXPECT_EQ(device.Misaligned, 0);
}

TEST(SectorReader, BootSectorReadOnA4kDiskIsOneWholeSector) {
    TStrictDevice device(1048576, 4096, TEndMode::Fail);
    TSectorReader reader(device, 4096);
    ExpectRead(reader, 0, 4096, 4096);
    EXPECT_EQ(device.Requests, 1);
    EXPECT_EQ(device.Misaligned, 0);
}

TEST(SectorReader, SectorSizesADeviceCannotHaveAreTakenAs512) {
    TStrictDevice device(1048576, 512, TEndMode::Fail);
    for (std::uint32_t bogus : {0u, 1u, 256u, 520u, 3000u, 131072u}) {
        TSectorReader reader(device, bogus);
        EXPECT_EQ(reader.SectorSize(), 512u) << bogus;
        EXPECT_EQ(reader.Unit(), 4096u) << bogus;
    }
    TSectorReader big(device, 65536);
    EXPECT_EQ(big.Unit(), 65536u);
}

TEST(SectorReader, RangesThatWouldWrapReadNothing) {
    TStrictDevice device(1048576, 512, TEndMode::Fail);
    TSectorReader reader(device, 512);
    std::vector<std::uint8_t> out(4096);
    EXPECT_EQ(reader.ReadAt(UINT64_MAX - 100, out), 0u);
    EXPECT_EQ(reader.ReadAt(UINT64_MAX - 5000, out), 0u);
    EXPECT_EQ(reader.ReadAt(0, {}), 0u);
    EXPECT_EQ(device.Misaligned, 0);
}

}  // namespace
