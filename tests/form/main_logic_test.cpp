// SPDX-License-Identifier: GPL-3.0-or-later
// The window logic with a fake view and a scripted engine: what each click
// shows, the batched hand-over, the closing messages and which volume a
// recovery reads. The test thread plays the UI thread: it runs the tasks
// the workers post, in order.
#include <gtest/gtest.h>

#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "form/drive_facts.h"
#include "form/engine.h"
#include "form/main_logic.h"
#include "form/texts.h"
#include "unit/fixtures.h"

namespace {

using form::TControl;
namespace texts = form::texts;

class TFakeView : public form::TMainView {
public:
    void SetText(TControl c, std::u16string_view text) override { Texts[c] = std::u16string(text); }
    void SetEnabled(TControl c, bool enabled) override { Enabled[c] = enabled; }
    void SetBarRange(int maximum) override { BarMax = maximum; }
    void SetBarPosition(int position) override { Bar = position; }
    void SetDriveList(const std::vector<std::string>& drives) override { DriveList = drives; }
    std::optional<std::string> SelectedDrive() const override { return Drive; }
    std::string OutputFolder() const override { return Folder; }
    bool OldNameChosen() const override { return true; }
    std::u16string SeekText() const override { return Seek; }
    void RowsReset() override { ++Resets; }
    void RowsAppended(std::size_t, std::size_t) override { ++Appends; }
    void RowsReordered(std::span<const std::size_t>) override {}
    void ChecksChanged(std::size_t, std::size_t) override {}
    void RowDetailsChanged(std::size_t, std::size_t) override { ++DetailsChanged; }
    void FocusRow(std::size_t position) override { Focused = position; }
    void ShowMessage(std::u16string_view text) override { Messages.emplace_back(text); }
    bool Ask(std::u16string_view text, form::TQuestionKind) override {
        Questions.emplace_back(text);
        return Answer;
    }
    void Post(std::function<void()> task) override {
        const std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
        ++Posts;
        m_posted.notify_all();
    }

    // Runs posted tasks until done() holds; a bound keeps a fault from hanging the suite.
    bool PumpUntil(const std::function<bool()>& done) {
        for (int idle = 0; !done();) {
            std::unique_lock lock(m_mutex);
            if (!m_posted.wait_for(lock, std::chrono::seconds(1), [&] { return !m_tasks.empty(); })) {
                if (++idle == 30) return false;
                continue;
            }
            auto task = std::move(m_tasks.front());
            m_tasks.pop_front();
            lock.unlock();
            task();
        }
        return true;
    }

    std::map<TControl, std::u16string> Texts;
    std::map<TControl, bool> Enabled;
    std::vector<std::string> DriveList;
    std::vector<std::u16string> Messages;
    std::optional<std::string> Drive = "D:";
    std::string Folder = "/nowhere/out";
    std::u16string Seek;
    std::vector<std::u16string> Questions;
    bool Answer = true;
    int BarMax = -1, Bar = -1, Resets = 0, Appends = 0, Posts = 0;
    std::optional<std::size_t> Focused;
    int DetailsChanged = 0;

private:
    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<std::function<void()>> m_tasks;
};

// Scripted engine: a scan of `Records` records finding `Found` rows (none
// when the walk is not reached); a recovery that fails the rows listed.
class TFakeEngine : public form::TEngine {
public:
    std::uint64_t Records = 0;
    std::size_t Found = 0;
    bool Walk = true;
    bool OpenFails = false;
    std::vector<std::size_t> Failing;  // scan indexes whose file is not written
    std::vector<std::string> ScannedDrives;
    std::vector<std::string> RecoveredSources;
    std::vector<recover::TChosenRow> Chosen;
    bool WithDetails = false;
    std::uint32_t Letters = 0;
    std::map<std::string, scan::TProbeResult> Probes;  // drives whose device opens
    // How a scan that does not reach its walk ends, and what runs while it probes.
    scan::TScanOutcome QuietEnd = scan::TScanOutcome::NotNtfs;
    std::function<void()> WhileProbing;
    // The deep scan: a source of DeepMib MiB whose read finds DeepFound rows.
    std::vector<std::string> DeepScannedDrives;
    std::uint64_t DeepMib = 0;
    std::size_t DeepFound = 0;
    std::string DeepOem = "NTFS";
    // Files the read finds as it goes: this many a MiB, each MiB taking
    // DeepMibTime; the scan stops itself after DeepStopAfter MiB.
    std::size_t DeepPreviewsPerMib = 0;
    std::chrono::milliseconds DeepMibTime{0};
    std::uint64_t DeepStopAfter = UINT64_MAX;

