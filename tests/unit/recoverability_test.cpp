// SPDX-License-Identifier: GPL-3.0-or-later
// Recoverability verdicts: what a $DATA attribute claims, the bitmap read in
// chunks, and the sweep that weighs each claim against the bitmap and the
// other deleted files.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "scan/recoverability.h"
#include "unit/record_builder.h"

namespace {

using scan::TVerdict;
using testing_support::TAttributeBuilder;

class TMemoryVolume : public platform::TRawVolume {
public:
    std::vector<std::uint8_t> Bytes;
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
        if (offset >= Bytes.size()) return 0;
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), Bytes.size() - offset));
        std::copy_n(Bytes.begin() + static_cast<std::ptrdiff_t>(offset), n, out.begin());
        return n;
    }
    std::uint64_t Size() const override { return Bytes.size(); }
};

ntfs::TByteView View(const std::vector<std::uint8_t>& b) {
    return {b.data(), b.size()};
}

TEST(Recoverability, ClaimsOfDataAttributes) {
    const std::vector<std::uint8_t> threeRuns = {0x11, 0x04, 0x64, 0x11, 0x02, 0xF6, 0x01, 0x03, 0x00};
    auto named = TAttributeBuilder::NonResident(0x80, threeRuns, 36864, 0, 8);
    named[0x09] = 2;
    const struct {
        const char* what;
        std::vector<std::uint8_t> attribute;
        std::uint64_t clusterCount;
        bool resident, sound;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    } cases[] = {
        {"resident", TAttributeBuilder::Resident(0x80, {1, 2, 3}), 1000, true, true, {}},
        {"runs, the sparse one left out",
         TAttributeBuilder::NonResident(0x80, threeRuns, 36864, 0, 8),
         1000,
         false,
         true,
         {{100, 4}, {90, 2}}},
        {"a run past the volume",
         TAttributeBuilder::NonResident(0x80, threeRuns, 36864, 0, 8),
         103,
         false,
         false,
         {}},
        {"runs shorter than the data",
         TAttributeBuilder::NonResident(0x80, threeRuns, 36865, 0, 8),
         1000,
         false,
         false,
         {{100, 4}, {90, 2}}},
        // eight bytes: the attribute ends with the second run, no 0 after it
        {"no end byte",
         TAttributeBuilder::NonResident(0x80, {0x11, 0x04, 0x64, 0x31, 0x01, 0x10, 0x10, 0x10}, 0, 0, 4),
         std::uint64_t{1} << 40,
         false,
         false,
         {{100, 4}, {100 + 0x101010, 1}}},
        {"a later piece of an attribute list",
         TAttributeBuilder::NonResident(0x80, threeRuns, 36864, 5, 13),
         1000,
         false,
         false,
         {}},
        {"named", named, 1000, false, false, {}},
        {"empty", TAttributeBuilder::NonResident(0x80, {0x00}, 0, 0, -1), 1000, false, true, {}},
        {"negative LCN",
         TAttributeBuilder::NonResident(0x80, {0x11, 0x04, 0x64, 0x11, 0x01, 0x80, 0x00}, 20480, 0, 4),
         1000,
         false,
         false,
         {{100, 4}}},
        {"cut header", std::vector<std::uint8_t>(0x30, 0), 1000, false, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> attribute = c.attribute;
        if (c.what == std::string("cut header")) attribute[0x08] = 1;
        const scan::TDataClaim claim = scan::ClaimOf(View(attribute), 4096, c.clusterCount);
        EXPECT_EQ(claim.Resident, c.resident);
        EXPECT_EQ(claim.Sound, c.sound);
        std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
        for (const auto& r : claim.Ranges) ranges.emplace_back(r.First, r.Count);
        if (c.sound || !c.ranges.empty()) {
            EXPECT_EQ(ranges, c.ranges);
        }
    }
}

// A volume of 4096-byte clusters whose bitmap (bitmapBytes long) lies from
// LCN 1 on, with the given clusters marked in use; the $Bitmap record in
// `record`.
struct TBitmapVolume {
    TMemoryVolume volume;
    std::vector<std::uint8_t> record;

    TBitmapVolume(std::uint64_t bitmapBytes, const std::vector<std::uint64_t>& used) {
        const std::uint64_t clusters = (bitmapBytes + 4095) / 4096;
        volume.Bytes.assign((1 + clusters) * 4096, 0);
        for (const std::uint64_t c : used)
            volume.Bytes[4096 + c / 8] |= static_cast<std::uint8_t>(1u << (c % 8));
        record = testing_support::TRecordBuilder()
                     .Flags(1)
                     .Add(TAttributeBuilder::NonResident(
                         0x80, {0x31, static_cast<std::uint8_t>(clusters), 0x01, 0x00, 0x00, 0x00},
                         static_cast<std::int64_t>(bitmapBytes), 0, static_cast<std::int64_t>(clusters) - 1))
                     .Build();
    }
};

scan::TRowClaim Claim(std::uint64_t modified, std::vector<scan::TClusterRange> ranges) {
    return {modified, {false, true, std::move(ranges)}};
}

TEST(Recoverability, BitmapCountsAcrossBytesAndChunks) {
    // 300 KiB of bitmap: more than one chunk.
    const std::uint64_t bytes = 300 * 1024;
    std::mt19937_64 rng(14);
    std::vector<std::uint64_t> used;
    for (int i = 0; i < 20000; ++i) used.push_back(rng() % (bytes * 8));
    TBitmapVolume v(bytes, used);
    auto bitmap = scan::TClusterBitmap::FromRecord(View(v.record), 4096);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->ClusterCount(), bytes * 8);
    std::vector<bool> set(bytes * 8, false);
    for (const std::uint64_t c : used) set[c] = true;
    const std::uint64_t chunkBits = scan::TClusterBitmap::kChunkBytes * 8;
    const std::pair<std::uint64_t, std::uint64_t> ranges[] = {
        {0, 1},         {3, 5},         {3, 13},
        {8, 64},        {1001, 777},    {chunkBits - 13, 40},
        {0, bytes * 8}, {chunkBits, 8}, {bytes * 8 - 9, 9},
    };
    for (const auto& [first, count] : ranges) {
        SCOPED_TRACE(first);
        const auto want = static_cast<std::uint64_t>(
            std::count(set.begin() + static_cast<std::ptrdiff_t>(first),
                       set.begin() + static_cast<std::ptrdiff_t>(first + count), true));
        EXPECT_EQ(bitmap->CountInUse(v.volume, first, count), want);
    }
    EXPECT_FALSE(bitmap->CountInUse(v.volume, bytes * 8 - 1, 2));  // past the bitmap
    EXPECT_FALSE(bitmap->CountInUse(v.volume, UINT64_MAX, 2));
    v.volume.Bytes.resize(4096 + 100);  // the bitmap's clusters cannot be read
    auto cut = scan::TClusterBitmap::FromRecord(View(v.record), 4096);
    EXPECT_FALSE(cut->CountInUse(v.volume, 0, 8));
}

