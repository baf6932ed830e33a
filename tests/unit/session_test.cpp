// SPDX-License-Identifier: GPL-3.0-or-later
// The scan session and the recovery run on the committed real images: the
// facts as data, the rows with their record numbers, every deleted file back
// byte for byte, rows that keep their volume when the drive table changes,
// a record that straddles two MFT extents, and failures with their reasons.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <thread>
#include <tuple>

#include "ntfs/text.h"
#include "platform/memory_volume.h"
#include "recover/recovery_run.h"
#include "scan/drive_letters.h"
#include "scan/probe.h"
#include "scan/scan_session.h"
#include "unit/fixtures.h"
#include "unit/volume_builder.h"

using testing_support::FixtureImage;
using testing_support::FixtureManifest;

namespace {

namespace fs = std::filesystem;

class TTempDir {
public:
    TTempDir() {
        char pattern[] = "/tmp/lumbra-session-XXXXXX";
        m_path = ::mkdtemp(pattern);
    }
    ~TTempDir() {
        std::error_code ec;
        fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(m_path, ec);
    }
    const fs::path& Path() const { return m_path; }

private:
    fs::path m_path;
};

// Records what the session reports, in order.
class TRecordingSink : public scan::TScanSessionSink {
public:
    void OnFacts(scan::TScanStage stage, const scan::TDriveFacts& facts) override {
        Stages.push_back(stage);
        Facts = facts;
    }
    void OnWalkStart(std::uint64_t walkLength) override { WalkLength = walkLength; }
    void OnProgress(std::uint64_t recordsDone) override { LastProgress = recordsDone; }
    void OnFound(const scan::DeletedFileEntry& entry) override { Found.push_back(entry.Record); }

