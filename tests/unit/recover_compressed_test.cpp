// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/memory_volume.h"
#include "recover/recover_file.h"
#include "unit/record_builder.h"
#include "unit/recover_support.h"

namespace {

using testing_support::ClusterBytes;
using testing_support::TAttributeBuilder;
using testing_support::TRecordBuilder;
using Bytes = std::vector<std::uint8_t>;
using recover::TRecoverStatus;

constexpr std::uint32_t kCluster = 4096;
constexpr std::uint64_t kUnit = 16 * kCluster;  // compression unit 2^4 clusters
constexpr ntfs::TDISK_INFORMATION kGeometry{1024, kCluster, 512, 8};
constexpr std::uint64_t kRecordAt = 4 * kCluster;

Bytes Record(const Bytes& runList, std::int64_t dataSize, std::uint16_t flags, std::uint16_t unitShift) {
    return TRecordBuilder(1024)
        .Add(TAttributeBuilder::StandardInformation(0, 0))
        .Add(TAttributeBuilder::NonResident(0x80, runList, dataSize, 0, 0, flags, unitShift))
        .Build();
}

void Put(Bytes& volume, std::uint64_t at, const Bytes& bytes) {
    std::copy(bytes.begin(), bytes.end(), volume.begin() + static_cast<std::ptrdiff_t>(at));
}

// A file of four compression units as NTFS lays them out:
//   unit 0: stored, all 16 clusters allocated, from two runs (LCN 20..29, 60..65)
//   unit 1: compressed into two clusters from two runs (LCN 40, LCN 70), 14 sparse
//   unit 2: wholly sparse
//   unit 3: the last, 10000 bytes compressed into LCN 50, 15 sparse
class CompressedFile : public ::testing::Test {
protected:
    void SetUp() override {
        unit1.resize(kUnit);
        for (std::size_t i = 0; i < unit1.size(); ++i)
            unit1[i] = static_cast<std::uint8_t>((i / 512) * 7 + 1 + i % 3);
        unit3.resize(10000);
        for (std::size_t i = 0; i < unit3.size(); ++i)
            unit3[i] = static_cast<std::uint8_t>('a' + (i / 100) % 26);
        stream1 = testing_support::EncodeLznt1(unit1);
        stream3 = testing_support::EncodeLznt1(unit3);

        volume.resize(200 * kCluster);
        testing_support::FillClusters(volume, kCluster);
        Bytes padded = stream1;
        padded.resize(2 * kCluster, 0);
        Put(volume, 40 * kCluster, Bytes(padded.begin(), padded.begin() + kCluster));
        Put(volume, 70 * kCluster, Bytes(padded.begin() + kCluster, padded.end()));
        padded = stream3;
        padded.resize(kCluster, 0);
        Put(volume, 50 * kCluster, padded);

        expected.clear();
        for (std::uint64_t lcn : {20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 60, 61, 62, 63, 64, 65}) {
            const auto c = ClusterBytes(lcn, kCluster);
            expected.insert(expected.end(), c.begin(), c.end());
        }
        expected.insert(expected.end(), unit1.begin(), unit1.end());
        expected.resize(3 * kUnit, 0);
        expected.insert(expected.end(), unit3.begin(), unit3.end());
    }

    recover::TRecoverResult Recover(const Bytes& record, const std::string& name = "out.bin") {
        Put(volume, kRecordAt, record);
        platform::TMemoryVolume v(volume);
        return recover::RecoverFileFromRecord(v, kRecordAt, kGeometry, dir.Path(name));
    }