    std::uint32_t DriveLetters() override { return Letters; }
    std::optional<scan::TProbeResult> Probe(const std::string& drive) override {
        const auto found = Probes.find(drive);
        if (found == Probes.end()) return std::nullopt;
        return found->second;
    }

    std::shared_ptr<const scan::TScanResult> Scan(const std::string& drive, const std::atomic<bool>& stop,
                                                  scan::TScanSessionSink& sink) override {
        ScannedDrives.push_back(drive);
        auto result = std::make_shared<scan::TScanResult>();
        result->Source.Drive = drive;
        result->Source.Resolved = "/dev/fake-" + drive;
        result->Facts = {"Data", 0xABCD12, "NTFS", 2ull << 30, 0xC0000000, true, 65536, 64};
        sink.OnFacts(scan::TScanStage::BootSector, result->Facts);
        sink.OnFacts(scan::TScanStage::Geometry, result->Facts);
        if (WhileProbing) WhileProbing();
        if (!Walk) {
            result->Outcome = QuietEnd;
            return result;
        }
        sink.OnFacts(scan::TScanStage::MftLayout, result->Facts);
        sink.OnWalkStart(Records);
        for (std::uint64_t r = 0; r < Records && !stop; ++r) {
            if (r < Found) {
                scan::DeletedFileEntry e;
                e.Caption = "0x" + std::to_string(1000 + r);
                e.Name = u"file" + std::u16string(1, static_cast<char16_t>(u'a' + r % 26)) + u".txt";
                e.Extension = ".txt";
                e.SizeText = "1 KB";
                sink.OnFound(e);
                result->Rows.push_back(e);
            }
            sink.OnProgress(r + 1);
        }
        // After the walk, each row's path and verdict, in row order.
        for (std::size_t r = 0; r < result->Rows.size() && WithDetails; ++r) {
            scan::TRowDetails d;
            d.Path = "\\Docs\\row" + std::to_string(r);
            d.Recoverability.Verdict = static_cast<scan::TVerdict>(r % 4);
            d.Recoverability.Clusters = 49;
            d.Recoverability.InUse = r % 4 == 3 ? 49 : r % 4 == 2 ? 3 : 0;
            sink.OnDetails(r, d);
        }
        result->Outcome = scan::TScanOutcome::Completed;
        return result;
    }

    // As the session's deep scan reports: the first sector's facts, the
    // source's size, MiB read, then the rows once the read is over.
    std::shared_ptr<const scan::TScanResult> DeepScan(const std::string& drive, const std::atomic<bool>& stop,
                                                      scan::TScanSessionSink& sink) override {
        DeepScannedDrives.push_back(drive);
        auto result = std::make_shared<scan::TScanResult>();
        result->Deep = true;
        result->Source.Drive = drive;
        result->Source.Resolved = "/dev/fake-whole-" + drive;
        if (DeepOem == "NTFS") result->Facts = {"Deep", 0xD33B, "NTFS"};
        sink.OnFacts(scan::TScanStage::BootSector, result->Facts);
        result->Facts.VolumeBytes = DeepMib << 20;
        sink.OnFacts(scan::TScanStage::Geometry, result->Facts);
        sink.OnWalkStart(DeepMib);
        for (std::uint64_t m = 0; m < DeepMib; ++m) {
            if (stop || m == DeepStopAfter) {
                result->Outcome = scan::TScanOutcome::Stopped;
                return result;
            }
            std::this_thread::sleep_for(DeepMibTime);
            sink.OnProgress(m + 1);
            for (std::size_t p = 0; p < DeepPreviewsPerMib && sink.WantsPreviews(); ++p) {
                scan::DeletedFileEntry e;
                e.Caption = "0x" + std::to_string(900000 + m * 100 + p);
                e.Name = u"found.bin";
                sink.OnPreview(e);
            }
        }
        if (sink.WantsPreviews()) sink.OnPreviewsEnd();
        for (std::size_t r = 0; r < DeepFound; ++r) {
            scan::DeletedFileEntry e;
            e.Caption = "0x" + std::to_string(5000 + r);
            e.Name = u"deep.bin";
            sink.OnFound(e);
            result->Rows.push_back(e);
            result->DeepRows.push_back({});
        }
        result->DeepCounters.RecordsFound = DeepFound + 40;
        result->Outcome = scan::TScanOutcome::Completed;
        return result;
    }

