// SPDX-License-Identifier: GPL-3.0-or-later
// The deep scan as the front ends run it: a deep session over a whole
// source, then a recovery run over its rows. Each row is rebuilt in the file
// system it was found in, from its record where the pass found it, so a
// quick-formatted volume, a volume at an odd offset without boot sectors and
// two volumes on a disk without a table all give back the original's
// deleted files byte for byte, and the verdicts come from each volume's
// allocation bitmap as it is now.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "ntfs/attribute.h"
#include "ntfs/attribute_list.h"
#include "ntfs/data_runs.h"
#include "ntfs/file_record.h"
#include "platform/memory_volume.h"
#include "recover/recovery_run.h"
#include "scan/scan_session.h"
#include "unit/fixtures.h"
#include "unit/recover_support.h"

using testing_support::FixtureImage;
using testing_support::FixtureManifest;

namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> ImageBytes(const std::string& name) {
    std::ifstream in(FixtureImage(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class TProgress : public scan::TScanSessionSink {
public:
    void OnFacts(scan::TScanStage, const scan::TDriveFacts&) override {}
    void OnWalkStart(std::uint64_t mib) override { Total = mib; }
    void OnProgress(std::uint64_t mib) override {
        EXPECT_GE(mib, Last);
        Last = mib;
    }
    void OnFound(const scan::DeletedFileEntry&) override { ++Found; }
    void OnDetails(std::size_t row, const scan::TRowDetails&) override { Details.push_back(row); }
    std::uint64_t Total = 0, Last = 0, Found = 0;
    std::vector<std::size_t> Details;
};

class TCollectFiles : public recover::TRecoverySink {
public:
    void OnFile(const recover::TFileOutcome& outcome) override { Files.push_back(outcome); }
    std::vector<recover::TFileOutcome> Files;
};

std::shared_ptr<const scan::TScanResult> DeepScan(std::vector<std::uint8_t> disk, TProgress& sink) {
    scan::TScanOptions options;
    options.Deep = true;
    std::atomic<bool> stop{false};
    return scan::TScanSession(std::make_unique<platform::TMemoryVolume>(std::move(disk)), options)
        .Run(stop, sink);
}

// The runs of the unnamed $DATA of the record at `at` (fixups applied by hand).
std::vector<ntfs::TDataRun> RunsAt(const std::vector<std::uint8_t>& disk, std::uint64_t at) {
    std::vector<std::uint8_t> record(disk.begin() + static_cast<std::ptrdiff_t>(at),
                                     disk.begin() + static_cast<std::ptrdiff_t>(at + 1024));
    EXPECT_TRUE(ntfs::ApplyFixups(record, ntfs::TDISK_INFORMATION{1024, 4096, 512, 8}));
    const ntfs::TByteView view(record.data(), record.size());
    const ntfs::TByteView data = ntfs::LocateUnnamedData(view);
    const auto nr = ntfs::DecodeNonResident(data);
    if (!nr) return {};
    return ntfs::DecodeRunList(data.Sub(nr->RunListOffset, data.Size()), 0).Runs;
}

// Marks clusters [first, first + count) in use in the live volume's bitmap,
// as a file written after the format would.
void MarkInUse(std::vector<std::uint8_t>& disk, std::uint64_t first, std::uint64_t count) {
    std::atomic<bool> stop{false};
    scan::TQuietScanSink quiet;
    const auto normal = scan::TScanSession(std::make_unique<platform::TMemoryVolume>(disk)).Run(stop, quiet);
    const std::uint64_t bitmapRecord = normal->Layout.Map.Extents().front().VolumeOffset + 6 * 1024;
    const auto runs = RunsAt(disk, bitmapRecord);
    ASSERT_FALSE(runs.empty());
    const std::uint64_t bitmap = static_cast<std::uint64_t>(runs.front().Lcn) * 4096;
    for (std::uint64_t c = first; c < first + count; ++c) disk[bitmap + c / 8] |= std::uint8_t(1u << (c % 8));
}

struct TCase {
    const char* what;
    std::vector<std::uint8_t> disk;
    std::vector<std::uint64_t> starts;  // where each copy of basic begins
    const char* overwritten = nullptr;  // a file whose clusters the live volume now uses
};

TEST(DeepSession, RecoversEveryDeletedFileInItsOwnVolume) {
    const auto basic = ImageBytes("basic");
    const auto b = FixtureManifest("basic");
    const std::uint64_t odd = (3u << 20) + 7 * 512;
    std::vector<std::uint8_t> shifted(odd, 0);
    shifted.insert(shifted.end(), basic.begin(), basic.end());
    shifted.resize(shifted.size() + (1u << 20), 0);
    std::fill_n(shifted.begin() + static_cast<std::ptrdiff_t>(odd), 512, std::uint8_t{0});
    std::fill_n(shifted.begin() + static_cast<std::ptrdiff_t>(odd + basic.size() - 512), 512,
                std::uint8_t{0});
    const std::uint64_t second = (20u << 20) + 3 * 512;
    std::vector<std::uint8_t> two(1u << 20, 0);
    two.insert(two.end(), basic.begin(), basic.end());
    two.resize(second, 0);
    two.insert(two.end(), basic.begin(), basic.end());
    // The quick format, and a file written over one old file's clusters since.
    auto written = ImageBytes("qformat");
    // holiday.jpg (non-resident): the format left basic's old records where they were.
    std::uint64_t victimRecord = 0;
    for (const auto& r : b["deleted"])
        if (r["name"] == "holiday.jpg")
            victimRecord = std::stoull(r["caption"].get<std::string>(), nullptr, 16);
    const auto victimRuns = RunsAt(written, victimRecord);
    ASSERT_FALSE(victimRuns.empty());
    MarkInUse(written, static_cast<std::uint64_t>(victimRuns.front().Lcn), victimRuns.front().Length);

    TCase cases[] = {
        {"a quick format", ImageBytes("qformat"), {0}},
        {"a quick format, then a file written over an old one", written, {0}, "holiday.jpg"},
        {"no boot sector at an odd offset", shifted, {odd}},
        {"two volumes, no partition table", two, {1u << 20, second}},
    };
    for (TCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::uint64_t bytes = c.disk.size();
        TProgress progress;
        const auto result = DeepScan(std::move(c.disk), progress);
        ASSERT_EQ(result->Outcome, scan::TScanOutcome::Completed);
        ASSERT_TRUE(result->Deep);
        EXPECT_EQ(progress.Total, (bytes + (1u << 20) - 1) >> 20);
        EXPECT_EQ(progress.Last, progress.Total);
        ASSERT_EQ(result->DeepRows.size(), result->Rows.size());
        EXPECT_EQ(progress.Found, result->Rows.size());
        EXPECT_EQ(progress.Details.size(), result->Rows.size());

        testing_support::TScratchDir dir;
        std::vector<std::size_t> all(result->Rows.size());
        for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
        recover::TListedRows rows(all, recover::TNamingChoice::AutoName, dir.Root());
        TCollectFiles files;
        std::atomic<bool> stop{false};
        const auto summary = recover::TRecoveryRun(result).Run(stop, rows, files);
        EXPECT_FALSE(summary.OpenFailure);
        EXPECT_EQ(summary.Written, result->Rows.size());
        EXPECT_EQ(summary.Skipped, 0u);

        // (volume start, record) -> the file written for it
        std::map<std::pair<std::uint64_t, std::uint64_t>, const recover::TFileOutcome*> byPlace;
        for (const auto& f : files.Files) {
            const auto& facts = result->DeepRows.at(f.Index);
            const auto& row = result->Rows.at(f.Index);
            byPlace[{result->DeepVolumes.at(facts.Volume).Found.StartByte, row.Record}] = &f;
            // A lost file (in use when last written) comes back whole too.
            EXPECT_EQ(f.Result.Bytes, static_cast<std::uint64_t>(row.Size)) << row.NameText;
        }
        for (const std::uint64_t start : c.starts) {
            for (const auto& want : b["deleted"]) {
                SCOPED_TRACE(want["name"].get<std::string>());
                const auto it = byPlace.find({start, want["record"].get<std::uint64_t>()});
                ASSERT_NE(it, byPlace.end());
                const auto& row = result->Rows[it->second->Index];
                const bool overwritten = c.overwritten != nullptr && want["name"] == c.overwritten;
                const std::string verdict = scan::VerdictText(row.Details.Recoverability.Verdict);
                if (overwritten) {
                    EXPECT_NE(verdict, "intact");
                    EXPECT_NE(verdict, "unknown");
                } else if (result->DeepVolumes[result->DeepRows[it->second->Index].Volume].Read.LiveMft) {
                    EXPECT_EQ(verdict, testing_support::ExpectedVerdict(want));
                }
                // The bytes are the original's: nothing was written over them
                // on the disk here, whatever the bitmap says now.
                EXPECT_EQ(testing_support::Sha256OfFile(it->second->Target),
                          want["sha256"].get<std::string>());
            }
        }
    }
}

}  // namespace
