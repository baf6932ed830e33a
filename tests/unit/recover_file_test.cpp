// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/memory_volume.h"
#include "recover/recover_file.h"
#include "recover/run_walk.h"
#include "unit/record_builder.h"
#include "unit/recover_support.h"

namespace {

using testing_support::ClusterBytes;
using testing_support::TAttributeBuilder;
using testing_support::TRecordBuilder;
using Bytes = std::vector<std::uint8_t>;
using recover::TRecoverStatus;

constexpr std::uint32_t kCluster = 4096;
constexpr ntfs::TDISK_INFORMATION kGeometry{1024, kCluster, 512, 8};
constexpr std::uint64_t kRecordAt = 4 * kCluster;
constexpr std::uint64_t kVolumeClusters = 200;

Bytes NonResidentRecord(const Bytes& runList, std::int64_t dataSize, std::uint16_t flags = 0) {
    return TRecordBuilder(1024)
        .Add(TAttributeBuilder::StandardInformation(0, 0))
        .Add(TAttributeBuilder::FileName(u"f.bin", 1))
        .Add(TAttributeBuilder::NonResident(0x80, runList, dataSize, 0, 0, flags))
        .Build();
}

Bytes ResidentRecord(const Bytes& value, std::uint16_t flags = 0) {
    return TRecordBuilder(1024)
        .Add(TAttributeBuilder::StandardInformation(0, 0))
        .Add(TAttributeBuilder::Resident(0x80, value, flags))
        .Build();
}

// A volume of 200 clusters, each filled with its own pattern, with `record`
// at kRecordAt.
platform::TMemoryVolume Volume(const Bytes& record) {
    Bytes bytes(kVolumeClusters * kCluster);
    testing_support::FillClusters(bytes, kCluster);
    std::copy(record.begin(), record.end(), bytes.begin() + kRecordAt);
    return platform::TMemoryVolume(std::move(bytes));
}

Bytes Clusters(std::initializer_list<std::uint64_t> lcns) {
    Bytes out;
    for (auto lcn : lcns) {
        const auto c = ClusterBytes(lcn, kCluster);
        out.insert(out.end(), c.begin(), c.end());
    }
    return out;
}

class RecoverFile : public ::testing::Test {
protected:
    recover::TRecoverResult Recover(platform::TRawVolume& volume, const std::string& name = "out.bin") {
        return recover::RecoverFileFromRecord(volume, kRecordAt, kGeometry, dir.Path(name));
    }
    Bytes Output(const std::string& name = "out.bin") {
        return testing_support::ReadFileBytes(dir.Path(name));
    }

