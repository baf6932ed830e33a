// SPDX-License-Identifier: GPL-3.0-or-later
// Records made to harm the user's disk: sizes that claim far more than the
// runs hold, runs that map the same clusters again and again, and output
// that fails part-way under a file size limit or a killed process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/memory_volume.h"
#include "recover/content_plan.h"
#include "recover/output_file.h"
#include "recover/recover_file.h"
#include "unit/fixtures.h"
#include "unit/record_builder.h"
#include "unit/recover_support.h"
#include "unit/volume_builder.h"

namespace {

using testing_support::PutLe;
using testing_support::TAttributeBuilder;
using testing_support::TRecordBuilder;
using Bytes = std::vector<std::uint8_t>;
using recover::TRecoverStatus;

constexpr std::uint32_t kCluster = 4096;
constexpr ntfs::TDISK_INFORMATION kGeometry{1024, kCluster, 512, 8};
constexpr std::uint64_t kRecordAt = 4 * kCluster;
constexpr std::int64_t kTiB = std::int64_t{1} << 40;

// A deleted file's record whose $DATA has the three sizes given (allocated,
// data, initialized).
Bytes SizedRecord(const Bytes& runList, std::int64_t allocated, std::int64_t dataSize,
                  std::int64_t initialized) {
    Bytes data = TAttributeBuilder::NonResident(0x80, runList, dataSize, 0, 0);
    PutLe(data, 0x28, static_cast<std::uint64_t>(allocated), 8);
    PutLe(data, 0x38, static_cast<std::uint64_t>(initialized), 8);
    return TRecordBuilder(1024)
        .Add(TAttributeBuilder::StandardInformation(0, 0))
        .Add(TAttributeBuilder::FileName(u"f.bin", 1))
        .Add(data)
        .Build();
}

platform::TMemoryVolume Volume(const Bytes& record, std::uint64_t clusters) {
    Bytes bytes(clusters * kCluster);
    testing_support::FillClusters(bytes, kCluster);
    std::copy(record.begin(), record.end(), bytes.begin() + kRecordAt);
    return platform::TMemoryVolume(std::move(bytes));
}

class HostileRecord : public ::testing::Test {
protected:
    recover::TRecoverResult Recover(platform::TRawVolume& volume, const std::string& name = "out.bin") {
        return recover::RecoverFileFromRecord(volume, kRecordAt, kGeometry, dir.Path(name));
    }
    testing_support::TScratchDir dir;
};

TEST_F(HostileRecord, SizeNeverPassesWhatTheRunsAllocate) {
    // Three clusters of runs (12 KiB) at LCN 10 unless the case says otherwise.
    const Bytes threeClusters = {0x11, 0x03, 0x0A, 0x00};
    struct TCase {
        const char* what;
        Bytes runs;
        std::int64_t allocated, dataSize, initialized;
        std::uint64_t size;     // the file's size
        std::uint64_t realMax;  // at most this much disk space
    };
    const std::vector<TCase> cases = {
        {"4 GiB DataSize over 9 KB, all three sizes 4 GiB", threeClusters, 4ll << 30, 4ll << 30, 4ll << 30,
         3 * kCluster, 3 * kCluster + 8192},
        {"4 GiB DataSize, AllocatedSize below it", threeClusters, 9000, 4ll << 30, 4ll << 30, 3 * kCluster,
         3 * kCluster + 8192},
        {"InitializedSize negative, DataSize 1 TiB", threeClusters, kTiB, kTiB, -1, 3 * kCluster,
         3 * kCluster + 8192},
        {"DataSize 2^63 - 1", threeClusters, INT64_MAX, INT64_MAX, INT64_MAX, 3 * kCluster,
         3 * kCluster + 8192},
        {"DataSize within the runs stays", threeClusters, 3 * kCluster, 9000, 9000, 9000,
         3 * kCluster + 8192},
        {"a run of 2^47 clusters from LCN 190: only the 10 inside the volume",
         {0x16, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0xBE, 0x00},
         kTiB,
         kTiB,
         kTiB,
         10 * kCluster,
         10 * kCluster + 8192},
        {"a legitimately sparse file of 1 TiB keeps its size",
         {0x11, 0x01, 0x0A, 0x05, 0xFF, 0xFF, 0xFF, 0x0F, 0x00, 0x00},
         kTiB,
         kTiB,
         kTiB,
         static_cast<std::uint64_t>(kTiB),
         64 * 1024},
    };
    for (const auto& c : cases) {
        auto volume = Volume(SizedRecord(c.runs, c.allocated, c.dataSize, c.initialized), 200);
        const auto r = Recover(volume);
        ASSERT_EQ(r.Status, TRecoverStatus::Written) << c.what;
        EXPECT_EQ(r.Bytes, c.size) << c.what;
        EXPECT_EQ(std::filesystem::file_size(dir.Path("out.bin")), c.size) << c.what;
        EXPECT_LE(testing_support::AllocatedBytes(dir.Path("out.bin")), c.realMax) << c.what;
        EXPECT_EQ(r.CutBytes, static_cast<std::uint64_t>(c.dataSize) - c.size) << c.what;
    }
}

// Run list bytes: `count` runs of `length` clusters, alternately at LCN
// `lcn` and `lcn` + 1, so that each maps nearly the clusters of the one
// before it (a delta of 0 would be a sparse run).
Bytes RepeatedRuns(int count, std::uint16_t length, std::uint16_t lcn) {
    Bytes runs = {0x22, static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
                  static_cast<std::uint8_t>(lcn), static_cast<std::uint8_t>(lcn >> 8)};
    for (int i = 1; i < count; ++i) {
        runs.push_back(0x12);
        runs.push_back(static_cast<std::uint8_t>(length));
        runs.push_back(static_cast<std::uint8_t>(length >> 8));
        runs.push_back(i % 2 == 1 ? 0x01 : 0xFF);
    }
    runs.push_back(0x00);
    return runs;
}

TEST_F(HostileRecord, RepeatedClustersWriteTheVolumeAtMostOnce) {
    // 64 runs of 4093 clusters on a 16 MiB volume: 1 GiB claimed, every run
    // after the first maps clusters the first already used.
    constexpr std::uint64_t kClusters = 4096;
    constexpr std::uint64_t kRunClusters = 4093;
    const std::int64_t claimed = static_cast<std::int64_t>(64 * kRunClusters * kCluster);
    auto volume =
        Volume(SizedRecord(RepeatedRuns(64, kRunClusters, 2), claimed, claimed, claimed), kClusters);
    const auto r = Recover(volume);
    ASSERT_EQ(r.Status, TRecoverStatus::Written);
    EXPECT_EQ(r.Bytes, static_cast<std::uint64_t>(claimed));
    EXPECT_LE(testing_support::AllocatedBytes(dir.Path("out.bin")), kClusters * kCluster);
    // The second run adds its one new cluster (LCN 4095); the rest are holes.
    EXPECT_EQ(r.ReusedBytes, static_cast<std::uint64_t>(claimed) - (kRunClusters + 1) * kCluster);

    // The first use keeps its data, in place; a reused stretch reads as zeros.
    std::ifstream in(dir.Path("out.bin"), std::ios::binary);
    Bytes head(2 * kCluster);
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    EXPECT_EQ(Bytes(head.begin(), head.begin() + kCluster), testing_support::ClusterBytes(2, kCluster));
    Bytes second(kCluster);
    in.seekg(static_cast<std::streamoff>(kRunClusters * kCluster));
    in.read(reinterpret_cast<char*>(second.data()), static_cast<std::streamsize>(second.size()));
    EXPECT_EQ(second, Bytes(kCluster, 0));
}

TEST_F(HostileRecord, ReusedClustersBecomeHolesInFileOrder) {
    // VCN 0-3 at LCN 20-23; VCN 4-5 at LCN 22-23 (used); VCN 6-8 at LCN
    // 23-25 (used, new, new).
    const Bytes runs = {0x11, 0x04, 0x14, 0x11, 0x02, 0x02, 0x11, 0x03, 0x01, 0x00};
    auto volume = Volume(SizedRecord(runs, 9 * kCluster, 9 * kCluster, 9 * kCluster), 200);
    const auto r = Recover(volume);
    ASSERT_EQ(r.Status, TRecoverStatus::Written);
    EXPECT_EQ(r.ReusedBytes, 3u * kCluster);
    Bytes expected;
    for (std::uint64_t lcn : {20, 21, 22, 23}) {
        const Bytes c = testing_support::ClusterBytes(lcn, kCluster);
        expected.insert(expected.end(), c.begin(), c.end());
    }
    expected.resize(7 * kCluster, 0);  // VCN 4-6: holes
    for (std::uint64_t lcn : {24, 25}) {
        const Bytes c = testing_support::ClusterBytes(lcn, kCluster);
        expected.insert(expected.end(), c.begin(), c.end());
    }
    EXPECT_EQ(testing_support::ReadFileBytes(dir.Path("out.bin")), expected);
}

// Writes the built volume to a file, for lumbra-cli.
std::string SaveImage(testing_support::TVolumeBuilder& builder, const testing_support::TScratchDir& dir) {
    const std::string path = dir.Path("volume.img");
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(builder.Bytes().data()),
              static_cast<std::streamsize>(builder.Bytes().size()));
    return path;
}

