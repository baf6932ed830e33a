// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <vector>

#include "ntfs/boot_sector.h"
#include "ntfs/text.h"
#include "scan/probe.h"
#include "unit/record_builder.h"

using testing_support::PutLe;

namespace {

struct TBootFields {
    std::uint16_t bytesPerSector = 512;
    std::uint8_t sectorsPerCluster = 8;
    std::uint32_t clustersPerRecord = 0xF6;  // -10: 1024-byte records
    std::uint64_t mftStartLcn = 4;
    std::uint64_t totalSectors = 16383;
    std::uint64_t serial = 0x2A7CF6DE0754FEDAull;
    const char* oem = "NTFS    ";
};

std::vector<std::uint8_t> BootSector(const TBootFields& f) {
    std::vector<std::uint8_t> s(512, 0);
    s[0] = 0xEB;
    s[1] = 0x52;
    s[2] = 0x90;
    for (int i = 0; i < 8; ++i) s[3 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(f.oem[i]);
    PutLe(s, 0x0B, f.bytesPerSector, 2);
    s[0x0D] = f.sectorsPerCluster;
    PutLe(s, 0x28, f.totalSectors, 8);
    PutLe(s, 0x30, f.mftStartLcn, 8);
    PutLe(s, 0x40, f.clustersPerRecord, 4);
    PutLe(s, 0x48, f.serial, 8);
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

ntfs::TDISK_INFORMATION Geometry(const TBootFields& f) {
    const auto bytes = BootSector(f);
    return ntfs::DeriveGeometry(ntfs::DecodeBootSector({bytes.data(), bytes.size()}));
}

TEST(BootSector, DecodesTheFieldsItReads) {
    TBootFields f;
    f.totalSectors = 0x0123456789ull;
    f.mftStartLcn = 786432;
    const auto bytes = BootSector(f);
    const auto b = ntfs::DecodeBootSector({bytes.data(), bytes.size()});
    EXPECT_TRUE(ntfs::IsNtfsOem(b));
    EXPECT_EQ(b.BytesPerSector, 512);
    EXPECT_EQ(b.SectorsPerCluster, 8);
    EXPECT_EQ(b.TotalSectors, 0x0123456789ull);
    EXPECT_EQ(b.MftStartLcn, 786432u);
    EXPECT_EQ(b.ClustersPerFileRecord, 0xF6u);
    EXPECT_EQ(b.VolumeSerialNumber, 0x2A7CF6DE0754FEDAull);
}

TEST(BootSector, ShortImageReadsAsZeros) {
    const auto bytes = BootSector({});
    const auto b = ntfs::DecodeBootSector({bytes.data(), 0x0C});  // cut inside BytesPerSector
    EXPECT_TRUE(ntfs::IsNtfsOem(b));
    EXPECT_EQ(b.BytesPerSector, 0);  // only its low byte (0x00) was present
    EXPECT_EQ(b.VolumeSerialNumber, 0u);
    const auto none = ntfs::DecodeBootSector({});
    EXPECT_EQ(ntfs::OemText(none), std::string(4, '\0'));
}

TEST(Geometry, RecordSizeRules) {
    struct Case {
        std::uint16_t bps;
        std::uint8_t spc;
        std::uint32_t cpr;
        std::uint32_t cluster;
        std::uint32_t record;
    };
    const Case cases[] = {
        {512, 8, 0xF6, 4096, 1024},            // the usual -10
        {512, 8, 0x01, 4096, 4096},            // one cluster per record
        {512, 1, 0x02, 512, 1024},             // two 512-byte clusters
        {512, 8, 0xF4, 4096, 4096},            // -12
        {4096, 1, 0xF4, 4096, 4096},           // 4K sectors
        {512, 8, 0x80, 4096, 1},               // exponent 128 & 31 = 0
        {512, 8, 0x00000102, 4096, 1u << 30},  // reserved byte set: 258 -> (256-258)&31 = 30
        {512, 8, 0xF0, 4096, 65536},           // -16: 64 KiB records are not truncated
        {512, 128, 0xF6, 65536, 1024},         // 64 KiB clusters are not truncated
        {512, 128, 0x01, 65536, 65536},
        {4096, 16, 0xF6, 65536, 1024},
        {512, 0, 0x01, 0, 0},  // zero sectors per cluster
        // Above 0x80 the byte is a negative power of two (clusters of 128 KiB+).
        {512, 0xFF, 0xF6, 1024, 1024},        // -1: 2 sectors
        {512, 0xF8, 0xF6, 128u << 10, 1024},  // -8: 256 sectors
        {512, 0xF7, 0xF6, 256u << 10, 1024},
        {512, 0xF6, 0xF6, 512u << 10, 1024},
        {512, 0xF5, 0xF6, 1u << 20, 1024},
        {512, 0xF4, 0xF6, 2u << 20, 1024},   // 2 MiB
        {4096, 0xF7, 0xF6, 2u << 20, 1024},  // 2 MiB on 4K sectors
        {512, 0xF8, 0x01, 128u << 10, 128u << 10},
        {512, 0xF0, 0xF6, 32u << 20, 1024},   // -16: the largest exponent taken
        {512, 0xEF, 0xF6, 0, 1024},           // -17 and beyond: no volume's
        {512, 0x81, 0xF6, 0, 1024},           // -127
        {65535, 0xF0, 0x7F, 0xFFFF0000u, 0},  // the record size would not fit 32 bits
    };
    for (const Case& c : cases) {
        TBootFields f;
        f.bytesPerSector = c.bps;
        f.sectorsPerCluster = c.spc;
        f.clustersPerRecord = c.cpr;
        const auto g = Geometry(f);
        SCOPED_TRACE(testing::Message() << c.bps << "x" << int(c.spc) << " cpr=" << std::hex << c.cpr);
        EXPECT_EQ(g.BytesPerSector, c.bps);
        EXPECT_EQ(std::uint64_t{g.SectorsPerCluster} * c.bps, c.cluster);
        EXPECT_EQ(g.BytesPerCluster, c.cluster);
        EXPECT_EQ(g.BytesPerFileRecord, c.record);
    }
}

TEST(Geometry, MftByteOffsetIsExactIn64Bits) {
    TBootFields f;
    f.mftStartLcn = 786432;
    auto bytes = BootSector(f);
    EXPECT_EQ(ntfs::MftByteOffset(ntfs::DecodeBootSector({bytes.data(), bytes.size()})), 3221225472ull);

    f.sectorsPerCluster = 128;  // 64 KiB clusters
    f.mftStartLcn = 0x30000;
    bytes = BootSector(f);
    EXPECT_EQ(ntfs::MftByteOffset(ntfs::DecodeBootSector({bytes.data(), bytes.size()})), 0x30000ull * 65536);

    f.sectorsPerCluster = 0xF4;  // 2 MiB clusters: 2^12 sectors, not 244
    f.mftStartLcn = 3;
    bytes = BootSector(f);
    EXPECT_EQ(ntfs::MftByteOffset(ntfs::DecodeBootSector({bytes.data(), bytes.size()})), 3ull << 21);

    f.sectorsPerCluster = 0x80;
    f.mftStartLcn = UINT64_MAX / 1000;  // a damaged field: the product does not fit
    bytes = BootSector(f);
    EXPECT_FALSE(ntfs::MftByteOffset(ntfs::DecodeBootSector({bytes.data(), bytes.size()})).has_value());
}

TEST(Probe, FactsOfTheProbe) {
    struct Case {
        std::uint64_t serial;
        const char* text;
    };
    const Case cases[] = {
        {0x0754FEDAull, "0754FEDA"},  // upper half zero: exactly 8 digits
        {0x2A7CF6DE0754FEDAull, "2A7CF6DE0754FEDA"},
        {0x10000000Aull, "10000000A"},
        {0, "00000000"},
    };
    for (const Case& c : cases) {
        TBootFields f;
        f.serial = c.serial;
        const auto bytes = BootSector(f);
        const auto r = scan::ProbeBootSector({bytes.data(), bytes.size()}, "Data");
        EXPECT_EQ(r.SerialNumber, c.serial);
        EXPECT_EQ(ntfs::HexUpper(r.SerialNumber, 8), c.text);
        EXPECT_EQ(r.Label, "Data");
        EXPECT_EQ(r.Oem, "NTFS");
    }
}

TEST(Probe, OemIsComparedByteForByte) {
    TBootFields f;
    f.oem = "ntfs    ";
    auto bytes = BootSector(f);
    auto r = scan::ProbeBootSector({bytes.data(), bytes.size()}, "");
    EXPECT_EQ(r.Oem, "ntfs");
    EXPECT_FALSE(ntfs::IsNtfsOem(r.Boot));
    EXPECT_EQ(r.Label, "");

    f.oem = "MSDOS5.0";
    bytes = BootSector(f);
    r = scan::ProbeBootSector({bytes.data(), bytes.size()}, "");
    EXPECT_EQ(r.Oem, "MSDO");

    // An unreadable first sector: four zero characters and a zero serial.
    const std::vector<std::uint8_t> zeros(4096, 0);
    r = scan::ProbeBootSector({zeros.data(), zeros.size()}, "");
    EXPECT_EQ(r.Oem, std::string(4, '\0'));
    EXPECT_EQ(r.SerialNumber, 0u);

    // High bytes never turn into "NTFS" and stay valid UTF-8.
    bytes = BootSector(f);
    bytes[3] = 0xCE;
    r = scan::ProbeBootSector({bytes.data(), bytes.size()}, "");
    EXPECT_EQ(r.Oem,
              "\xC3\x8E"
              "SDO");
}

}  // namespace