    const Bytes runList = {0x11, 0x0A, 0x14, 0x11, 0x06, 0x28, 0x11, 0x01, 0xEC, 0x11, 0x01,
                           0x1E, 0x01, 0x0E, 0x01, 0x10, 0x11, 0x01, 0xEC, 0x01, 0x0F, 0x00};
    const std::int64_t dataSize = 3 * kUnit + 10000;
    Bytes unit1, unit3, stream1, stream3, volume, expected;
    testing_support::TScratchDir dir;
};

TEST_F(CompressedFile, StoredCompressedAndSparseUnits) {
    // The streams must really span what the runs give them.
    ASSERT_GT(stream1.size(), kCluster);
    ASSERT_LE(stream1.size(), 2 * kCluster);
    ASSERT_LE(stream3.size(), kCluster);

    const auto r = Recover(Record(runList, dataSize, 0x0001, 4));
    ASSERT_EQ(r.Status, TRecoverStatus::Written);
    EXPECT_TRUE(r.Compressed);
    EXPECT_EQ(r.DamagedUnits, 0u);
    EXPECT_EQ(r.Bytes, static_cast<std::uint64_t>(dataSize));
    const Bytes out = testing_support::ReadFileBytes(dir.Path("out.bin"));
    ASSERT_EQ(out.size(), expected.size());
    EXPECT_TRUE(out == expected);
    // The sparse unit and the tail of the last one are holes.
    EXPECT_LE(testing_support::AllocatedBytes(dir.Path("out.bin")), 2 * kUnit + 4 * kCluster);
}

TEST_F(CompressedFile, DamagedUnitCostsOnlyItself) {
    Put(volume, 40 * kCluster, Bytes(kCluster, 0xFF));  // unit 1's first cluster overwritten
    const auto r = Recover(Record(runList, dataSize, 0x0001, 4));
    ASSERT_EQ(r.Status, TRecoverStatus::Written);
    EXPECT_EQ(r.DamagedUnits, 1u);
    const Bytes out = testing_support::ReadFileBytes(dir.Path("out.bin"));
    ASSERT_EQ(out.size(), expected.size());
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + kUnit, expected.begin()));
    EXPECT_TRUE(std::equal(out.begin() + 2 * kUnit, out.end(), expected.begin() + 2 * kUnit));
}

TEST_F(CompressedFile, FlagsDecideTheReading) {
    // Two clusters at LCN 40 and 70 hold unit 1's stream; LCN 40, 41 as raw.
    const Bytes twoRaw = [&] {
        Bytes b(volume.begin() + 40 * kCluster, volume.begin() + 42 * kCluster);
        return b;
    }();
    struct TCase {
        const char* what;
        std::uint16_t flags;
        std::uint16_t unitShift;
        TRecoverStatus status;
        bool decompressed;
    };
    const std::vector<TCase> cases = {
        {"compressed", 0x0001, 4, TRecoverStatus::Written, true},
        {"not compressed", 0x0000, 4, TRecoverStatus::Written, false},
        {"compressed flag without a unit size", 0x0001, 0, TRecoverStatus::Written, false},
        {"encrypted, as it lies", 0x4001, 4, TRecoverStatus::Written, false},
        {"unit too large", 0x0001, 12, TRecoverStatus::BadData, false},
        {"unit shift past 32 bits", 0x0001, 40, TRecoverStatus::BadData, false},
    };
    for (const auto& c : cases) {
        // 2 clusters at LCN 40, 14 sparse: one compressed unit, or two raw clusters and zeros.
        const std::string name = c.what;
        const auto r =
            Recover(Record({0x11, 0x02, 0x28, 0x01, 0x0E, 0x00}, 2 * kCluster, c.flags, c.unitShift), name);
        EXPECT_EQ(r.Status, c.status) << c.what;
        if (r.Status != TRecoverStatus::Written) {
            EXPECT_FALSE(std::filesystem::exists(dir.Path(name))) << c.what;
            continue;
        }
        EXPECT_EQ(r.Compressed, c.decompressed) << c.what;
        const Bytes out = testing_support::ReadFileBytes(dir.Path(name));
        if (c.decompressed)
            EXPECT_TRUE(std::equal(out.begin(), out.end(), unit1.begin())) << c.what;
        else
            EXPECT_EQ(out, twoRaw) << c.what;
    }
}

TEST_F(CompressedFile, HugeRunsCostNoTime) {
    // 2^40 clusters claimed from LCN 100 under a compressed flag: whole units,
    // copied as stored ones; the clusters past the volume's end are no
    // allocation, so the file ends with the volume's last cluster.
    platform::TMemoryVolume v(volume);
    Put(v.Bytes(), kRecordAt,
        Record({0x16, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x64, 0x00}, std::int64_t{1} << 40, 0x0001, 4));
    const auto r = recover::RecoverFileFromRecord(v, kRecordAt, kGeometry, dir.Path("huge"));
    ASSERT_EQ(r.Status, TRecoverStatus::Written);
    EXPECT_LE(v.Reads(), 4u);
    EXPECT_EQ(r.Bytes, 100 * kCluster);
    EXPECT_EQ(r.CutBytes, (std::uint64_t{1} << 40) - 100 * kCluster);
    EXPECT_EQ(r.UnreadBytes, 0u);
    EXPECT_LE(testing_support::AllocatedBytes(dir.Path("huge")), 100 * kCluster + kUnit);
}

}  // namespace