    testing_support::TScratchDir dir;
};

TEST_F(RecoverFile, ThreeRunExample) {
    // 4 clusters from LCN 100, 2 from LCN 90 (delta -10), 3 sparse; cut to 30000.
    auto volume = Volume(NonResidentRecord({0x11, 0x04, 0x64, 0x11, 0x02, 0xF6, 0x01, 0x03, 0x00}, 30000));
    const auto r = Recover(volume);
    ASSERT_EQ(r.Status, TRecoverStatus::Written);
    EXPECT_EQ(r.Bytes, 30000u);
    EXPECT_EQ(r.UnreadBytes, 0u);
    EXPECT_EQ(r.MissingBytes, 0u);
    Bytes expected = Clusters({100, 101, 102, 103, 90, 91});
    expected.resize(30000, 0);
    EXPECT_EQ(Output(), expected);
}

TEST_F(RecoverFile, RunListEdgeCases) {
    struct TCase {
        const char* what;
        Bytes runs;
        std::int64_t dataSize;
        Bytes expected;
    };
    const Bytes oneCluster = Clusters({10});
    // A DataSize past what the runs allocate is damage: the file ends where
    // the runs do (sparse runs count, see the sparse case).
    const std::vector<TCase> cases = {
        {"list starting with the end byte: nothing allocated, empty", {0x00}, 5000, {}},
        {"DataSize 0 whatever the runs", {0x11, 0x01, 0x0A, 0x00}, 0, {}},
        {"DataSize past the runs: cut to the runs", {0x11, 0x01, 0x0A, 0x00}, 3 * kCluster, oneCluster},
        {"DataSize past the runs, a sparse run last: its zeros count",
         {0x11, 0x01, 0x0A, 0x01, 0x02, 0x00},
         3 * kCluster,
         [&] {
             Bytes b = oneCluster;
             b.resize(3 * kCluster, 0);
             return b;
         }()},
        {"L = 0 adds nothing but moves the LCN",
         {0x10, 0x0A, 0x11, 0x01, 0x01, 0x00},
         kCluster,
         Clusters({11})},
        {"O = 1 with offset 00 is sparse",
         {0x11, 0x01, 0x0A, 0x11, 0x01, 0x00, 0x11, 0x01, 0x01, 0x00},
         3 * kCluster,
         [&] {
             Bytes b = oneCluster;
             b.resize(2 * kCluster, 0);
             auto c = Clusters({11});
             b.insert(b.end(), c.begin(), c.end());
             return b;
         }()},
        {"no end byte, last run cut off: not used",
         {0x11, 0x01, 0x0A, 0x41, 0x01, 0x05, 0x00, 0x00},
         2 * kCluster,
         oneCluster},
        {"a later run at a negative LCN keeps its place as zeros",
         {0x11, 0x01, 0x05, 0x11, 0x01, 0xF0, 0x11, 0x01, 0x11, 0x00},
         3 * kCluster,
         [&] {
             Bytes b = Clusters({5});
             b.resize(2 * kCluster, 0);
             auto c = Clusters({6});
             b.insert(b.end(), c.begin(), c.end());
             return b;
         }()},
    };
    for (const auto& c : cases) {
        auto volume = Volume(NonResidentRecord(c.runs, c.dataSize));
        const auto r = Recover(volume);
        ASSERT_EQ(r.Status, TRecoverStatus::Written) << c.what;
        EXPECT_EQ(Output(), c.expected) << c.what;
    }
}

TEST_F(RecoverFile, ResidentValues) {
    auto volume = Volume(ResidentRecord({'h', 'e', 'l', 'l', 'o'}));
    ASSERT_EQ(Recover(volume).Status, TRecoverStatus::Written);
    EXPECT_EQ(Output(), (Bytes{'h', 'e', 'l', 'l', 'o'}));

    // The compressed flag on a resident value changes nothing.
    volume = Volume(ResidentRecord({'a', 'b'}, 0x0001));
    ASSERT_EQ(Recover(volume).Status, TRecoverStatus::Written);
    EXPECT_EQ(Output(), (Bytes{'a', 'b'}));

    // ValueLength 0: an empty file is created.
    volume = Volume(ResidentRecord({}));
    const auto r = Recover(volume, "empty");
    ASSERT_EQ(r.Status, TRecoverStatus::Written);
    EXPECT_TRUE(std::filesystem::exists(dir.Path("empty")));
    EXPECT_EQ(std::filesystem::file_size(dir.Path("empty")), 0u);

    // A ValueLength past the end of the attribute yields the bytes inside it.
    Bytes record = ResidentRecord({'x', 'y', 'z'});
    const std::size_t data = 0x38 + 0x48;  // first attribute at 0x38, SI is 0x48 bytes
    ASSERT_EQ(record[data], 0x80);
    testing_support::PutLe(record, data + 0x10, 0xFFFF, 4);
    volume = Volume(record);
    const auto cut = Recover(volume, "cut");
    ASSERT_EQ(cut.Status, TRecoverStatus::Written);
    EXPECT_EQ(Output("cut").size(), 0x20u - 0x18u);  // the attribute is 0x20 bytes, the value starts at 0x18
    EXPECT_EQ(Output("cut")[0], 'x');
}

TEST_F(RecoverFile, RecordsThatMustNotBeWritten) {
    Bytes torn = ResidentRecord({'n', 'e', 'w'});
    torn[1022] ^= 0xFF;  // the second stretch's sequence number
    Bytes noData = TRecordBuilder(1024).Add(TAttributeBuilder::StandardInformation(0, 0)).Build();
    // A non-resident $DATA whose header the attribute length cuts short.
    Bytes shortData = TRecordBuilder(1024)
                          .Add([] {
                              Bytes a = TAttributeBuilder::NonResident(0x80, {0x00}, 10, 0, 0);
                              testing_support::PutLe(a, 0x04, 0x20, 4);
                              return a;
                          }())
                          .Build();
    struct TCase {
        const char* what;
        Bytes record;
        std::uint64_t offset;
        TRecoverStatus status;
    };
    const std::vector<TCase> cases = {
        {"in use again", TRecordBuilder(1024).Flags(1).Add(TAttributeBuilder::Resident(0x80, {'n'})).Build(),
         kRecordAt, TRecoverStatus::InUse},
        {"a directory", TRecordBuilder(1024).Flags(2).Add(TAttributeBuilder::Resident(0x80, {'n'})).Build(),
         kRecordAt, TRecoverStatus::InUse},
        {"torn record", torn, kRecordAt, TRecoverStatus::FixupsFailed},
        {"no $DATA", noData, kRecordAt, TRecoverStatus::NoData},
        {"$DATA header cut short", shortData, kRecordAt, TRecoverStatus::BadData},
        {"negative DataSize", NonResidentRecord({0x00}, -5), kRecordAt, TRecoverStatus::BadData},
        {"record past the volume's end", ResidentRecord({'n'}), kVolumeClusters * kCluster - 512,
         TRecoverStatus::RecordUnreadable},
    };
    for (const auto& c : cases) {
        testing_support::WriteFileBytes(dir.Path("out.bin"), "precious");
        auto volume = Volume(c.record);
        const auto r = recover::RecoverFileFromRecord(volume, c.offset, kGeometry, dir.Path("out.bin"));
        EXPECT_EQ(r.Status, c.status) << c.what;
        EXPECT_EQ(Output(), (Bytes{'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'})) << c.what;
        EXPECT_EQ(dir.Names(), std::vector<std::string>{"out.bin"}) << c.what;
    }
    auto volume = Volume(ResidentRecord({'n'}));
    EXPECT_EQ(recover::RecoverFileFromRecord(volume, kRecordAt, {1024, 0, 512, 0}, dir.Path("x")).Status,
              TRecoverStatus::BadGeometry);
    EXPECT_EQ(
        recover::RecoverFileFromRecord(volume, kRecordAt, {0x80000000u, kCluster, 512, 8}, dir.Path("x"))
            .Status,
        TRecoverStatus::BadGeometry);
}

TEST_F(RecoverFile, ReplacesAnExistingFileWhole) {
    testing_support::WriteFileBytes(dir.Path("out.bin"), std::string(100000, 'o'));
    auto volume = Volume(ResidentRecord({'n', 'e', 'w'}));
    ASSERT_EQ(Recover(volume).Status, TRecoverStatus::Written);
    EXPECT_EQ(Output(), (Bytes{'n', 'e', 'w'}));
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"out.bin"});
}