TEST(HostileOutput, FileSizeLimitSkipsOneFileAndRecoversTheRest) {
    testing_support::TScratchDir dir;
    testing_support::TVolumeBuilder builder;
    builder.Put(16, testing_support::TVolumeBuilder::DeletedFile(u"a.txt", 100));
    builder.Put(17,
                TRecordBuilder(1024)
                    .Add(TAttributeBuilder::StandardInformation(0, 0))
                    .Add(TAttributeBuilder::FileName(u"big.bin", 1))
                    .Add(TAttributeBuilder::NonResident(0x80, {0x11, 0x28, 0x40, 0x00}, 40 * kCluster, 0, 39))
                    .Build());
    builder.Put(18, testing_support::TVolumeBuilder::DeletedFile(u"c.txt", 200));
    const std::string image = SaveImage(builder, dir);
    const std::string out = dir.Path("out");
    const std::string log = dir.Path("log.txt");

    // lumbra-cli in a child whose file size limit is 64 KiB: big.bin (160 KiB)
    // hits it part-way.
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        struct rlimit limit {};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 64 * 1024;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 1);
        ::execl(LUMBRA_CLI, LUMBRA_CLI, "recover", image.c_str(), "--out", out.c_str(), "--all",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 1);  // some files skipped

    const std::string text = [&] {
        std::ifstream in(log);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }();
    EXPECT_NE(text.find("big.bin\tskipped: output file could not be written (File too large)"),
              std::string::npos)
        << text;
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(out)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "c.txt"}));
    EXPECT_EQ(testing_support::ReadFileBytes(out + "/c.txt"), Bytes(200, 0x5A));
}

