// SPDX-License-Identifier: GPL-3.0-or-later
// Partition tables: the decoders on hand-built tables (damage included), the
// window onto a partition, and the command line on the committed MBR and GPT
// disk images (each partition's rows and bytes as its manifest says).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <sstream>
#include <tuple>

#include "ntfs/partition_table.h"
#include "platform/memory_volume.h"
#include "platform/window_volume.h"
#include "recover/recovery_run.h"
#include "scan/scan_session.h"
#include "scan/volume_source.h"
#include "unit/fixtures.h"

namespace {

using testing_support::FixtureImage;
using testing_support::FixtureManifest;
using testing_support::RunCommand;

constexpr std::size_t kSector = 512;

void Put32(std::vector<std::uint8_t>& d, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) d[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put64(std::vector<std::uint8_t>& d, std::size_t at, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) d[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// An MBR entry in the sector at `sector`, slot 0..3.
void Entry(std::vector<std::uint8_t>& d, std::uint64_t sector, int slot, std::uint8_t type,
           std::uint32_t start, std::uint32_t count, std::uint8_t status = 0) {
    const std::size_t at = sector * kSector + 446 + 16 * slot;
    d[at] = status;
    d[at + 4] = type;
    Put32(d, at + 8, start);
    Put32(d, at + 12, count);
    d[sector * kSector + 510] = 0x55;
    d[sector * kSector + 511] = 0xAA;
}

ntfs::TPartitionTable Read(const std::vector<std::uint8_t>& disk) {
    return ntfs::ReadPartitionTable(
        [&disk](std::uint64_t offset, std::span<std::uint8_t> out) {
            if (offset > disk.size() || disk.size() - offset < out.size()) return false;
            std::memcpy(out.data(), disk.data() + offset, out.size());
            return true;
        },
        disk.size());
}

std::vector<std::pair<std::uint32_t, std::uint64_t>> NumbersAndStarts(const ntfs::TPartitionTable& t) {
    std::vector<std::pair<std::uint32_t, std::uint64_t>> out;
    for (const auto& p : t.Partitions) out.emplace_back(p.Number, p.StartByte / kSector);
    return out;
}

using TLayout = std::vector<std::pair<std::uint32_t, std::uint64_t>>;

TEST(PartitionTable, MbrPrimariesLogicalsAndDamage) {
    constexpr std::uint32_t kDisk = 4096;  // sectors
    struct TCase {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> build;
        ntfs::TTableKind kind;
        TLayout layout;
    };
    const std::vector<TCase> cases = {
        {"two primaries, one extended with two logicals",
         [](auto& d) {
             Entry(d, 0, 0, 0x07, 64, 100);
             Entry(d, 0, 1, 0x07, 200, 100, 0x80);
             Entry(d, 0, 2, 0x05, 1000, 2000);
             Entry(d, 1000, 0, 0x07, 10, 100);   // logical 5 at 1010
             Entry(d, 1000, 1, 0x05, 500, 200);  // next EBR at 1000 + 500
             Entry(d, 1500, 0, 0x07, 20, 100);   // logical 6 at 1520
         },
         ntfs::TTableKind::Mbr,
         {{1, 64}, {2, 200}, {3, 1000}, {5, 1010}, {6, 1520}}},
        {"an EBR chain that loops back ends after one round",
         [](auto& d) {
             Entry(d, 0, 0, 0x0F, 1000, 2000);
             Entry(d, 1000, 0, 0x07, 10, 10);
             Entry(d, 1000, 1, 0x05, 500, 100);
             Entry(d, 1500, 0, 0x07, 10, 10);
             Entry(d, 1500, 1, 0x05, 500, 100);  // links to itself
         },
         ntfs::TTableKind::Mbr,
         {{1, 1000}, {5, 1010}, {6, 1510}}},
        {"a logical beyond the disk is left out",
         [](auto& d) {
             Entry(d, 0, 0, 0x05, 1000, 2000);
             Entry(d, 1000, 0, 0x07, 10, 50000);
         },
         ntfs::TTableKind::Mbr,
         {{1, 1000}}},
        {"a primary beyond the disk: no table",
         [](auto& d) { Entry(d, 0, 0, 0x07, 64, kDisk); },
         ntfs::TTableKind::None,
         {}},
        {"a boot flag of 0x12: no table",
         [](auto& d) { Entry(d, 0, 0, 0x07, 64, 100, 0x12); },
         ntfs::TTableKind::None,
         {}},
        {"no signature: no table",
         [](auto& d) {
             Entry(d, 0, 0, 0x07, 64, 100);
             d[511] = 0;
         },
         ntfs::TTableKind::None,
         {}},
        {"an NTFS boot sector is a volume, not a table",
         [](auto& d) {
             Entry(d, 0, 0, 0x07, 64, 100);
             std::memcpy(&d[3], "NTFS    ", 8);
         },
         ntfs::TTableKind::None,
         {}},
        {"a protective MBR without any GPT: nothing trusted",
         [](auto& d) { Entry(d, 0, 0, 0xEE, 1, kDisk - 1); },
         ntfs::TTableKind::None,
         {}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> disk(std::size_t{kDisk} * kSector);
        c.build(disk);
        const auto table = Read(disk);
        EXPECT_EQ(table.Kind, c.kind);
        EXPECT_EQ(NumbersAndStarts(table), c.layout);
    }
}

// A GPT disk: protective MBR, header at `headerLba` (and its copy at the
// other end), entries right after the primary header and before the backup.
struct TGptDisk {
    static constexpr std::uint32_t kSectors = 2048;
    std::vector<std::uint8_t> d = std::vector<std::uint8_t>(std::size_t{kSectors} * kSector);

    TGptDisk() {
        Entry(d, 0, 0, 0xEE, 1, kSectors - 1);
        std::vector<std::uint8_t> entries(128 * 128);
        const std::uint8_t basicData[16] = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                            0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
        for (const auto& [slot, first, last] : {std::tuple{0, 40, 99}, std::tuple{2, 100, 1999}}) {
            std::memcpy(&entries[slot * 128], basicData, 16);
            Put64(entries, slot * 128 + 32, first);
            Put64(entries, slot * 128 + 40, last);
            entries[slot * 128 + 56] = 'd';
        }
        std::memcpy(&d[2 * kSector], entries.data(), entries.size());
        std::memcpy(&d[(kSectors - 33) * kSector], entries.data(), entries.size());
        Header(1, kSectors - 1, 2, entries);
        Header(kSectors - 1, 1, kSectors - 33, entries);
    }
    void Header(std::uint64_t lba, std::uint64_t alternate, std::uint64_t entriesLba,
                const std::vector<std::uint8_t>& entries) {
        const std::size_t at = lba * kSector;
        std::memcpy(&d[at], "EFI PART", 8);
        Put32(d, at + 12, 92);
        Put64(d, at + 24, lba);
        Put64(d, at + 32, alternate);
        Put64(d, at + 72, entriesLba);
        Put32(d, at + 80, 128);
        Put32(d, at + 84, 128);
        Put32(d, at + 88, ntfs::Crc32({entries.data(), entries.size()}));
        Put32(d, at + 16, 0);
        Put32(d, at + 16, ntfs::Crc32({&d[at], 92}));
    }
};

TEST(PartitionTable, GptChecksItsCrcsAndFallsBackToTheBackup) {
    EXPECT_EQ(ntfs::Crc32({reinterpret_cast<const std::uint8_t*>("123456789"), 9}), 0xCBF43926u);
    struct TCase {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> damage;
        ntfs::TTableKind kind;
        bool backup;
    };
    const std::vector<TCase> cases = {
        {"sound", [](auto&) {}, ntfs::TTableKind::Gpt, false},
        {"primary header CRC wrong", [](auto& d) { d[kSector + 40] ^= 1; }, ntfs::TTableKind::Gpt, true},
        {"primary entries changed", [](auto& d) { d[2 * kSector + 33] ^= 1; }, ntfs::TTableKind::Gpt, true},
        {"both copies damaged",
         [](auto& d) {
             d[kSector + 40] ^= 1;
             d[(TGptDisk::kSectors - 1) * kSector + 40] ^= 1;
         },
         ntfs::TTableKind::None, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        TGptDisk disk;
        c.damage(disk.d);
        const auto table = Read(disk.d);
        EXPECT_EQ(table.Kind, c.kind);
        EXPECT_EQ(table.UsedBackupGpt, c.backup);
        if (c.kind != ntfs::TTableKind::Gpt) continue;
        EXPECT_EQ(NumbersAndStarts(table), (TLayout{{1, 40}, {3, 100}}));
        EXPECT_EQ(table.Partitions[0].Type, "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7");
        EXPECT_EQ(table.Partitions[0].Name, "d");
        EXPECT_EQ(table.Partitions[1].Size, 1900u * kSector);
    }
}

TEST(PartitionTable, GptHeaderBoundsItsCounts) {
    TGptDisk disk;
    const std::size_t at = kSector;
    const auto reseal = [&] {
        Put32(disk.d, at + 16, 0);
        Put32(disk.d, at + 16, ntfs::Crc32({&disk.d[at], 92}));
    };
    EXPECT_TRUE(ntfs::DecodeGptHeader({&disk.d[at], kSector}, 1));
    EXPECT_FALSE(ntfs::DecodeGptHeader({&disk.d[at], kSector}, 2));  // not where it says it is
    Put32(disk.d, at + 80, 0xFFFFFFFF);                              // four billion entries
    reseal();
    EXPECT_FALSE(ntfs::DecodeGptHeader({&disk.d[at], kSector}, 1));
    Put32(disk.d, at + 80, 128);
    Put32(disk.d, at + 84, 0x10000000);  // entries of 256 MiB
    reseal();
    EXPECT_FALSE(ntfs::DecodeGptHeader({&disk.d[at], kSector}, 1));
    Put32(disk.d, at + 84, 128);
    Put32(disk.d, at + 12, 4096);  // header longer than its sector
    reseal();
    EXPECT_FALSE(ntfs::DecodeGptHeader({&disk.d[at], kSector}, 1));
}

TEST(WindowVolume, ReadsStayInsideThePartition) {
    std::vector<std::uint8_t> bytes(100);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i);
    platform::TWindowVolume window(std::make_unique<platform::TMemoryVolume>(bytes), 10, 20);
    EXPECT_EQ(window.Size(), 20u);
    std::uint8_t out[8] = {};
    EXPECT_EQ(window.ReadAt(0, out), 8u);
    EXPECT_EQ(out[0], 10);
    EXPECT_EQ(window.ReadAt(16, out), 4u);  // cut at the window's end, not the disk's
    EXPECT_EQ(out[3], 29);
    EXPECT_EQ(window.ReadAt(20, out), 0u);
    EXPECT_EQ(window.ReadAt(UINT64_MAX - 2, out), 0u);
    platform::TWindowVolume far(std::make_unique<platform::TMemoryVolume>(bytes), UINT64_MAX - 4, 20);
    EXPECT_EQ(far.ReadAt(8, out), 0u);  // start + offset would wrap
}

// ---------------------------------------------------------------- disk images

std::string Cli(const std::string& args) {
    return "LC_ALL=C TZ=UTC '" LUMBRA_CLI "' " + args + " 2>&1";
}

std::vector<std::string> FirstFields(const std::string& out) {
    std::vector<std::string> fields;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("0x", 0) == 0) fields.push_back(line.substr(0, line.find('\t')));
    return fields;
}

class PartitionedFixture : public ::testing::TestWithParam<std::string> {};

TEST_P(PartitionedFixture, InfoScanAndRecoverEveryNtfsPartition) {
    const auto m = FixtureManifest(GetParam());
    const std::string image = FixtureImage(GetParam()).string();

    // info: the table as the manifest has it (mmls agreed when it was made).
    auto r = RunCommand(Cli("info '" + image + "'"));
    EXPECT_EQ(r.status, 0);
    std::size_t ntfsCount = 0;
    for (const auto& p : m["partitions"]) {
        const std::string line = "Partition " + std::to_string(p["number"].get<int>()) + ": start " +
                                 std::to_string(p["startByte"].get<std::uint64_t>()) + ", size " +
                                 std::to_string(p["size"].get<std::uint64_t>()) + ", type " +
                                 p["type"].get<std::string>();
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
        if (p["ntfs"].get<bool>()) ++ntfsCount;
    }

    // Without --partition: the only NTFS partition, or exit 2 and the list.
    r = RunCommand(Cli("scan '" + image + "'"));
    if (ntfsCount > 1) {
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.out.find("--partition"), std::string::npos);
        EXPECT_NE(r.out.find("Partition 1: start"), std::string::npos);
    } else {
        EXPECT_EQ(r.status, 0);
    }

    for (const auto& p : m["partitions"]) {
        const std::string number = std::to_string(p["number"].get<int>());
        SCOPED_TRACE("partition " + number);
        const auto scanned = RunCommand(Cli("scan '" + image + "' --partition " + number));
        if (!p["ntfs"].get<bool>()) {
            EXPECT_EQ(scanned.status, 2);
            continue;
        }
        EXPECT_EQ(scanned.status, 0);
        std::vector<std::string> want;
        for (const auto& row : p["volume"]["deleted"]) want.push_back(row["caption"]);
        EXPECT_EQ(FirstFields(scanned.out), want);
        if (ntfsCount == 1) {
            EXPECT_EQ(RunCommand(Cli("scan '" + image + "'")).out, scanned.out);
        }

        char pattern[] = "/tmp/lumbra-part-XXXXXX";
        const std::filesystem::path dir = ::mkdtemp(pattern);
        r = RunCommand(
            Cli("recover '" + image + "' --partition " + number + " --out '" + dir.string() + "' --all"));
        EXPECT_EQ(r.status, 0) << r.out;
        for (const auto& row : p["volume"]["deleted"])
            EXPECT_EQ(testing_support::Sha256OfFile(dir / row["name"].get<std::string>()),
                      row["sha256"].get<std::string>())
                << row["name"];
        std::filesystem::remove_all(dir);
    }
    EXPECT_EQ(RunCommand(Cli("scan '" + image + "' --partition 99")).status, 2);
    EXPECT_EQ(testing_support::Sha256OfFile(image), m["imageSha256"].get<std::string>());
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(PartitionedFixture);
INSTANTIATE_TEST_SUITE_P(Disks, PartitionedFixture,
                         ::testing::ValuesIn(testing_support::PartitionedFixtureNames()),
                         [](const auto& p) { return p.param; });

// The scan session and the recovery run take the partition the same way: the
// run reads through a window at the partition's start, so the rows' offsets
// stay offsets within the partition.
struct TNullSessionSink : scan::TScanSessionSink {
    void OnFacts(scan::TScanStage, const scan::TDriveFacts&) override {}
    void OnWalkStart(std::uint64_t) override {}
    void OnProgress(std::uint64_t) override {}
    void OnFound(const scan::DeletedFileEntry&) override {}
};
struct TFiles : recover::TRecoverySink {
    void OnFile(const recover::TFileOutcome& o) override { Files.push_back(o); }
    std::vector<recover::TFileOutcome> Files;
};

TEST(PartitionedSource, SessionAndRecoveryRunReadTheChosenPartition) {
    if (!std::filesystem::exists(FixtureImage("mbr"))) GTEST_SKIP() << "mbr fixture not built";
    const auto m = FixtureManifest("mbr");
    const std::string image = FixtureImage("mbr").string();
    TNullSessionSink sink;
    std::atomic<bool> stop{false};

    // Several NTFS partitions and none chosen: nothing is scanned, the table is told.
    auto result = scan::TScanSession(image).Run(stop, sink);
    EXPECT_EQ(result->Outcome, scan::TScanOutcome::NotNtfs);
    EXPECT_EQ(result->SourceError, scan::TSourceError::SeveralNtfs);
    EXPECT_EQ(result->Partitions.Partitions.size(), m["partitions"].size());

    for (const auto& p : m["partitions"]) {
        if (!p["ntfs"].get<bool>()) continue;
        SCOPED_TRACE(p["number"].get<int>());
        scan::TScanSession::TOptions options;
        options.Partition = p["number"].get<std::uint32_t>();
        result = scan::TScanSession(image, options).Run(stop, sink);
        ASSERT_EQ(result->Outcome, scan::TScanOutcome::Completed);
        EXPECT_EQ(result->Source.StartByte, p["startByte"].get<std::uint64_t>());
        const auto& rows = p["volume"]["deleted"];
        ASSERT_EQ(result->Rows.size(), rows.size());
        std::vector<std::size_t> all;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(result->Rows[i].Caption, rows[i]["caption"].get<std::string>());
            all.push_back(i);
        }
        char pattern[] = "/tmp/lumbra-part-XXXXXX";
        const std::filesystem::path dir = ::mkdtemp(pattern);
        recover::TListedRows chosen(all, recover::TNamingChoice::OldName, dir.string());
        TFiles files;
        const auto summary = recover::TRecoveryRun(result).Run(stop, chosen, files);
        EXPECT_EQ(summary.Written, rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i)
            EXPECT_EQ(testing_support::Sha256OfFile(dir / rows[i]["name"].get<std::string>()),
                      rows[i]["sha256"].get<std::string>());
        std::filesystem::remove_all(dir);
    }
}

TEST(PartitionedSource, VolumeWithoutTableRefusesAPartitionNumber) {
    if (!std::filesystem::exists(FixtureImage("basic"))) GTEST_SKIP();
    const std::string image = FixtureImage("basic").string();
    EXPECT_EQ(RunCommand(Cli("scan '" + image + "' --partition 1")).status, 2);
    EXPECT_EQ(RunCommand(Cli("scan '" + image + "' --partition 0")).status, 2);  // usage
    scan::TSourceRequest request;
    request.Name = image;
    const auto opened = scan::OpenSource(request);
    ASSERT_TRUE(opened.Volume);
    EXPECT_EQ(opened.Layout.Kind, ntfs::TTableKind::None);
    EXPECT_EQ(opened.Source.StartByte, 0u);
}

}  // namespace