    recover::TRecoverySummary Recover(std::shared_ptr<const scan::TScanResult> scan, const std::atomic<bool>&,
                                      recover::TRowSource& rows, recover::TRecoverySink& sink) override {
        RecoveredSources.push_back(scan->Source.Resolved);
        recover::TRecoverySummary summary;
        if (OpenFails) {
            summary.OpenFailure = scan::TOpenFailure{};
            summary.OpenFailure->Kind = platform::TOpenError::PermissionDenied;
            return summary;
        }
        for (std::size_t from = 0;;) {
            const auto next = rows.Next(from);
            if (!next) break;
            from = next->Index + 1;
            Chosen.push_back(*next);
            recover::TFileOutcome outcome;
            outcome.Index = next->Index;
            if (std::find(Failing.begin(), Failing.end(), next->Index) != Failing.end())
                outcome.Result.Status = recover::TRecoverStatus::OutputFailed;
            (outcome.Result.Status == recover::TRecoverStatus::Written ? summary.Written : summary.Skipped)++;
            sink.OnFile(outcome);
        }
        return summary;
    }
};

struct TFixture {
    TFakeView View;
    TFakeEngine* Engine = new TFakeEngine;
    form::TMainLogic Logic{View, std::unique_ptr<form::TEngine>(Engine)};

