// SPDX-License-Identifier: GPL-3.0-or-later
// Geometry from what a pass over a disk found: boot sectors read as first or
// last sector, record 0 of an old MFT against its place, and a quick format
// with another cluster size that leaves two file systems at one start.
#include <gtest/gtest.h>

#include "ntfs/geometry_inference.h"

namespace {

constexpr std::uint64_t kMiB = 1u << 20;

ntfs::TFoundBootSector Boot(std::uint64_t at, std::uint8_t sectorsPerCluster, std::uint64_t totalSectors,
                            std::uint64_t mftLcn, std::uint64_t mirrorLcn) {
    ntfs::TFoundBootSector b;
    b.ByteOffset = at;
    b.Boot.OemId = {'N', 'T', 'F', 'S'};
    b.Boot.BytesPerSector = 512;
    b.Boot.SectorsPerCluster = sectorsPerCluster;
    b.Boot.TotalSectors = totalSectors;
    b.Boot.MftStartLcn = mftLcn;
    b.Boot.MftMirrStartLcn = mirrorLcn;
    b.Boot.ClustersPerFileRecord = 0xF6;  // 1,024-byte records
    return b;
}

ntfs::TFoundMftRecord0 Record0(std::uint64_t at, std::int64_t lcn, std::uint64_t mirrorLcn,
                               std::vector<ntfs::TDataRun> more = {}) {
    ntfs::TFoundMftRecord0 r;
    r.ByteOffset = at;
    r.RecordSize = 1024;
    r.MftRuns.push_back({0, 16, lcn, false});
    for (const auto& run : more) r.MftRuns.push_back(run);
    r.MirrorLcn = mirrorLcn;
    return r;
}

struct TWant {
    std::uint64_t start;
    std::uint32_t cluster;
    std::uint64_t mftLcn;
    ntfs::TGeometrySource source;
};

struct TCase {
    const char* what;
    std::vector<ntfs::TFoundBootSector> boots;
    std::vector<ntfs::TFoundMftRecord0> records0;
    std::vector<ntfs::TRecordPlace> places;
    std::vector<TWant> want;
};

TEST(GeometryInference, EachFileSystemOnceWithItsStartAndClusterSize) {
    using S = ntfs::TGeometrySource;
    const std::uint64_t odd = 3 * kMiB + 7 * 512;  // a volume off any MiB boundary
    const TCase cases[] = {
        {"boot sector at the start, its record 0 where it says",
         {Boot(odd, 8, 65535, 4, 4000)},
         {Record0(odd + 4 * 4096, 4, 4000)},
         {{odd + 4 * 4096, 0}},
         {{odd, 4096, 4, S::BootSector}}},
        {"only the backup in the last sector survives",
         {Boot(odd + 65535 * 512, 8, 65535, 4, 4000)},
         {Record0(odd + 4 * 4096, 4, 4000)},
         {{odd + 4 * 4096, 0}},
         {{odd, 4096, 4, S::BackupBootSector}}},
        {"no boot sector: the mirror's copy of record 0 tells 1 KiB clusters, and adds no volume",
         {},
         {Record0(odd + 100 * 1024, 100, 50), Record0(odd + 50 * 1024, 100, 50)},
         {{odd + 50 * 1024, 0}, {odd + 100 * 1024, 0}},
         {{odd, 1024, 100, S::MftRecord0}}},
        {"no boot sector: a later MFT run's record numbers tell 64 KiB clusters",
         {},
         {Record0(kMiB + 2 * 65536, 2, 0, {{16, 4, 40, false}})},
         {{kMiB + 2 * 65536, 0}, {kMiB + 40 * 65536, 16 * 65536 / 1024}},
         {{kMiB, 65536, 2, S::MftRecord0}}},
        {"a quick format with 1 KiB clusters over a 4 KiB one: both, at one start",
         {Boot(0, 2, 65535, 16000, 8)},
         {Record0(16000 * 1024, 16000, 8), Record0(4 * 4096, 4, 4000)},
         {{4 * 4096, 0}, {16000 * 1024, 0}},
         {{0, 1024, 16000, S::BootSector}, {0, 4096, 4, S::MftRecord0}}},
        // mkntfs -Q -c 1024 puts the new MFT at the old one's byte, over its
        // first records; the old mirror's copy of record 0 is all that is left.
        {"a quick format whose new MFT lies over the old one: the old mirror's record 0",
         {Boot(0, 2, 65535, 16, 12290)},
         {Record0(16 * 1024, 16, 12290), Record0(12287 * 4096, 4, 12287)},
         {{16 * 1024, 0}, {12287 * 4096, 0}, {12290 * 1024, 0}},
         {{0, 1024, 16, S::BootSector}, {0, 4096, 4, S::MftRecord0}}},
        {"two volumes of a disk whose table is gone",
         {Boot(kMiB, 8, 8191, 4, 1000), Boot(9 * kMiB, 1, 16383, 8, 2000)},
         {Record0(kMiB + 4 * 4096, 4, 1000), Record0(9 * kMiB + 8 * 512, 8, 2000)},
         {{kMiB + 4 * 4096, 0}, {9 * kMiB + 8 * 512, 0}},
         {{kMiB, 4096, 4, S::BootSector}, {9 * kMiB, 512, 8, S::BootSector}}},
        {"a record 0 whose run names clusters past its own place infers nothing",
         {},
         {Record0(4096, 4000, 0)},
         {{4096, 0}},
         {}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        const auto got = ntfs::InferVolumes(c.boots, c.records0, c.places);
        ASSERT_EQ(got.size(), c.want.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].StartByte, c.want[i].start);
            EXPECT_EQ(got[i].BytesPerCluster, c.want[i].cluster);
            EXPECT_EQ(got[i].MftLcn, c.want[i].mftLcn);
            EXPECT_EQ(got[i].Source, c.want[i].source);
            EXPECT_EQ(got[i].BytesPerFileRecord, 1024u);
        }
    }
}

TEST(GeometryInference, RecordsGoToTheVolumeWhoseMftHoldsThem) {
    const auto volumes =
        ntfs::InferVolumes(std::vector{Boot(0, 2, 65535, 16000, 8)},
                           std::vector{Record0(16000 * 1024, 16000, 8), Record0(4 * 4096, 4, 4000)},
                           std::vector<ntfs::TRecordPlace>{{4 * 4096, 0}, {16000 * 1024, 0}});
    ASSERT_EQ(volumes.size(), 2u);
    const std::size_t fresh = volumes[0].BytesPerCluster == 1024 ? 0 : 1;
    EXPECT_EQ(ntfs::VolumeOf(volumes, 4 * 4096 + 30 * 1024), 1 - fresh);  // in the old MFT's run
    EXPECT_EQ(ntfs::VolumeOf(volumes, 16000 * 1024 + 1024), fresh);       // in the new one's
    // Past the new volume's end only the old one, of unknown size, reaches.
    EXPECT_EQ(ntfs::VolumeOf(volumes, 65535 * 512 + 4096), 1 - fresh);
    EXPECT_EQ(ntfs::VolumeOf(std::span(volumes).first(fresh + 1).last(1), 65535 * 512 + 4096), 1u);
}

}  // namespace