TEST(HostileOutput, ProcessDyingBeforeCommitLeavesNothing) {
    testing_support::TScratchDir dir;
    testing_support::WriteFileBytes(dir.Path("old.bin"), "precious");
    for (const char* name : {"new.bin", "old.bin"}) {
        const pid_t child = ::fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            auto out = recover::CreateOutputFile(dir.Path(name));
            const Bytes half(100000, 0x42);
            // Dies with the file open: no destructor, no Commit.
            ::_exit(out != nullptr && out->WriteAt(0, half) ? 3 : 2);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_EQ(WEXITSTATUS(status), 3) << name;
        EXPECT_EQ(dir.Names(), std::vector<std::string>{"old.bin"}) << name;
    }
    EXPECT_EQ(testing_support::ReadFileBytes(dir.Path("old.bin")),
              (Bytes{'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
}

TEST(HostileOutput, NewAndReplacedFilesCommitWhole) {
    testing_support::TScratchDir dir;
    testing_support::WriteFileBytes(dir.Path("old.bin"), std::string(50000, 'o'));
    for (const char* name : {"new.bin", "old.bin"}) {
        auto out = recover::CreateOutputFile(dir.Path(name));
        ASSERT_NE(out, nullptr);
        ASSERT_TRUE(out->WriteAt(10, Bytes{'x', 'y'}));
        ASSERT_TRUE(out->Commit(20)) << name;
        Bytes expected(20, 0);
        expected[10] = 'x';
        expected[11] = 'y';
        EXPECT_EQ(testing_support::ReadFileBytes(dir.Path(name)), expected) << name;
    }
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"new.bin", "old.bin"}));
}

}  // namespace