TEST(Recoverability, EachClusterIsInUseLostToANewerFileOrStillTheFiles) {
    TBitmapVolume v(16, {10, 11, 12});
    auto bitmap = scan::TClusterBitmap::FromRecord(View(v.record), 4096);
    ASSERT_TRUE(bitmap);
    std::vector<scan::TRowClaim> rows = {
        Claim(1, {{0, 4}}),     // 0: loses 2-3 to row 1
        Claim(2, {{2, 4}}),     // 1: newest there
        Claim(1, {{10, 2}}),    // 2: all in use
        Claim(1, {{9, 2}}),     // 3: half in use
        {7, {true, true, {}}},  // 4: resident
        Claim(5, {{20, 2}}),    // 5, 6: equal times, neither trusted
        Claim(5, {{20, 2}}),
        Claim(1, {{12, 1}}),  // 7, 8: in use counts before any claim
        Claim(9, {{12, 1}}),
        Claim(1, {{40, 4}}),           // 9: loses 41-42 to row 10 and 43 to row 11
        Claim(3, {{41, 2}}),           // 10: newest
        Claim(2, {{42, 4}}),           // 11: loses 42 to row 10
        Claim(1, {{50, 2}, {60, 1}}),  // 12: two runs, one lost
        Claim(4, {{60, 1}}),
        {1, {false, false, {{70, 1}}}},  // 14: a faulty run list: no verdict
        Claim(1, {{127, 2}}),            // 15: past the bitmap
        Claim(1, {}),                    // 16: no clusters
    };
    const auto got = scan::Judge(rows, &*bitmap, v.volume);
    const struct {
        TVerdict verdict;
        std::uint64_t clusters, inUse, lost;
    } want[] = {
        {TVerdict::Partial, 4, 0, 2},     {TVerdict::Intact, 4, 0, 0},      {TVerdict::Overwritten, 2, 2, 0},
        {TVerdict::Partial, 2, 1, 0},     {TVerdict::Intact, 0, 0, 0},      {TVerdict::Overwritten, 2, 0, 2},
        {TVerdict::Overwritten, 2, 0, 2}, {TVerdict::Overwritten, 1, 1, 0}, {TVerdict::Overwritten, 1, 1, 0},
        {TVerdict::Partial, 4, 0, 3},     {TVerdict::Intact, 2, 0, 0},      {TVerdict::Partial, 4, 0, 1},
        {TVerdict::Partial, 3, 0, 1},     {TVerdict::Intact, 1, 0, 0},      {TVerdict::Unknown, 1, 0, 0},
        {TVerdict::Unknown, 2, 0, 0},     {TVerdict::Intact, 0, 0, 0},
    };
    ASSERT_EQ(got.size(), std::size(want));
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].Verdict, want[i].verdict);
        EXPECT_EQ(got[i].Clusters, want[i].clusters);
        EXPECT_EQ(got[i].InUse, want[i].inUse);
        EXPECT_EQ(got[i].LostToNewer, want[i].lost);
    }

    // Without a bitmap nothing non-resident can be judged.
    const auto blind = scan::Judge(rows, nullptr, v.volume);
    EXPECT_EQ(blind[0].Verdict, TVerdict::Unknown);
    EXPECT_EQ(blind[0].Clusters, 4u);
    EXPECT_EQ(blind[4].Verdict, TVerdict::Intact);
    EXPECT_EQ(scan::VerdictSentence(got[2]), "overwritten: 2 of 2 clusters now belong to other files");
}

TEST(Recoverability, BitmapRecordsThatCannotBeTrusted) {
    TBitmapVolume v(16, {});
    const struct {
        const char* what;
        std::vector<std::uint8_t> data;
    } cases[] = {
        {"resident", TAttributeBuilder::Resident(0x80, std::vector<std::uint8_t>(16, 0))},
        {"no end byte",
         TAttributeBuilder::NonResident(0x80, {0x11, 0x01, 0x01, 0x31, 0x01, 0x01, 0x00, 0x00}, 16, 0, 1)},
        {"larger than its runs", TAttributeBuilder::NonResident(0x80, {0x11, 0x01, 0x01, 0x00}, 4097, 0, 0)},
        {"negative size", TAttributeBuilder::NonResident(0x80, {0x11, 0x01, 0x01, 0x00}, -1, 0, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto record = testing_support::TRecordBuilder().Flags(1).Add(c.data).Build();
        EXPECT_FALSE(scan::TClusterBitmap::FromRecord(View(record), 4096));
    }
}

}  // namespace