TEST_F(RecoverFile, OutputFailuresLeaveNoFileBehind) {
    auto volume = Volume(ResidentRecord({'n'}));
    // A folder that does not exist.
    EXPECT_EQ(Recover(volume, "missing/out.bin").Status, TRecoverStatus::OutputFailed);
    // A folder where the file should go.
    std::filesystem::create_directory(dir.Path("taken"));
    EXPECT_EQ(Recover(volume, "taken").Status, TRecoverStatus::OutputFailed);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"taken"});
}

TEST_F(RecoverFile, WriteFailingHalfWayKeepsTheOldFile) {
    // 64 clusters (256 KiB) with the process's file size limit at 64 KiB:
    // the write fails part-way through the content.
    testing_support::WriteFileBytes(dir.Path("out.bin"), "precious");
    auto volume = Volume(NonResidentRecord({0x11, 0x40, 0x10, 0x00}, 64 * kCluster));
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldSignal = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto r = Recover(volume);
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, oldSignal);
    EXPECT_EQ(r.Status, TRecoverStatus::OutputFailed);
    EXPECT_EQ(Output(), (Bytes{'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"out.bin"});
}

TEST_F(RecoverFile, HostileSizesGiveHolesNotData) {
    // DataSize 1 TiB over one cluster: cut to that cluster (more cases in
    // recover_hostile_test.cpp).
    auto volume = Volume(NonResidentRecord({0x11, 0x01, 0x0A, 0x00}, std::int64_t{1} << 40));
    auto r = Recover(volume);
    ASSERT_EQ(r.Status, TRecoverStatus::Written);
    EXPECT_EQ(std::filesystem::file_size(dir.Path("out.bin")), kCluster);
    EXPECT_EQ(r.CutBytes, (std::uint64_t{1} << 40) - kCluster);
    EXPECT_EQ(r.MissingBytes, 0u);

    // A run of 2^47 clusters from LCN 190: the 10 clusters inside the volume
    // are read, in a few reads, and the file ends with them.
    volume = Volume(
        NonResidentRecord({0x16, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0xBE, 0x00}, std::int64_t{1} << 40));
    r = Recover(volume);
    ASSERT_EQ(r.Status, TRecoverStatus::Written);
    EXPECT_EQ(r.UnreadBytes, 0u);
    EXPECT_LE(volume.Reads(), 4u);
    EXPECT_EQ(Output(), Clusters({190, 191, 192, 193, 194, 195, 196, 197, 198, 199}));

    // 2^63 - 1 bytes over one cluster: one cluster.
    volume = Volume(NonResidentRecord({0x11, 0x01, 0x0A, 0x00}, INT64_MAX));
    r = Recover(volume, "huge");
    ASSERT_EQ(r.Status, TRecoverStatus::Written);
    EXPECT_EQ(Output("huge"), Clusters({10}));
}

// Fails every read that touches [badFrom, badTo); reads before the bad
// range come up short at its start, as a disk with a bad sector does.
class TBadSectorVolume : public platform::TRawVolume {
public:
    TBadSectorVolume(platform::TRawVolume& inner, std::uint64_t from, std::uint64_t to)
        : m_inner(inner), m_from(from), m_to(to) {}
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
        if (offset >= m_from && offset < m_to) return 0;
        if (offset < m_from && offset + out.size() > m_from)
            return m_inner.ReadAt(offset, out.first(static_cast<std::size_t>(m_from - offset)));
        return m_inner.ReadAt(offset, out);
    }
    std::uint64_t Size() const override { return m_inner.Size(); }

private:
    platform::TRawVolume& m_inner;
    std::uint64_t m_from, m_to;
};

TEST_F(RecoverFile, FailedReadsKeepEveryRunInPlace) {
    // A bad cluster inside a run costs that cluster only.
    auto inner = Volume(NonResidentRecord({0x11, 0x04, 0x64, 0x11, 0x02, 0xF6, 0x00}, 6 * kCluster));
    TBadSectorVolume bad(inner, 102 * kCluster, 103 * kCluster);
    auto r = Recover(bad);
    ASSERT_EQ(r.Status, TRecoverStatus::Written);
    EXPECT_EQ(r.UnreadBytes, kCluster);
    Bytes expected = Clusters({100, 101});
    expected.resize(3 * kCluster, 0);
    const auto tail = Clusters({103, 90, 91});
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(Output(), expected);

    // Every read after the record's fails: the runs come out as zeros of
    // their full size, and the file is still written.
    auto volume = Volume(NonResidentRecord({0x11, 0x04, 0x64, 0x11, 0x02, 0xF6, 0x00}, 6 * kCluster));
    platform::TFailingVolume failing(volume, 1);
    r = Recover(failing);
    ASSERT_EQ(r.Status, TRecoverStatus::Written);
    EXPECT_EQ(r.UnreadBytes, 6u * kCluster);
    EXPECT_EQ(Output(), Bytes(6 * kCluster, 0));

    // The record's own read failing writes nothing.
    platform::TFailingVolume dead(volume, 0);
    EXPECT_EQ(Recover(dead, "none").Status, TRecoverStatus::RecordUnreadable);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("none")));
}

