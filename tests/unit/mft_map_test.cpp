// SPDX-License-Identifier: GPL-3.0-or-later
// The MFT's map on hand-built bytes: run lists and record 0s that no real
// volume shows (overflowing fields, sparse or misplaced first runs, records
// past the map), each a mutation of a sound layout.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "ntfs/mft_map.h"
#include "platform/memory_volume.h"
#include "unit/record_builder.h"
#include "unit/volume_builder.h"

namespace {

using testing_support::PutLe;
using testing_support::TAttributeBuilder;
using testing_support::TRecordBuilder;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kCluster = 4096;
constexpr ntfs::TDISK_INFORMATION kGeometry{1024, kCluster, 512, 8};
constexpr std::int64_t kMaxLcn = std::numeric_limits<std::int64_t>::max();

ntfs::TDataRun DataRun(std::uint64_t vcn, std::uint64_t length, std::int64_t lcn, bool sparse = false) {
    return {vcn, length, lcn, sparse};
}

TEST(MftMap, FromRunsMapsOnlyWhatFitsSixtyFourBits) {
    using E = ntfs::TMftExtent;
    struct TCase {
        const char* what;
        std::vector<ntfs::TDataRun> runs;
        std::uint32_t cluster;
        bool mapped;
        std::vector<E> extents;
    };
    const std::uint64_t half = std::uint64_t{1} << 51;  // 2^63 bytes of 4096-byte clusters
    const std::vector<TCase> cases = {
        {"two runs",
         {DataRun(0, 2, 10), DataRun(2, 3, 50)},
         kCluster,
         true,
         {{0, 10 * kCluster, 2 * kCluster, false}, {2 * kCluster, 50 * kCluster, 3 * kCluster, false}}},
        {"a zero-length run adds nothing",
         {DataRun(0, 0, 99), DataRun(0, 2, 10), DataRun(2, 0, 7)},
         kCluster,
         true,
         {{0, 10 * kCluster, 2 * kCluster, false}}},
        {"a VCN jump reads as zeros",
         {DataRun(0, 1, 10), DataRun(3, 1, 20)},
         kCluster,
         true,
         {{0, 10 * kCluster, kCluster, false},
          {kCluster, 0, 2 * kCluster, true},
          {3 * kCluster, 20 * kCluster, kCluster, false}}},
        {"an overlapping piece is passed over",
         {DataRun(0, 4, 10), DataRun(2, 2, 90), DataRun(4, 1, 30)},
         kCluster,
         true,
         {{0, 10 * kCluster, 4 * kCluster, false}, {4 * kCluster, 30 * kCluster, kCluster, false}}},
        {"a sparse first run",
         {DataRun(0, 2, 0, true), DataRun(2, 1, 10)},
         kCluster,
         true,
         {{0, 0, 2 * kCluster, true}, {2 * kCluster, 10 * kCluster, kCluster, false}}},
        {"no runs", {}, kCluster, true, {}},
        {"no cluster size", {DataRun(0, 1, 10)}, 0, false, {}},
        {"a negative LCN", {DataRun(0, 1, -5)}, kCluster, false, {}},
        {"an LCN past 64 bits of bytes", {DataRun(0, 1, kMaxLcn)}, kCluster, false, {}},
        {"a length past 64 bits of bytes", {DataRun(0, std::uint64_t{1} << 62, 10)}, kCluster, false, {}},
        {"a VCN past 64 bits of bytes", {DataRun(std::uint64_t{1} << 62, 1, 10)}, kCluster, false, {}},
        {"an MFT end past 64 bits", {DataRun(half, half, 10)}, kCluster, false, {}},
        {"a volume end past 64 bits",
         {DataRun(0, half, static_cast<std::int64_t>(half))},
         kCluster,
         false,
         {}},
        {"a sparse run's LCN is not judged",
         {DataRun(0, 1, 10), DataRun(1, 1, kMaxLcn, true)},
         kCluster,
         true,
         {{0, 10 * kCluster, kCluster, false}, {kCluster, 0, kCluster, true}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        const auto map = ntfs::TMftMap::FromRuns(c.runs, c.cluster);
        ASSERT_EQ(map.has_value(), c.mapped);
        if (!map) continue;
        ASSERT_EQ(map->Extents().size(), c.extents.size());
        std::uint64_t end = 0;
        for (std::size_t i = 0; i < c.extents.size(); ++i) {
            const E& got = map->Extents()[i];
            const E& want = c.extents[i];
            EXPECT_EQ(got.MftOffset, want.MftOffset) << i;
            EXPECT_EQ(got.Length, want.Length) << i;
            EXPECT_EQ(got.Sparse, want.Sparse) << i;
            if (!want.Sparse) {
                EXPECT_EQ(got.VolumeOffset, want.VolumeOffset) << i;
            }
            end = want.MftOffset + want.Length;
        }
        EXPECT_EQ(map->ByteLength(), end);
    }
    // One stretch, as a run list that does not decode leaves it: an end past
    // 64 bits maps nothing, one just inside maps the stretch.
    EXPECT_TRUE(ntfs::TMftMap::Contiguous(UINT64_MAX - 1023, 1024).Extents().empty());
    EXPECT_EQ(ntfs::TMftMap::Contiguous(UINT64_MAX - 1024, 1024).Extents().size(), 1u);
}

// The MFT in three pieces over a volume whose every byte tells where it
// lies: [0, 4096) at LCN 10, a hole, [8192, 12288) at LCN 20, and a last
// piece whose second cluster lies past the volume's 40 clusters.
class MftMapOverVolume : public ::testing::Test {
public:
    MftMapOverVolume() : volume(Bytes(40 * kCluster)) {
        for (std::size_t i = 0; i < volume.Bytes().size(); ++i)
            volume.Bytes()[i] = static_cast<std::uint8_t>(i / 512 + 1);
        map = *ntfs::TMftMap::FromRuns({DataRun(0, 1, 10), DataRun(2, 1, 20), DataRun(3, 2, 39)}, kCluster);
    }
    std::uint8_t At(std::uint64_t volumeOffset) const {
        return static_cast<std::uint8_t>(volumeOffset / 512 + 1);
    }

    platform::TMemoryVolume volume;
    ntfs::TMftMap map;
};

TEST_F(MftMapOverVolume, PositionsAndReadsAcrossPiecesHolesAndTheVolumeEnd) {
    EXPECT_EQ(map.ByteLength(), 5u * kCluster);
    EXPECT_EQ(map.RecordCount(1024), 20u);
    EXPECT_EQ(map.RecordCount(0), 0u);
    struct TCase {
        std::uint64_t mftOffset;
        std::optional<std::uint64_t> volumeOffset;
    };
    const TCase positions[] = {
        {0, 10 * kCluster},
        {kCluster - 1, 11 * kCluster - 1},
        {kCluster, std::nullopt},
        {2 * kCluster, 20 * kCluster},
        {5 * kCluster - 1, 41 * kCluster - 1},
        {5 * kCluster, std::nullopt},
        {UINT64_MAX, std::nullopt},
    };
    for (const TCase& c : positions) EXPECT_EQ(map.VolumeOffset(c.mftOffset), c.volumeOffset) << c.mftOffset;

    struct TRead {
        const char* what;
        std::uint64_t mftOffset;
        std::size_t size;
        bool whole;  // every byte came (or is a hole's zero)
        // (position in the output, the volume offset it comes from, UINT64_MAX for a hole's zero)
        std::vector<std::pair<std::size_t, std::uint64_t>> samples;
    };
    const TRead reads[] = {
        {"inside a piece", 512, 1024, true, {{0, 10 * kCluster + 512}, {1023, 10 * kCluster + 1535}}},
        {"over the hole into the next piece",
         kCluster - 512,
         2 * kCluster,
         true,
         {{0, 11 * kCluster - 512},
          {512, UINT64_MAX},
          {kCluster + 511, UINT64_MAX},
          {kCluster + 512, 20 * kCluster}}},
        {"into the cluster past the volume", 4 * kCluster - 512, 1024, false, {}},
        {"wholly past the volume", 5 * kCluster - 512, 512, false, {}},
        {"past the MFT's end", 5 * kCluster, 1024, false, {}},
        {"far past it", UINT64_MAX - 10, 8, false, {}},
    };
    for (const TRead& r : reads) {
        SCOPED_TRACE(r.what);
        Bytes out(r.size, 0xEE);
        const std::size_t got = map.Read(volume, r.mftOffset, out);
        if (r.whole) {
            EXPECT_EQ(got, r.size);
        } else {
            EXPECT_LT(got, r.size);
        }
        for (const auto& [pos, from] : r.samples)
            EXPECT_EQ(out[pos], from == UINT64_MAX ? 0 : At(from)) << pos;
    }
}

TEST_F(MftMapOverVolume, ReadMftRecordGivesOnlyWholeSoundRecords) {
    // Records 0 and 1 (MFT bytes 0-2047, the first piece) are sound.
    const Bytes sound = TRecordBuilder(1024).Add(TAttributeBuilder::StandardInformation(1, 2)).Build();
    for (std::size_t at : {std::size_t{10} * kCluster, std::size_t{10} * kCluster + 1024})
        std::copy(sound.begin(), sound.end(), volume.Bytes().begin() + static_cast<std::ptrdiff_t>(at));
    const auto record = ntfs::ReadMftRecord(map, volume, 1, kGeometry);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->Size(), 1024u);
    EXPECT_EQ(record->View().U8(510), sound[0x32]);  // fixed up: the sequence number is gone

    struct TCase {
        const char* what;
        std::uint64_t n;
        ntfs::TDISK_INFORMATION geometry;
    };
    const TCase refused[] = {
        {"a record in the hole reads as zeros: no FILE record", 5, kGeometry},
        {"a record past the volume's end", 16, kGeometry},
        {"a record beyond the map", 20, kGeometry},
        {"a record number whose offset overflows", UINT64_MAX / 512, kGeometry},
        {"no record size", 1, {0, kCluster, 512, 8}},
        // Two sound records read as one of 2048 bytes: the count says three
        // entries, the image has four stretches.
        {"two records read as one", 0, {2048, kCluster, 512, 8}},
    };
    for (const TCase& c : refused) EXPECT_FALSE(ntfs::ReadMftRecord(map, volume, c.n, c.geometry)) << c.what;

    volume.Bytes()[10 * kCluster + 1024 + 1023] ^= 0xFF;  // its second stretch torn
    EXPECT_FALSE(ntfs::ReadMftRecord(map, volume, 1, kGeometry));
}

// Volumes whose MFT lies in the extents the layout names, with record 0
// rebuilt to each case's liking.
struct TRecord0 {
    TRecord0(Bytes runs, std::int64_t starting, std::int64_t last, std::uint16_t dataFlags = 0,
             Bytes list = {}, bool data = true)
        : runList(std::move(runs)),
          startingVcn(starting),
          lastVcn(last),
          flags(dataFlags),
          attributeList(std::move(list)),
          withData(data) {}
    Bytes runList;
    std::int64_t startingVcn;
    std::int64_t lastVcn;
    std::uint16_t flags;
    Bytes attributeList;  // empty: none
    bool withData;
};

Bytes Record0(const TRecord0& r) {
    TRecordBuilder b(1024);
    b.Flags(1).Add(TAttributeBuilder::StandardInformation(0, 0));
    if (!r.attributeList.empty()) b.Add(TAttributeBuilder::Resident(0x20, r.attributeList));
    b.Add(TAttributeBuilder::FileName(u"$MFT", 3));
    if (r.withData)
        b.Add(TAttributeBuilder::NonResident(0x80, r.runList, 0x100000, r.startingVcn, r.lastVcn, r.flags));
    return b.Build();
}

Bytes ListEntry(std::uint32_t type, std::uint64_t vcn, std::uint64_t record) {
    Bytes e(0x20, 0);
    PutLe(e, 0x00, type, 4);
    PutLe(e, 0x04, 0x20, 2);
    e[0x07] = 0x1A;
    PutLe(e, 0x08, vcn, 8);
    PutLe(e, 0x10, record, 8);
    return e;
}

Bytes Entries(std::initializer_list<Bytes> entries) {
    Bytes out;
    for (const Bytes& e : entries) out.insert(out.end(), e.begin(), e.end());
    return out;
}

// An extension record of the $MFT holding the run list piece from `vcn`.
Bytes Extension(const std::vector<std::pair<std::uint64_t, std::uint64_t>>& runs, std::int64_t vcn,
                std::int64_t lastVcn) {
    Bytes r =
        TRecordBuilder(1024)
            .Flags(1)
            .Add(TAttributeBuilder::NonResident(0x80, testing_support::RunListBytes(runs), 0, vcn, lastVcn))
            .Build();
    PutLe(r, 0x20, 0, 8);  // base reference: record 0
    return r;
}

TEST(MftLayout, RecordZeroDecidesTheMapOrTheFallback) {
    using testing_support::RunListBytes;
    // The MFT lies in three extents of two clusters (eight records each).
    testing_support::TVolumeLayout layout;
    layout.mftRuns = {{4, 2}, {100, 2}, {150, 2}};
    const std::uint64_t mftAt = 4 * kCluster;
    using S = ntfs::TMftMapSource;
    struct TCase {
        const char* what;
        TRecord0 record0;
        std::function<void(testing_support::TVolumeBuilder&)> more;
        S source;
        std::uint64_t length;  // of the map
        std::size_t extents;
    };
    const auto none = [](testing_support::TVolumeBuilder&) {};
    const std::vector<TCase> cases = {
        {"the run list", {RunListBytes(layout.mftRuns), 0, 5}, none, S::RunList, 6 * kCluster, 3},
        {"a first run that is sparse",
         {{0x01, 0x02, 0x11, 0x02, 0x64, 0x00}, 0, 3},
         none,
         S::ContiguousFallback,
         4 * kCluster,
         1},
        {"a first run elsewhere than the boot sector says",
         {RunListBytes({{5, 2}}), 0, 1},
         none,
         S::ContiguousFallback,
         2 * kCluster,
         1},
        {"a piece that does not start at VCN 0",
         {RunListBytes({{4, 2}}), 2, 3},
         none,
         S::ContiguousFallback,
         2 * kCluster,
         1},
        {"a run list with nothing in it", {{0x00}, 0, 1}, none, S::ContiguousFallback, 2 * kCluster, 1},
        {"an LCN past 64 bits of bytes",
         {{0x11, 0x02, 0x04, 0x81, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x7F, 0x00}, 0, 2},
         none,
         S::ContiguousFallback,
         3 * kCluster,
         1},
        {"a last VCN before the first", {{0x00}, 0, -1}, none, S::ContiguousFallback, 0, 0},
        {"a VCN range past 64 bits of bytes", {{0x00}, 0, kMaxLcn - 1}, none, S::ContiguousFallback, 0, 0},
        {"later runs held by extension records, one found through the other",
         {RunListBytes({{4, 2}}), 0, 1, 0,
          Entries(
              {ListEntry(0x10, 0, 0), ListEntry(0x80, 0, 0), ListEntry(0x80, 2, 3), ListEntry(0x80, 4, 9)})},
         [](testing_support::TVolumeBuilder& v) {
             // Record 3 lies in the first extent, record 9 only in the second.
             v.Put(3, Extension({{100, 2}}, 2, 3));
             v.Put(9, Extension({{150, 2}}, 4, 5));
         },
         S::RunList,
         6 * kCluster,
         3},
        {"an extension record that cannot be read leaves the map as record 0 has it",
         {RunListBytes({{4, 2}}), 0, 1, 0, Entries({ListEntry(0x80, 0, 0), ListEntry(0x80, 2, 12)})},
         none,
         S::RunList,
         2 * kCluster,
         1},
        {"an attribute list naming record 0 itself, again and again",
         {RunListBytes({{4, 2}}), 0, 1, 0,
          Entries(
              {ListEntry(0x80, 0, 0), ListEntry(0x80, 2, 0), ListEntry(0x80, 2, 0), ListEntry(0x80, 4, 0)})},
         none,
         S::RunList,
         2 * kCluster,
         1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        testing_support::TVolumeBuilder v(layout);
        v.Put(0, Record0(c.record0));
        c.more(v);
        platform::TMemoryVolume volume(v.Bytes());
        const auto located = ntfs::LocateMft(volume, kGeometry, mftAt);
        ASSERT_TRUE(located.Layout);
        EXPECT_EQ(located.Layout->Source, c.source);
        EXPECT_EQ(located.Layout->Map.ByteLength(), c.length);
        ASSERT_EQ(located.Layout->Map.Extents().size(), c.extents);
        if (c.extents > 0) {
            EXPECT_EQ(located.Layout->Map.VolumeOffset(0), mftAt);
        }
        EXPECT_EQ(located.Layout->LastVcn, c.record0.lastVcn);
        // Where the map is the run list, every record lies where the builder put it.
        if (c.source == S::RunList) {
            for (std::uint64_t n = 0; n < located.Layout->Map.RecordCount(1024); ++n) {
                EXPECT_EQ(located.Layout->Map.VolumeOffset(n * 1024), v.RecordOffset(n)) << n;
            }
        }
    }
}

TEST(MftLayout, RecordZeroThatCannotCarryTheMft) {
    using E = ntfs::TMftLocateError;
    const std::uint64_t mftAt = 4 * kCluster;
    const Bytes runs = testing_support::RunListBytes({{4, 8}});
    struct TCase {
        const char* what;
        std::function<void(Bytes& volume)> damage;
        ntfs::TDISK_INFORMATION geometry;
        std::optional<std::uint64_t> mftOffset;
        E error;
    };
    const auto record0 = [](const TRecord0& r) {
        return [bytes = Record0(r)](Bytes& v) {
            std::copy(bytes.begin(), bytes.end(), v.begin() + 4 * kCluster);
        };
    };
    const auto none = [](Bytes&) {};
    const std::vector<TCase> cases = {
        {"no MFT position", none, kGeometry, std::nullopt, E::Record0Unusable},
        {"an MFT position past the volume", none, kGeometry, 300 * kCluster, E::Record0Unusable},
        {"a record size smaller than a header", none, {32, kCluster, 512, 8}, mftAt, E::Record0Unusable},
        {"a record size larger than any volume's",
         none,
         {128u << 10, kCluster, 512, 8},
         mftAt,
         E::Record0Unusable},
        {"record 0 torn", [](Bytes& v) { v[4 * kCluster + 1023] ^= 1; }, kGeometry, mftAt,
         E::Record0Unusable},
        {"record 0 claiming one stretch too few", [](Bytes& v) { PutLe(v, 4 * kCluster + 6, 2, 2); },
         kGeometry, mftAt, E::Record0Unusable},
        {"no $DATA", record0({runs, 0, 7, 0, {}, false}), kGeometry, mftAt, E::NoMftData},
        {"$DATA compressed", record0({runs, 0, 7, 0x0001}), kGeometry, mftAt, E::MftDataFlagged},
        {"$DATA encrypted", record0({runs, 0, 7, 0x4000}), kGeometry, mftAt, E::MftDataFlagged},
        {"$DATA sparse", record0({runs, 0, 7, 0x8000}), kGeometry, mftAt, E::MftDataFlagged},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        testing_support::TVolumeBuilder v;
        c.damage(v.Bytes());
        platform::TMemoryVolume volume(v.Bytes());
        const auto located = ntfs::LocateMft(volume, c.geometry, c.mftOffset);
        EXPECT_FALSE(located.Layout);
        EXPECT_EQ(located.Error, c.error);
    }
}

}  // namespace