    void Scan() {
        const std::size_t before = View.Messages.size();
        Logic.btnScanClick();
        ASSERT_TRUE(View.PumpUntil([&] { return !Logic.ScanRunning; }));
        (void)before;
    }
    void Recover() {
        Logic.btnRecoverClick();
        ASSERT_TRUE(View.PumpUntil([&] { return !Logic.RecoverRunning; }));
    }
};

TEST(MainLogic, ScanShowsFactsRowsAndTheClosingMessage) {
    struct TCase {
        bool walk;
        std::size_t found;
        std::vector<std::u16string> messages;
        std::u16string caption;  // btnScan afterwards
    };
    const TCase cases[] = {
        {true, 3, {std::u16string(texts::kScanDone)}, std::u16string(texts::kScanAgain)},
        {true, 0, {std::u16string(texts::kScanEmpty)}, std::u16string(texts::kScanAgain)},
        {false, 0, {}, u"unchanged"},  // a quiet end: no message, no caption
    };
    for (const TCase& c : cases) {
        TFixture f;
        f.View.Texts[TControl::btnScan] = u"unchanged";
        f.Engine->Walk = c.walk;
        f.Engine->Records = 100;
        f.Engine->Found = c.found;
        f.Scan();
        EXPECT_EQ(f.View.Messages, c.messages);
        EXPECT_EQ(f.View.Texts[TControl::btnScan], c.caption);
        EXPECT_EQ(f.View.Texts[TControl::lblDriveName], u"Driver Name: Data");
        EXPECT_EQ(f.View.Texts[TControl::lblDriveSerial], u"SN00ABCD12");
        EXPECT_EQ(f.View.Texts[TControl::lblDriveSize], u"Size : 2048 MB");
        EXPECT_EQ(f.View.Texts[TControl::lblDriveMFTLocation], u"MFT位置 : 0xC0000000");
        EXPECT_EQ(f.Logic.Rows().Count(), c.found);
        EXPECT_EQ(f.View.Texts[TControl::lblDelCount],
                  c.found > 0 ? u"Deleted QTY：" + form::Utf16(std::to_string(c.found)) : u"Deleted QTY: 0");
        EXPECT_EQ(f.View.Enabled[TControl::btn2], c.walk);  // a quiet end leaves Seek disabled
        EXPECT_EQ(f.Logic.ShownScan() != nullptr, c.walk);
    }
}

TEST(MainLogic, NoDriveNoTickStartNothing) {
    TFixture f;
    f.View.Drive.reset();
    f.Logic.btnScanClick();
    f.Logic.btnRecoverClick();
    EXPECT_FALSE(f.Logic.ScanRunning || f.Logic.RecoverRunning);
    EXPECT_EQ(f.View.Messages, (std::vector<std::u16string>{std::u16string(texts::kSelectDrive),
                                                            std::u16string(texts::kCheckFile)}));
    EXPECT_TRUE(f.Engine->ScannedDrives.empty());
}

TEST(MainLogic, RowsAndProgressGoOverInBatches) {
    TFixture f;
    f.Engine->Records = 300'000;
    f.Engine->Found = 50'000;
    f.Scan();
    ASSERT_EQ(f.Logic.Rows().Count(), 50'000u);
    for (std::size_t i = 0; i < 50'000; i += 997) EXPECT_EQ(f.Logic.Rows().Row(i).ScanIndex, i);
    // One hand-over per record would be 300,000 posts; batches are a handful.
    EXPECT_LT(f.View.Posts, 1'000);
    EXPECT_EQ(f.View.BarMax, 300'000);
    EXPECT_EQ(f.View.Bar, 300'000);
}

TEST(MainLogic, RecoveryClosingMessageCountsFilesNotWritten) {
    struct TCase {
        std::vector<std::size_t> failing;
        bool openFails;
        std::u16string message;
    };
    const std::u16string done(texts::kRecoverDone);
    const TCase cases[] = {
        {{}, false, done},
        {{0, 2}, false, done + u"\n2 of 4 files could not be written."},
        {{}, true, done + u"\n4 of 4 files could not be written."},
    };
    for (const TCase& c : cases) {
        TFixture f;
        f.Engine->Records = 10;
        f.Engine->Found = 5;
        f.Scan();
        f.Logic.chk1Click(true);
        f.Logic.RowCheckClicked(4, false);
        f.Engine->Failing = c.failing;
        f.Engine->OpenFails = c.openFails;
        f.Recover();
        EXPECT_EQ(f.View.Messages.back(), c.message);
        EXPECT_EQ(f.View.Texts[TControl::btnRecover], texts::kRecoverAgain);
        EXPECT_TRUE(f.View.Enabled[TControl::btnScan] && f.View.Enabled[TControl::btn2]);
        EXPECT_EQ(f.View.BarMax, 4);
        if (!c.openFails) {
            EXPECT_EQ(f.View.Bar, 4);
        }
    }
}

// After a sort, "File_" numbers follow the list as the user sees it, while
// the run still reads the row the scan found there.
TEST(MainLogic, AutoNamesFollowTheSortedList) {
    TFixture f;
    f.Engine->Records = 30;
    f.Engine->Found = 28;  // names wrap after 26: "filea.txt" twice
    f.Scan();
    f.Logic.lv1ColumnClick(1);
    f.Logic.chk1Click(true);
    f.Logic.RowCheckClicked(1, false);
    f.Recover();
    ASSERT_EQ(f.Engine->Chosen.size(), 27u);
    bool moved = false;
    std::size_t seen = 0;
    for (std::size_t place = 0; place < 28; ++place) {
        if (place == 1) continue;
        const recover::TChosenRow& chosen = f.Engine->Chosen[seen++];
        EXPECT_EQ(chosen.NameIndex, std::optional<std::size_t>(place));
        EXPECT_EQ(chosen.Index, f.Logic.Rows().Row(place).ScanIndex);
        moved = moved || chosen.Index != place;
    }
    EXPECT_TRUE(moved) << "the sort left the rows in scan order";
}

TEST(MainLogic, RecoveryReadsTheVolumeItsRowsCameFrom) {
    TFixture f;
    f.Engine->Records = 10;
    f.Engine->Found = 3;
    f.Scan();
    f.View.Drive = "E:";  // another drive selected after the scan
    f.Logic.chk1Click(true);
    f.Recover();
    EXPECT_EQ(f.Engine->RecoveredSources, std::vector<std::string>{"/dev/fake-D:"});
}

TEST(MainLogic, SortSeekAndSelectAll) {
    TFixture f;
    std::vector<form::TRow> rows(4);
    const char16_t* names[] = {u"b.txt", u"_a.txt", u"A.doc", u"a.DOC"};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i].FileName = names[i];
        rows[i].ScanIndex = i;
    }
    f.Logic.AppendRows(std::move(rows));
    f.Logic.lv1ColumnClick(1);
    // Folded a to z, unit by unit: "A.DOC" == "A.DOC" keep their order; "_" (0x5F) after letters.
    std::vector<std::u16string> order;
    for (std::size_t i = 0; i < 4; ++i) order.push_back(f.Logic.Rows().Row(i).FileName);
    EXPECT_EQ(order, (std::vector<std::u16string>{u"A.doc", u"a.DOC", u"b.txt", u"_a.txt"}));
    f.View.Seek = u"B.T";
    f.Logic.btn2Click();
    EXPECT_EQ(f.View.Focused, std::optional<std::size_t>(2));
    EXPECT_EQ(f.Logic.Rows().CheckedCount(), 1u);
    f.Logic.chk1Click(true);
    EXPECT_EQ(f.Logic.Rows().CheckedCount(), 4u);
}

// After the walk each row carries its path and verdict, whatever order the
// list is in: the tooltip gives both in words, the tint follows the verdict,
// and Seek finds a row by its path.
TEST(MainLogic, RowsGetPathAndVerdictAfterTheWalk) {
    TFixture f;
    f.Engine->Records = 10;
    f.Engine->Found = 8;
    f.Engine->WithDetails = true;
    f.Logic.lv1ColumnClick(1);
    f.Scan();
    EXPECT_EQ(f.View.DetailsChanged, 1);
    for (std::size_t place = 0; place < 8; ++place) {
        const form::TRow& row = f.Logic.Rows().Row(place);
        ASSERT_TRUE(row.HasDetails);
        EXPECT_EQ(static_cast<std::size_t>(row.Recoverability.Verdict), row.ScanIndex % 4);
        EXPECT_EQ(row.Path, u"\\Docs\\row" + form::Utf16(std::to_string(row.ScanIndex)));
    }
    struct TCase {
        scan::TVerdict Verdict;
        std::uint64_t InUse;
        std::optional<form::TRgb> Tint;
        std::u16string Words;
    };
    const TCase cases[] = {
        {scan::TVerdict::Intact, 0, std::nullopt, u"Intact: none of its 49 clusters belong to other files"},
        {scan::TVerdict::Partial, 3, form::kPartialTint,
         u"Partial: 3 of 49 clusters now belong to other files"},
        {scan::TVerdict::Overwritten, 49, form::kOverwrittenTint,
         u"Overwritten: 49 of 49 clusters now belong to other files"},
        {scan::TVerdict::Unknown, 0, std::nullopt,
         u"Unknown: the cluster bitmap or the run list cannot be read soundly"},
    };
    for (const TCase& c : cases) {
        form::TRow row;
        row.Path = u"\\a\\b.txt";
        row.Recoverability = {c.Verdict, 49, c.InUse, 0};
        EXPECT_EQ(form::RowToolTip(row), u"");  // not known yet
        EXPECT_EQ(form::RowTint(row), std::nullopt);
        row.HasDetails = true;
        EXPECT_EQ(form::RowTint(row), c.Tint);
        EXPECT_EQ(form::RowToolTip(row), u"\\a\\b.txt\n" + c.Words);
    }
    // Seek: a folder only the path holds.
    f.View.Seek = u"docs\\ROW5";
    f.Logic.btn2Click();
    ASSERT_TRUE(f.View.Focused);
    EXPECT_EQ(f.Logic.Rows().Row(*f.View.Focused).ScanIndex, 5u);
}

// The logic over the real engine: each NTFS partition of a disk image in the
// drive table is a letter whose scan shows that partition's label and rows.
TEST(MainLogic, DriveListKeepsNtfsDrivesAndShowsTheLastProbeThatOpened) {
    const auto probe = [](std::string oem, std::string label, std::uint64_t serial) {
        scan::TProbeResult r;
        r.Oem = std::move(oem);
        r.Label = std::move(label);
        r.SerialNumber = serial;
        return r;
    };
    struct TCase {
        const char* Name;
        std::uint32_t Letters;
        std::map<std::string, scan::TProbeResult> Probes;
        std::vector<std::string> Listed;
        std::u16string NameLabel, SerialLabel;  // "" = never set
    };
    const TCase cases[] = {
        {"none", 0, {}, {}, u"", u""},
        {"lowest letter first; a drive that does not open sets nothing",
         0b11101,  // A: C: D: E:
         {{"E:", probe("NTFS", "Eve", 0xE)}, {"C:", probe("NTFS", "Cee", 0xC)}},
         {"C:", "E:"},
         u"Name: Eve",
         u"SN: 0000000E"},
        {"an opened drive that is not NTFS still names itself",
         0b1100,  // C: D:
         {{"C:", probe("NTFS", "Cee", 0xC)}, {"D:", probe("FAT3", "Dos", 0xD)}},
         {"C:"},
         u"Name: Dos",
         u"SN: 0000000D"},
        {"the OEM field compared byte for byte",
         0b111000,  // D: E: F:
         {{"D:", probe("ntfs", "", 1)},
          {"E:", probe(std::string("NTF\0", 4), "", 2)},
          {"F:", probe("NTFS", "", 3)}},
         {"F:"},
         u"Name: ",
         u"SN: 00000003"},
        {"letters past Z: are no drives", 0xFC000000u, {}, {}, u"", u""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TFixture f;
        f.Engine->Letters = c.Letters;
        f.Engine->Probes = c.Probes;
        f.Logic.FillDriveList();
        EXPECT_EQ(f.View.DriveList, c.Listed);
        EXPECT_EQ(f.View.Texts[TControl::lblDriveName], c.NameLabel);
        EXPECT_EQ(f.View.Texts[TControl::lblDriveSerial], c.SerialLabel);
    }
}

TEST(MainLogic, PartitionLettersScanTheirOwnPartition) {
    const std::string disk = std::string(LUMBRA_FIXTURE_IMAGES) + "/mbr.img";
    ::setenv("LUMBRA_DRIVES", ("D=" + disk + ";E=/nonexistent.img").c_str(), 1);
    const std::pair<const char*, const char16_t*> cases[] = {
        {"D:", u"Driver Name: LumbraP1"}, {"F:", u"Driver Name: LumbraP2"}, {"G:", u"Driver Name: LumbraP5"}};
    for (const auto& [drive, name] : cases) {
        TFakeView view;
        view.Drive = drive;
        form::TMainLogic logic{view, form::SessionEngine()};
        // The engine's own letters: one per NTFS partition, the image that
        // does not open left out.
        logic.FillDriveList();
        EXPECT_EQ(view.DriveList, (std::vector<std::string>{"D:", "F:", "G:"}));
        logic.btnScanClick();
        ASSERT_TRUE(view.PumpUntil([&] { return !logic.ScanRunning; }));
        EXPECT_EQ(view.Texts[TControl::lblDriveName], name) << drive;
        EXPECT_EQ(logic.Rows().Count(), 2u) << drive;  // a small and a big file deleted on each
        EXPECT_EQ(view.Messages, std::vector<std::u16string>{std::u16string(texts::kScanDone)}) << drive;
    }
    ::unsetenv("LUMBRA_DRIVES");
}

// The deep scan is offered on exactly the quiet ends whose cause is an MFT
// that cannot be read, never after a stop; Yes deep-scans the same drive.
TEST(MainLogic, UnreadableMftAsksForTheDeepScan) {
    using O = scan::TScanOutcome;
    struct TCase {
        const char* Name;
        bool Walk;
        O End;      // of the normal scan, when it does not walk
        bool Stop;  // the scan button pressed again while the scan probes
        bool Answer;
        bool Asked;
    };
    const TCase cases[] = {
        {"record 0 unusable, Yes", false, O::Record0Unusable, false, true, true},
        {"no $DATA, Yes", false, O::NoMftData, false, true, true},
        {"$DATA flagged, Yes", false, O::MftDataFlagged, false, true, true},
        {"no $DATA, Cancel", false, O::NoMftData, false, false, true},
        {"record 0 unusable after a stop", false, O::Record0Unusable, true, true, false},
        {"not NTFS", false, O::NotNtfs, false, true, false},
        {"did not open", false, O::VolumeDidNotOpen, false, true, false},
        {"a walk that found nothing", true, O::Completed, false, true, false},
        {"a walk stopped", true, O::Completed, true, true, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TFixture f;
        f.Engine->Walk = c.Walk;
        f.Engine->Records = 10;
        f.Engine->QuietEnd = c.End;
        f.Engine->DeepMib = 16;
        f.Engine->DeepFound = 3;
        if (c.Stop) f.Engine->WhileProbing = [&] { f.Logic.ScanStopRequested = true; };
        f.View.Answer = c.Answer;
        f.Scan();  // and the deep scan it starts
        EXPECT_EQ(f.View.Questions.size(), c.Asked ? 1u : 0u);
        if (c.Asked) {
            EXPECT_EQ(f.View.Questions[0], texts::kDeepScanQuestion);
        }
        const bool deep = c.Asked && c.Answer;
        EXPECT_EQ(f.Engine->ScannedDrives, std::vector<std::string>{"D:"});
        EXPECT_EQ(f.Engine->DeepScannedDrives,
                  deep ? std::vector<std::string>{"D:"} : std::vector<std::string>{});
        std::vector<std::u16string> messages;
        if (deep) messages.emplace_back(texts::kScanDone);
        if (c.Walk) messages.emplace_back(texts::kScanEmpty);
        EXPECT_EQ(f.View.Messages, messages);
        EXPECT_EQ(f.Logic.Rows().Count(), deep ? 3u : 0u);
        EXPECT_EQ(f.Logic.ShownScan() != nullptr && f.Logic.ShownScan()->Deep, deep);
        // No deep scan: a quiet end leaves Seek disabled, as it does without one.
        EXPECT_EQ(f.View.Enabled[TControl::btn2], deep || c.Walk);
    }
}

// The menu's deep scan is shown as a scan: the bar in MiB, rows in batches,
// the source's size; the first sector names the drive only when it is an
// NTFS boot sector. Its rows recover from the source it read.
TEST(MainLogic, DeepScanFromTheMenuIsShownAsAScan) {
    struct TCase {
        std::string Oem;
        std::u16string Name, Serial;
    };
    const TCase cases[] = {
        {"NTFS", u"Driver Name: Deep", u"SN0000D33B"},
        {"", std::u16string(texts::kDriveNameUnknown), std::u16string(texts::kSerialUnknown)},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Oem);
        TFixture f;
        f.Engine->DeepMib = 3000;
        f.Engine->DeepFound = 2000;
        f.Engine->DeepOem = c.Oem;
        ASSERT_TRUE(f.Logic.CanDeepScan());
        f.Logic.DeepScanClick();
        EXPECT_TRUE(f.Logic.ScanRunning);
        EXPECT_FALSE(f.Logic.CanDeepScan());  // the menu item is off while it runs
        EXPECT_EQ(f.View.Texts[TControl::lblDelCount], texts::kDeletedCountStart);
        EXPECT_FALSE(f.View.Enabled[TControl::btn2]);
        f.Logic.DeepScanClick();  // starts nothing more
        ASSERT_TRUE(f.View.PumpUntil([&] { return !f.Logic.ScanRunning; }));
        EXPECT_TRUE(f.Engine->ScannedDrives.empty());
        EXPECT_EQ(f.Engine->DeepScannedDrives, std::vector<std::string>{"D:"});
        EXPECT_EQ(f.View.BarMax, 3000);
        EXPECT_EQ(f.View.Bar, 3000);
        EXPECT_LT(f.View.Posts, 1'000);
        ASSERT_EQ(f.Logic.Rows().Count(), 2000u);
        EXPECT_EQ(f.View.Texts[TControl::lblDriveName], c.Name);
        EXPECT_EQ(f.View.Texts[TControl::lblDriveSerial], c.Serial);
        EXPECT_EQ(f.View.Texts[TControl::lblDriveSize], u"Size : 3000 MB");
        EXPECT_EQ(f.View.Texts[TControl::lblDriveMFTLocation], texts::kMftLocationUnknown);
        EXPECT_EQ(f.View.Texts[TControl::lblDriveMFTSize], texts::kMftSizeUnknown);
        EXPECT_EQ(f.View.Texts[TControl::lblDriveMFTRecordsCount], u"File QTY : 2040");
        EXPECT_EQ(f.View.Texts[TControl::lblDelCount], u"Deleted QTY：2000");
        EXPECT_EQ(f.View.Messages, std::vector<std::u16string>{std::u16string(texts::kScanDone)});
        EXPECT_EQ(f.View.Texts[TControl::btnScan], texts::kScanAgain);
        EXPECT_TRUE(f.View.Enabled[TControl::btnRecover] && f.View.Enabled[TControl::btn2]);
        EXPECT_TRUE(f.View.Questions.empty());

        f.View.Drive = "E:";
        f.Logic.chk1Click(true);
        f.Recover();
        EXPECT_EQ(f.Engine->RecoveredSources, std::vector<std::string>{"/dev/fake-whole-D:"});
        EXPECT_EQ(f.Engine->Chosen.size(), 2000u);
    }
}

// A deep scan shows the files its read finds while it reads; they give way
// to the rows that count once the read is over, or to none when it was
// stopped, as only those recover.
TEST(MainLogic, DeepScanShowsFilesWhileItReads) {
    for (const bool stopped : {false, true}) {
        SCOPED_TRACE(stopped ? "stopped during the read" : "read to its end");
        TFixture f;
        f.Engine->DeepMib = 8;
        f.Engine->DeepFound = 3;
        f.Engine->DeepPreviewsPerMib = 5;
        f.Engine->DeepMibTime = std::chrono::milliseconds(40);
        if (stopped) f.Engine->DeepStopAfter = 6;
        f.Logic.DeepScanClick();
        ASSERT_TRUE(f.View.PumpUntil([&] { return f.Logic.Rows().Count() >= 5 || !f.Logic.ScanRunning; }));
        EXPECT_TRUE(f.Logic.ScanRunning);  // shown while the read goes on
        EXPECT_EQ(f.Logic.Rows().Row(0).FileName, u"found.bin");
        EXPECT_NE(f.View.Texts[TControl::lblDelCount], u"Deleted QTY：0");
        ASSERT_TRUE(f.View.PumpUntil([&] { return !f.Logic.ScanRunning; }));
        ASSERT_EQ(f.Logic.Rows().Count(), stopped ? 0u : 3u);
        for (std::size_t i = 0; i < f.Logic.Rows().Count(); ++i)
            EXPECT_EQ(f.Logic.Rows().Row(i).FileName, u"deep.bin");
        EXPECT_EQ(f.View.Texts[TControl::lblDelCount], stopped ? u"Deleted QTY：0" : u"Deleted QTY：3");
    }
}

TEST(MainLogic, DeepScanNeedsADriveAndNoRun) {
    TFixture f;
    f.View.Drive.reset();
    f.Logic.DeepScanClick();
    EXPECT_EQ(f.View.Messages, std::vector<std::u16string>{std::u16string(texts::kSelectDrive)});
    f.View.Drive = "D:";
    f.Logic.RecoverRunning = true;  // the scan button is disabled then, and so is the menu
    EXPECT_FALSE(f.Logic.CanDeepScan());
    f.Logic.DeepScanClick();
    f.Logic.RecoverRunning = false;
    EXPECT_FALSE(f.Logic.ScanRunning);
    EXPECT_TRUE(f.Engine->DeepScannedDrives.empty());
}

// Over the real engine: a quick-formatted volume's normal scan finds
// nothing and asks nothing (its new MFT reads well); the menu's deep scan
// lists the old volume's files, and they come back byte for byte.
TEST(MainLogic, DeepScanOfAQuickFormatRecoversTheOldFiles) {
    const auto manifest = testing_support::FixtureManifest("qformat");
    // qformat is basic formatted again in place: its old deleted files are
    // basic's rows, at the same places (captions) and with the same bytes.
    const auto oldDeleted = testing_support::FixtureManifest("basic")["deleted"];
    ::setenv("LUMBRA_DRIVES", ("D=" + testing_support::FixtureImage("qformat").string()).c_str(), 1);
    const auto out = std::filesystem::temp_directory_path() /
                     ("lumbra-form-deep-" + std::to_string(static_cast<long>(::getpid())));
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out);
    {
        TFakeView view;
        view.Folder = out.string();
        form::TMainLogic logic{view, form::SessionEngine()};
        logic.FillDriveList();
        ASSERT_EQ(view.DriveList, std::vector<std::string>{"D:"});
        logic.btnScanClick();
        ASSERT_TRUE(view.PumpUntil([&] { return !logic.ScanRunning; }));
        EXPECT_EQ(logic.Rows().Count(), 0u);
        EXPECT_TRUE(view.Questions.empty());

        logic.DeepScanClick();
        ASSERT_TRUE(view.PumpUntil([&] { return !logic.ScanRunning; }));
        EXPECT_EQ(view.Messages.back(), texts::kScanDone);
        EXPECT_EQ(view.BarMax, manifest["imageSize"].get<int>() >> 20);
        EXPECT_EQ(view.Bar, view.BarMax);
        std::map<std::u16string, std::u16string> listed;  // caption -> name
        for (std::size_t i = 0; i < logic.Rows().Count(); ++i)
            listed[logic.Rows().Row(i).Caption] = logic.Rows().Row(i).FileName;
        for (const auto& want : oldDeleted) {
            const auto caption = form::Utf16(want["caption"].get<std::string>());
            ASSERT_TRUE(listed.count(caption)) << want["name"];
            EXPECT_EQ(listed[caption], form::Utf16(want["name"].get<std::string>()));
        }

        logic.chk1Click(true);
        logic.btnRecoverClick();
        ASSERT_TRUE(view.PumpUntil([&] { return !logic.RecoverRunning; }));
        EXPECT_EQ(view.Messages.back(), texts::kRecoverDone);
        for (const auto& want : oldDeleted) {
            const auto name = want["name"].get<std::string>();
            EXPECT_EQ(testing_support::Sha256OfFile(out / std::filesystem::u8path(name)),
                      want["sha256"].get<std::string>())
                << name;
        }
    }
    std::filesystem::remove_all(out);
    ::unsetenv("LUMBRA_DRIVES");
}

TEST(DriveFacts, Texts) {
    EXPECT_EQ(form::SerialText(0x1A), u"SN0000001A");
    EXPECT_EQ(form::SizeText(1048575), u"Size : 0 MB");
    EXPECT_EQ(form::MftLocationText(0x5), u"MFT位置 : 0x05");
    EXPECT_EQ(form::MftSizeText(268435456), u"MFT大小 : 268435456 Byte");
    EXPECT_EQ(form::RecordCountText(262140), u"File QTY : 262140");
    EXPECT_EQ(form::DeletedCountText(3), u"Deleted QTY：3");
    EXPECT_EQ(form::RecoveryDoneText(0, 5), texts::kRecoverDone);
}

}  // namespace