    std::vector<scan::TScanStage> Stages;
    scan::TDriveFacts Facts;
    std::uint64_t WalkLength = 0;
    std::uint64_t LastProgress = 0;
    std::vector<std::uint64_t> Found;
};

class TCollectFiles : public recover::TRecoverySink {
public:
    void OnFile(const recover::TFileOutcome& outcome) override { Files.push_back(outcome); }
    std::vector<recover::TFileOutcome> Files;
};

std::vector<std::size_t> AllRows(const scan::TScanResult& result) {
    std::vector<std::size_t> all(result.Rows.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    return all;
}

std::shared_ptr<const scan::TScanResult> Scan(const std::string& source, scan::TScanOptions options = {}) {
    std::atomic<bool> stop{false};
    scan::TQuietScanSink sink;
    return scan::TScanSession(source, options).Run(stop, sink);
}

// Checks every recovered file against the manifest's sha256 and size.
void ExpectManifestFiles(const nlohmann::json& m, const scan::TScanResult& result,
                         const std::vector<recover::TFileOutcome>& files) {
    std::map<std::uint64_t, const recover::TFileOutcome*> byRecord;
    for (const auto& f : files) byRecord[result.Rows.at(f.Index).Record] = &f;
    for (const auto& row : m["deleted"]) {
        SCOPED_TRACE(row["name"].get<std::string>());
        const auto it = byRecord.find(row["record"].get<std::uint64_t>());
        ASSERT_NE(it, byRecord.end());
        EXPECT_EQ(it->second->Result.Status, recover::TRecoverStatus::Written);
        // A row whose clusters were reused comes back as other files' bytes.
        const std::string verdict = testing_support::ExpectedVerdict(row);
        if (verdict == "partial" || verdict == "overwritten") {
            EXPECT_NE(testing_support::Sha256OfFile(it->second->Target), row["sha256"].get<std::string>());
        } else {
            EXPECT_EQ(testing_support::Sha256OfFile(it->second->Target), row["sha256"].get<std::string>());
        }
        EXPECT_EQ(fs::file_size(it->second->Target), row["size"].get<std::uint64_t>());
    }
}

class FixtureSession : public ::testing::TestWithParam<std::string> {};

TEST_P(FixtureSession, ReportsFactsAsDataAndRowsWithRecordNumbers) {
    const auto m = FixtureManifest(GetParam());
    const std::string image = FixtureImage(GetParam()).string();
    std::atomic<bool> stop{false};
    TRecordingSink sink;
    const auto result = scan::TScanSession(image).Run(stop, sink);

    ASSERT_EQ(result->Outcome, scan::TScanOutcome::Completed);
    EXPECT_FALSE(result->OpenFailure);
    EXPECT_EQ(result->Source.Drive, image);
    EXPECT_EQ(result->Source.Resolved, image);
    EXPECT_EQ(sink.Stages,
              (std::vector<scan::TScanStage>{scan::TScanStage::BootSector, scan::TScanStage::Geometry,
                                             scan::TScanStage::MftLayout}));
    const auto& boot = m["boot"];
    EXPECT_EQ(result->Facts.Oem, "NTFS");
    EXPECT_EQ(ntfs::HexUpper(result->Facts.SerialNumber, 16), boot["serial"].get<std::string>());
    EXPECT_EQ(result->Facts.MftByteOffset, boot["mftByteOffset"].get<std::uint64_t>());
    EXPECT_EQ(result->Facts.VolumeBytes,
              boot["totalSectors"].get<std::uint64_t>() * boot["bytesPerSector"].get<std::uint64_t>());
    EXPECT_EQ(result->Facts.RecordCount, m["mft"]["records"].get<std::uint64_t>());
    unsigned mirrored = 0;  // the damaged first records come from the $MFTMirr, and only they
    for (const auto& n : m.value("damagedRecords", nlohmann::json::array()))
        mirrored |= 1u << n.get<unsigned>();
    EXPECT_EQ(result->Facts.MirroredRecords, mirrored);
    std::uint64_t mftClusters = 0;  // the MFT's bytes: all its clusters, as the map covers them
    for (const auto& run : m["mft"]["runs"]) mftClusters += run["clusters"].get<std::uint64_t>();
    EXPECT_EQ(result->Facts.MftBytes, mftClusters * boot["bytesPerCluster"].get<std::uint64_t>());
    if (boot.contains("label")) {
        EXPECT_EQ(result->Facts.Label, boot["label"].get<std::string>());
    }
    EXPECT_EQ(result->Geometry.BytesPerFileRecord, boot["bytesPerFileRecord"].get<std::uint32_t>());
    EXPECT_EQ(sink.WalkLength, result->Facts.RecordCount - 16);
    EXPECT_EQ(sink.LastProgress, sink.WalkLength);
    EXPECT_EQ(result->Counters.RecordsWalked, sink.WalkLength);

    std::vector<std::uint64_t> expected;
    for (const auto& row : m["deleted"]) expected.push_back(row["record"].get<std::uint64_t>());
    std::sort(expected.begin(), expected.end());
    std::vector<std::uint64_t> kept;
    for (const auto& row : result->Rows) {
        kept.push_back(row.Record);
        EXPECT_EQ(row.Caption, scan::CaptionText(row.ByteOffset));
    }
    EXPECT_EQ(kept, expected);
    EXPECT_EQ(sink.Found, expected);
    // Once the walk is over every kept row carries its original path and verdict.
    ASSERT_EQ(result->Rows.size(), m["deleted"].size());
    for (std::size_t i = 0; i < result->Rows.size(); ++i) {
        const auto& want = m["deleted"][i];
        EXPECT_EQ(result->Rows[i].Details.Path, testing_support::ExpectedPath(want));
        EXPECT_EQ(scan::VerdictText(result->Rows[i].Details.Recoverability.Verdict),
                  testing_support::ExpectedVerdict(want));
    }
}

TEST_P(FixtureSession, RecoveryRunWritesEveryDeletedFileByteForByte) {
    const auto m = FixtureManifest(GetParam());
    const auto result = Scan(FixtureImage(GetParam()).string());
    ASSERT_EQ(result->Outcome, scan::TScanOutcome::Completed);
    TTempDir dir;
    recover::TListedRows rows(AllRows(*result), recover::TNamingChoice::OldName, dir.Path().string());
    TCollectFiles files;
    std::atomic<bool> stop{false};
    const auto summary = recover::TRecoveryRun(result).Run(stop, rows, files);
    EXPECT_FALSE(summary.OpenFailure);
    EXPECT_FALSE(summary.Stopped);
    EXPECT_EQ(summary.Written, result->Rows.size());
    EXPECT_EQ(summary.Skipped, 0u);
    ASSERT_EQ(files.Files.size(), result->Rows.size());
    for (const auto& f : files.Files) EXPECT_EQ(fs::path(f.Target).parent_path(), dir.Path());
    ExpectManifestFiles(m, *result, files.Files);
}

// What a run leaves behind: each reported file as the sink saw it, with the
// sha256 of what was written, and the names in the folder.
struct TRunPrint {
    std::vector<std::tuple<std::size_t, std::string, recover::TRecoverStatus, std::uint64_t, std::string>>
        Files;
    std::vector<std::string> Folder;
    bool operator==(const TRunPrint&) const = default;
};

// A window's rows: each asked for only once the file before reached the
// sink, which the run must keep to.
class TOneAtATime : public recover::TRowSource {
public:
    TOneAtATime(recover::TRowSource& rows, const TCollectFiles& sink) : m_rows(rows), m_sink(sink) {}
    std::optional<recover::TChosenRow> Next(std::size_t from) override {
        EXPECT_EQ(m_asked++, m_sink.Files.size()) << "a row asked for before the file before it was named";
        return m_rows.Next(from);
    }

private:
    recover::TRowSource& m_rows;
    const TCollectFiles& m_sink;
    std::size_t m_asked = 0;
};

// Stops the run once `after` files have reached it.
class TStopAfter : public TCollectFiles {
public:
    TStopAfter(std::atomic<bool>& stop, std::size_t after) : m_stop(stop), m_after(after) {}
    void OnFile(const recover::TFileOutcome& outcome) override {
        TCollectFiles::OnFile(outcome);
        if (Files.size() == m_after) m_stop = true;
    }

private:
    std::atomic<bool>& m_stop;
    std::size_t m_after;
};

// threads 0: the rows one at a time, as a window hands them out; else a
// fixed list, written ahead by that many threads. `stopAfter` 0: no stop.
TRunPrint RecoverAll(const std::shared_ptr<const scan::TScanResult>& result, unsigned threads,
                     std::size_t stopAfter = 0) {
    TTempDir dir;
    recover::TListedRows listed(AllRows(*result), recover::TNamingChoice::OldName, dir.Path().string());
    std::atomic<bool> stop{false};
    TStopAfter files(stop, stopAfter);
    TOneAtATime window(listed, files);
    recover::TRecoveryRun run(result);
    run.SetWriteThreads(threads);
    const auto summary =
        run.Run(stop, threads == 0 ? static_cast<recover::TRowSource&>(window) : listed, files);
    EXPECT_EQ(summary.Stopped, stopAfter != 0 && stopAfter < result->Rows.size());
    TRunPrint print;
    for (const auto& f : files.Files) {
        const bool written = f.Result.Status == recover::TRecoverStatus::Written;
        print.Files.emplace_back(f.Index, fs::path(f.Target).filename().string(), f.Result.Status,
                                 f.Result.Bytes, written ? testing_support::Sha256OfFile(f.Target) : "");
    }
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        print.Folder.push_back(entry.path().filename());
    std::sort(print.Folder.begin(), print.Folder.end());
    return print;
}

// Writing ahead changes when content is written, never what: the same names
// (clashes and refused names included), statuses and bytes in the same
// order, and nothing else in the folder, also when a stop ends the run.
TEST_P(FixtureSession, FilesWrittenAheadAreTheFilesWrittenOneAtATime) {
    const auto result = Scan(FixtureImage(GetParam()).string());
    ASSERT_EQ(result->Outcome, scan::TScanOutcome::Completed);
    const TRunPrint once = RecoverAll(result, 0);
    ASSERT_EQ(once.Files.size(), result->Rows.size());
    std::size_t written = 0;
    for (const auto& f : once.Files) written += std::get<2>(f) == recover::TRecoverStatus::Written;
    EXPECT_EQ(once.Folder.size(), written);
    for (const unsigned threads : {1u, 2u, 3u}) {
        SCOPED_TRACE(threads);
        EXPECT_EQ(RecoverAll(result, threads), once);
        if (result->Rows.empty()) continue;  // a volume without deleted rows (a fresh format)
        const std::size_t stopAfter = std::max<std::size_t>(1, result->Rows.size() / 2);
        const TRunPrint stopped = RecoverAll(result, threads, stopAfter);
        ASSERT_EQ(stopped.Files.size(), stopAfter);
        EXPECT_TRUE(std::equal(stopped.Files.begin(), stopped.Files.end(), once.Files.begin()));
        std::size_t kept = 0;
        for (const auto& f : stopped.Files) kept += std::get<2>(f) == recover::TRecoverStatus::Written;
        EXPECT_EQ(stopped.Folder.size(), kept) << "content written ahead of a stop must not stay";
    }
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FixtureSession);
INSTANTIATE_TEST_SUITE_P(Images, FixtureSession, ::testing::ValuesIn(testing_support::FixtureNames()),
                         [](const auto& p) { return p.param; });

TEST(ScanSession, SessionsRunOnEveryNtfsFixture) {
    // A missing image is a failure, not a quietly shorter list.
    // Every committed manifest has its image: none may go missing quietly.
    std::size_t manifests = 0;
    for (const auto& entry : fs::directory_iterator(LUMBRA_FIXTURE_MANIFESTS))
        if (entry.path().extension() == ".json") ++manifests;
    auto all = testing_support::FixtureNames(false);
    for (const auto& name : testing_support::PartitionedFixtureNames()) all.push_back(name);
    for (const auto& name : testing_support::DeepFixtureNames(true)) all.push_back(name);
    EXPECT_GE(manifests, 17u);
    EXPECT_EQ(all.size(), manifests);
    EXPECT_GE(testing_support::FixtureNames().size(), 14u);
    for (const auto& name : all) EXPECT_TRUE(fs::exists(FixtureImage(name))) << name;
}

// Scan D:, then let the drive table say D: is another image: the recovery
// still reads the volume the rows were scanned from.
TEST(ScanSession, RowsKeepTheirVolume) {
    const std::string a = FixtureImage("basic").string();
    const std::string b = FixtureImage("c512").string();
    ::setenv("LUMBRA_DRIVES", ("D=" + a + ";E=" + b).c_str(), 1);
    const auto result = Scan("D:");
    ::unsetenv("LUMBRA_DRIVES");
    ASSERT_EQ(result->Outcome, scan::TScanOutcome::Completed);
    EXPECT_EQ(result->Source.Drive, "D:");
    EXPECT_EQ(result->Source.Resolved, a);

    // Whatever D: and E: stand for now, the run reads `a`.
    ::setenv("LUMBRA_DRIVES", ("D=" + b + ";E=" + b).c_str(), 1);
    TTempDir dir;
    recover::TListedRows rows(AllRows(*result), recover::TNamingChoice::OldName, dir.Path().string());
    TCollectFiles files;
    std::atomic<bool> stop{false};
    const auto summary = recover::TRecoveryRun(result).Run(stop, rows, files);
    ::unsetenv("LUMBRA_DRIVES");
    EXPECT_EQ(summary.Skipped, 0u);
    ExpectManifestFiles(FixtureManifest("basic"), *result, files.Files);
}

// A drive-table entry naming a partitioned disk: each NTFS partition is a
// letter of its own (D:, then F: and G: past E:), whose probe, scan and
// recovery read that partition, with its own label.
TEST(ScanSession, EachNtfsPartitionOfADiskIsALetter) {
    const auto m = FixtureManifest("mbr");
    const std::string disk = FixtureImage("mbr").string();
    const std::string basic = FixtureImage("basic").string();
    ::setenv("LUMBRA_DRIVES", ("D=" + disk + ";E=" + basic).c_str(), 1);
    EXPECT_EQ(scan::DriveLettersMask(), 0b1111000u);
    const std::map<std::string, std::uint32_t> letters = {{"D:", 1}, {"F:", 2}, {"G:", 5}};
    for (const auto& letter : letters) {
        // Plain names: clang 14 lambdas cannot capture structured bindings.
        const std::string& drive = letter.first;
        const std::uint32_t number = letter.second;
        SCOPED_TRACE(drive);
        const auto it = std::find_if(m["partitions"].begin(), m["partitions"].end(),
                                     [&](const auto& p) { return p["number"] == number; });
        ASSERT_NE(it, m["partitions"].end());
        const auto& volume = (*it)["volume"];
        const std::string label = volume["boot"]["label"].get<std::string>();

        const auto probe = scan::ProbeDrive(drive);
        ASSERT_TRUE(probe);
        EXPECT_EQ(probe->Oem, "NTFS");
        EXPECT_EQ(probe->Label, label);
        EXPECT_EQ(ntfs::HexUpper(probe->SerialNumber, 16), volume["boot"]["serial"].get<std::string>());

        const auto result = Scan(drive);
        ASSERT_EQ(result->Outcome, scan::TScanOutcome::Completed);
        EXPECT_EQ(result->Source.Partition, number);
        EXPECT_EQ(result->Source.Resolved, disk);
        EXPECT_EQ(result->Source.StartByte, (*it)["startByte"].get<std::uint64_t>());
        EXPECT_EQ(result->Facts.Label, label);
        ASSERT_EQ(result->Rows.size(), volume["deleted"].size());
        for (std::size_t i = 0; i < result->Rows.size(); ++i)
            EXPECT_EQ(result->Rows[i].Caption, volume["deleted"][i]["caption"].get<std::string>());

        TTempDir dir;
        recover::TListedRows rows(AllRows(*result), recover::TNamingChoice::OldName, dir.Path().string());
        TCollectFiles files;
        std::atomic<bool> stop{false};
        const auto summary = recover::TRecoveryRun(result).Run(stop, rows, files);
        EXPECT_EQ(summary.Written, result->Rows.size());
        ExpectManifestFiles(volume, *result, files.Files);
    }
    // The plain image keeps its letter and its label; a partition number
    // given outright still wins over the letter's.
    const auto plain = Scan("E:");
    ASSERT_EQ(plain->Outcome, scan::TScanOutcome::Completed);
    EXPECT_EQ(plain->Facts.Label, FixtureManifest("basic")["boot"]["label"].get<std::string>());
    scan::TScanOptions second;
    second.Partition = 2;
    const auto chosen = Scan("D:", second);
    EXPECT_EQ(chosen->Source.Partition, 2u);
    EXPECT_FALSE(Scan("H:")->Source.Partition);
    // A refresh looks at the disks again and moves no letter.
    const auto before = scan::DriveLetters();
    const auto after = scan::RefreshDriveLetters();
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(after[i].Letter, before[i].Letter);
        EXPECT_EQ(after[i].Path, before[i].Path);
        EXPECT_EQ(after[i].Partition, before[i].Partition);
    }
    ::unsetenv("LUMBRA_DRIVES");
}

TEST(ScanSession, StopFlagEndsTheWalkBeforeAnyRecord) {
    std::atomic<bool> stop{true};
    TRecordingSink sink;
    const auto result = scan::TScanSession(FixtureImage("basic").string()).Run(stop, sink);
    EXPECT_EQ(result->Outcome, scan::TScanOutcome::Stopped);
    EXPECT_TRUE(result->Rows.empty());
    EXPECT_EQ(sink.Stages.size(), 3u);  // the facts are still known
}

TEST(ScanSession, StreamingSessionKeepsNoRowsAndProbesNoLabel) {
    scan::TScanOptions options;
    options.KeepRows = false;
    options.ReadLabel = false;
    std::atomic<bool> stop{false};
    TRecordingSink sink;
    const auto result = scan::TScanSession(FixtureImage("basic").string(), options).Run(stop, sink);
    EXPECT_EQ(result->Outcome, scan::TScanOutcome::Completed);
    EXPECT_TRUE(result->Rows.empty());
    EXPECT_EQ(sink.Found.size(), FixtureManifest("basic")["deleted"].size());
    EXPECT_TRUE(result->Facts.Label.empty());
}

TEST(ScanSession, NotNtfsReportsTheBootSectorAndEnds) {
    TRecordingSink sink;
    std::atomic<bool> stop{false};
    const auto result = scan::TScanSession(FixtureImage("notntfs").string()).Run(stop, sink);
    EXPECT_EQ(result->Outcome, scan::TScanOutcome::NotNtfs);
    EXPECT_EQ(sink.Stages, std::vector<scan::TScanStage>{scan::TScanStage::BootSector});
    EXPECT_EQ(result->Facts.Label, FixtureManifest("notntfs")["label"].get<std::string>());
}

TEST(ScanSession, OpenFailuresSayWhy) {
    const auto missing = Scan("/nonexistent/lumbra/disk.img");
    EXPECT_EQ(missing->Outcome, scan::TScanOutcome::VolumeDidNotOpen);
    ASSERT_TRUE(missing->OpenFailure);
    EXPECT_EQ(missing->OpenFailure->Kind, platform::TOpenError::NoSuchDevice);
    EXPECT_EQ(missing->OpenFailure->Error, ENOENT);
    EXPECT_EQ(missing->OpenFailure->Reason, "no such device");

    TTempDir dir;
    const auto folder = Scan(dir.Path().string());
    ASSERT_TRUE(folder->OpenFailure);
    EXPECT_EQ(folder->OpenFailure->Kind, platform::TOpenError::IsFolder);

    ::setenv("LUMBRA_DRIVES", "D=/nonexistent", 1);
    const auto letter = Scan("Q:");
    ::unsetenv("LUMBRA_DRIVES");
    ASSERT_TRUE(letter->OpenFailure);
    EXPECT_EQ(letter->OpenFailure->Kind, platform::TOpenError::NoSuchDrive);
}

TEST(RecoveryRun, UnwritableFolderSkipsEveryFileWithItsReason) {
    const auto result = Scan(FixtureImage("basic").string());
    ASSERT_FALSE(result->Rows.empty());
    // A folder whose parent is a plain file: no file can be created in it,
    // whoever runs the test (root included).
    TTempDir dir;
    const fs::path file = dir.Path() / "plain-file";
    std::ofstream(file) << "x";
    recover::TListedRows rows(AllRows(*result), recover::TNamingChoice::OldName, (file / "out").string());
    TCollectFiles files;
    std::atomic<bool> stop{false};
    const auto summary = recover::TRecoveryRun(result).Run(stop, rows, files);
    EXPECT_EQ(summary.Written, 0u);
    EXPECT_EQ(summary.Skipped, result->Rows.size());
    ASSERT_EQ(files.Files.size(), result->Rows.size());
    for (const auto& f : files.Files) EXPECT_EQ(f.Result.Status, recover::TRecoverStatus::OutputFailed);
}

TEST(RecoveryRun, StopFlagAndChosenRows) {
    const auto result = Scan(FixtureImage("basic").string());
    ASSERT_GE(result->Rows.size(), 3u);
    TTempDir dir;
    std::atomic<bool> stop{false};
    recover::TListedRows two({0, 2}, recover::TNamingChoice::AutoName, dir.Path().string());
    TCollectFiles files;
    const auto summary = recover::TRecoveryRun(result).Run(stop, two, files);
    EXPECT_EQ(summary.Written, 2u);
    ASSERT_EQ(files.Files.size(), 2u);
    EXPECT_EQ(files.Files[0].Index, 0u);
    EXPECT_EQ(files.Files[1].Index, 2u);
    EXPECT_EQ(fs::path(files.Files[1].Target).filename(), "File_2");

    // A sorted list names a row by its place there, not by its scan index.
    struct TSortedRows : recover::TRowSource {
        std::string Folder;
        int Step = 0;
        std::optional<recover::TChosenRow> Next(std::size_t) override {
            if (Step++ > 0) return std::nullopt;
            return recover::TChosenRow{2, recover::TNamingChoice::AutoName, Folder, 7};
        }
    } sorted;
    TTempDir other;
    sorted.Folder = other.Path().string();
    TCollectFiles named;
    recover::TRecoveryRun(result).Run(stop, sorted, named);
    ASSERT_EQ(named.Files.size(), 1u);
    EXPECT_EQ(named.Files[0].Index, 2u);
    EXPECT_EQ(fs::path(named.Files[0].Target).filename(), "File_7");

    stop = true;
    recover::TListedRows all(AllRows(*result), recover::TNamingChoice::OldName, dir.Path().string());
    TCollectFiles none;
    const auto stopped = recover::TRecoveryRun(result).Run(stop, all, none);
    EXPECT_TRUE(stopped.Stopped);
    EXPECT_TRUE(none.Files.empty());
}

TEST(RecoveryRun, SourceThatNoLongerOpensIsReported) {
    TTempDir dir;
    const fs::path copy = dir.Path() / "copy.img";
    fs::copy_file(FixtureImage("basic"), copy);
    const auto result = Scan(copy.string());
    ASSERT_FALSE(result->Rows.empty());
    fs::remove(copy);
    recover::TListedRows rows(AllRows(*result), recover::TNamingChoice::OldName, dir.Path().string());
    TCollectFiles files;
    std::atomic<bool> stop{false};
    const auto summary = recover::TRecoveryRun(result).Run(stop, rows, files);
    ASSERT_TRUE(summary.OpenFailure);
    EXPECT_EQ(summary.OpenFailure->Kind, platform::TOpenError::NoSuchDevice);
    EXPECT_TRUE(files.Files.empty());
}

// 512-byte clusters, 1024-byte records, the MFT in two extents of which the
// first ends half-way through record 16: the record lies in two places.
TEST(RecoveryRun, RecordThatStraddlesTwoMftExtentsIsReadThroughTheMap) {
    testing_support::TVolumeLayout layout;
    layout.sectorsPerCluster = 1;
    layout.clustersPerRecord = 2;
    layout.mftRuns = {{4, 33}, {100, 31}};
    testing_support::TVolumeBuilder builder(layout);
    const auto record = testing_support::TVolumeBuilder::DeletedFile(u"straddle.txt", 300);
    // Record 16 is MFT bytes 16384..17407: cluster 32 of the first extent,
    // then cluster 0 of the second.
    auto& bytes = builder.Bytes();
    std::copy_n(record.begin(), 512, bytes.begin() + (4 + 32) * 512);
    std::copy_n(record.begin() + 512, 512, bytes.begin() + 100 * 512);

    std::atomic<bool> stop{false};
    scan::TQuietScanSink quiet;
    const auto result = scan::TScanSession(std::make_unique<platform::TMemoryVolume>(bytes)).Run(stop, quiet);
    ASSERT_EQ(result->Outcome, scan::TScanOutcome::Completed);
    ASSERT_EQ(result->Rows.size(), 1u);
    EXPECT_EQ(result->Rows[0].Record, 16u);

    TTempDir dir;
    recover::TListedRows rows({0}, recover::TNamingChoice::OldName, dir.Path().string());
    TCollectFiles files;
    const auto summary = recover::TRecoveryRun(result).Run(stop, rows, files);
    ASSERT_EQ(files.Files.size(), 1u);
    EXPECT_EQ(files.Files[0].Result.Status, recover::TRecoverStatus::Written);
    EXPECT_EQ(summary.Written, 1u);
    std::ifstream in(files.Files[0].Target, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, std::string(300, '\x5A'));
}

// A volume that can be read by one thread at a time only (a Windows device)
// is never read by two at once, though the scan and the run share it out.
TEST(RecoveryRun, VolumeThatReadsOneAtATimeIsReadOneAtATime) {
    class TOneReader : public platform::TMemoryVolume {
    public:
        using TMemoryVolume::TMemoryVolume;
        std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
            if (m_busy.exchange(true)) m_overlapped = true;
            std::this_thread::yield();  // gives another reader its chance to come in
            const std::size_t n = TMemoryVolume::ReadAt(offset, out);
            m_busy = false;
            return n;
        }
        bool Overlapped() const { return m_overlapped; }

    private:
        std::atomic<bool> m_busy{false};
        std::atomic<bool> m_overlapped{false};
    };
    std::ifstream in(FixtureImage("basic"), std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto volume = std::make_unique<TOneReader>(std::move(bytes));
    const TOneReader& reader = *volume;
    std::atomic<bool> stop{false};
    scan::TQuietScanSink quiet;
    const auto result = scan::TScanSession(std::move(volume)).Run(stop, quiet);
    ASSERT_EQ(result->Outcome, scan::TScanOutcome::Completed);
    TTempDir dir;
    recover::TListedRows rows(AllRows(*result), recover::TNamingChoice::OldName, dir.Path().string());
    TCollectFiles files;
    recover::TRecoveryRun run(result);
    run.SetWriteThreads(3);
    const auto summary = run.Run(stop, rows, files);
    EXPECT_EQ(summary.Skipped, 0u);
    ExpectManifestFiles(FixtureManifest("basic"), *result, files.Files);
    EXPECT_FALSE(reader.Overlapped());
}

// The real image with records split over two $MFT runs: every split row
// the manifest names is listed, and its caption's 1024 bytes alone are not
// the record (the second half lies elsewhere), so only a reader that follows
// the run list can have listed it. The content checks are FixtureSession's.
TEST(ScanSession, RealRecordsSplitOverTwoMftRunsAreListed) {
    const auto m = FixtureManifest("straddle");
    const auto result = Scan(FixtureImage("straddle").string());
    ASSERT_EQ(result->Outcome, scan::TScanOutcome::Completed);
    std::map<std::uint64_t, const scan::DeletedFileEntry*> byRecord;
    for (const auto& row : result->Rows) byRecord[row.Record] = &row;
    std::ifstream image(FixtureImage("straddle"), std::ios::binary);
    std::size_t split = 0, resident = 0;
    for (const auto& want : m["deleted"]) {
        if (!want.contains("mftStraddle")) continue;
        ++split;
        resident += want["resident"].get<bool>() ? 1 : 0;
        SCOPED_TRACE(want["name"].get<std::string>());
        ASSERT_TRUE(byRecord.count(want["record"].get<std::uint64_t>()));
        const auto& pieces = want["mftStraddle"];
        ASSERT_EQ(pieces.size(), 2u);
        const auto first = pieces[0]["byte"].get<std::uint64_t>();
        EXPECT_EQ(byRecord[want["record"].get<std::uint64_t>()]->Caption, scan::CaptionText(first));
        EXPECT_NE(first + pieces[0]["length"].get<std::uint64_t>(), pieces[1]["byte"].get<std::uint64_t>());

        std::string naive(1024, '\0'), mapped(1024, '\0');
        image.seekg(static_cast<std::streamoff>(first));
        image.read(naive.data(), 1024);
        image.seekg(static_cast<std::streamoff>(first));
        image.read(mapped.data(), pieces[0]["length"].get<std::streamsize>());
        image.seekg(pieces[1]["byte"].get<std::streamoff>());
        image.read(mapped.data() + pieces[0]["length"].get<std::size_t>(),
                   pieces[1]["length"].get<std::streamsize>());
        ASSERT_TRUE(image);
        EXPECT_EQ(mapped.substr(0, 4), "FILE");
        EXPECT_NE(naive.substr(512), mapped.substr(512));
    }
    EXPECT_GE(split, 4u);
    EXPECT_GE(resident, 1u);
    EXPECT_LT(resident, split);
}

}  // namespace