TEST_F(RecoverFile, LargeRunsStreamInChunks) {
    // 3 MiB in one run: read in bounded pieces, not in one 3 MiB request.
    Bytes bytes(1024 * kCluster);
    testing_support::FillClusters(bytes, kCluster);
    const Bytes record = NonResidentRecord({0x12, 0x00, 0x03, 0x10, 0x00}, 768 * kCluster);
    std::copy(record.begin(), record.end(), bytes.begin() + kRecordAt);
    platform::TMemoryVolume volume(bytes);
    ASSERT_EQ(Recover(volume).Status, TRecoverStatus::Written);
    EXPECT_EQ(volume.Reads(), 1 + 768 * kCluster / recover::run_walk::kReadChunkBytes);
    const Bytes expected(bytes.begin() + 16 * kCluster, bytes.begin() + (16 + 768) * kCluster);
    EXPECT_EQ(Output(), expected);
}

TEST(RecoverCaption, ParsesHexAfterTwoCharacters) {
    struct TCase {
        const char* caption;
        std::optional<std::uint64_t> offset;
    };
    const std::vector<TCase> cases = {
        {"0x4000", 0x4000},
        {"0xabCDef", 0xABCDEF},
        {"0X10", 0x10},
        {"zz10", 0x10},  // the first two characters are dropped whatever they are
        {"0xFFFFFFFFFFFFFFFF", UINT64_MAX},
        {"0x00000000000000000001", 1},
        {"0x1FFFFFFFFFFFFFFFF", std::nullopt},
        {"0x", std::nullopt},
        {"", std::nullopt},
        {"0x12G4", std::nullopt},
        {"0x-1", std::nullopt},
        {"0x 12", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(recover::ParseCaption(c.caption), c.offset) << c.caption;
}

}  // namespace
