// SPDX-License-Identifier: GPL-3.0-or-later
#include "form/main_logic.h"

#include "form/toolkit_free.h"
//
#include <algorithm>
#include <limits>
#include <vector>

#include "form/bar_scale.h"
#include "form/drive_facts.h"
#include "form/texts.h"
#include "platform/same_volume.h"

namespace form {

namespace {

TRow RowOf(const scan::DeletedFileEntry& entry, std::size_t scanIndex) {
    TRow row;
    row.Caption = Utf16(entry.Caption);
    row.FileName = entry.Name.empty() ? Utf16(entry.NameText) : entry.Name;
    row.FileExt = Utf16(entry.Extension);
    row.FileSize = Utf16(entry.SizeText);
    row.CreateTime = Utf16(entry.CreateTime);
    row.LastTime = Utf16(entry.LastTime);
    row.ScanIndex = scanIndex;
    return row;
}

// The quiet ends whose cause the deep scan gets round: the volume is NTFS
// but its file table cannot be walked. A drive that no longer reads as NTFS
// has changed since the list was made and keeps its quiet end (the list's
// menu still offers the deep scan of it).
bool OffersDeepScan(const scan::TScanResult* result) {
    if (result == nullptr) return false;
    switch (result->Outcome) {
        case scan::TScanOutcome::Record0Unusable:
        case scan::TScanOutcome::NoMftData:
        case scan::TScanOutcome::MftDataFlagged:
            return true;
        default:
            return false;
    }
}

}  // namespace

void TMainLogic::FillDriveList() {
    std::vector<std::string> drives;
    const std::uint32_t letters = m_engine->DriveLetters();
    for (int i = 0; i < 26; ++i) {
        if ((letters & (std::uint32_t{1} << i)) == 0) continue;
        const std::string drive{static_cast<char>('A' + i), ':'};
        const std::optional<scan::TProbeResult> probe = m_engine->Probe(drive);
        if (!probe) continue;
        m_view.SetText(TControl::lblDriveName, ProbeNameText(probe->Label));
        m_view.SetText(TControl::lblDriveSerial, ProbeSerialText(probe->SerialNumber));
        // Byte for byte: a damaged OEM field must not turn into "NTFS" here.
        if (probe->Oem == "NTFS") drives.push_back(drive);
    }
    m_view.SetDriveList(drives);
}

struct TMainLogic::TShared {
    std::mutex Mutex;
    std::condition_variable Changed;
    std::atomic<bool> Abandoned{false};
};

// The scan's reports, on the scan thread: facts as label texts, rows and
// progress in batches. The few steps before the walk wait until the window
// has shown them, as each stage's labels belong to it before the next
// stage begins (and a stop pressed meanwhile is seen before record 16).
class TMainLogic::TScanSink : public scan::TScanSessionSink {
public:
    TScanSink(TMainLogic& logic, bool deep)
        : m_logic(logic), m_deep(deep), m_due(Clock::now() + kHandOverInterval) {}

    bool Walked() const { return m_walked; }

    void OnFacts(scan::TScanStage stage, const scan::TDriveFacts& facts) override {
        TMainView& view = m_logic.m_view;
        switch (stage) {
            case scan::TScanStage::BootSector: {
                // A deep scan reads a source whose first sector need not be
                // an NTFS boot sector: then it has no label or serial to show.
                const bool known = !m_deep || facts.Oem == "NTFS";
                m_logic.Invoke(
                    [&view,
                     name = known ? DriveNameText(facts.Label) : std::u16string(texts::kDriveNameUnknown),
                     serial =
                         known ? SerialText(facts.SerialNumber) : std::u16string(texts::kSerialUnknown)] {
                        view.SetText(TControl::lblDriveName, name);
                        view.SetText(TControl::lblDriveSerial, serial);
                    });
                break;
            }
            case scan::TScanStage::Geometry:
                // A deep scan's size is the source's; it follows no one MFT,
                // and its record count is known once the read is over.
                if (m_deep) {
                    m_logic.Invoke([&view, size = SizeText(facts.VolumeBytes)] {
                        view.SetText(TControl::lblDriveSize, size);
                        view.SetText(TControl::lblDriveMFTLocation, texts::kMftLocationUnknown);
                        view.SetText(TControl::lblDriveMFTSize, texts::kMftSizeUnknown);
                        view.SetText(TControl::lblDriveMFTRecordsCount, texts::kRecordCountNone);
                    });
                    break;
                }
                m_logic.Invoke([&view, size = SizeText(facts.VolumeBytes),
                                location = MftLocationText(facts.MftByteOffset)] {
                    view.SetText(TControl::lblDriveSize, size);
                    view.SetText(TControl::lblDriveMFTLocation, location);
                });
                break;
            case scan::TScanStage::MftLayout:
                m_logic.Invoke([&view, size = MftSizeText(facts.MftBytes, facts.MirroredRecords != 0),
                                count = RecordCountText(facts.RecordCount)] {
                    view.SetText(TControl::lblDriveMFTSize, size);
                    view.SetText(TControl::lblDriveMFTRecordsCount, count);
                });
                break;
        }
    }

    void OnWalkStart(std::uint64_t walkLength) override {
        m_walked = true;
        m_scale = TBarScale(walkLength);
        m_logic.Invoke([&logic = m_logic, maximum = m_scale.Maximum()] {
            logic.m_rows.Clear();
            logic.m_shownScan.reset();  // the rows shown from now on are this scan's
            logic.m_view.RowsReset();
            logic.m_view.SetBarRange(maximum);
            logic.m_view.SetBarPosition(0);
            logic.m_view.SetText(TControl::btnScan, texts::kScanStop);
            logic.m_view.SetEnabled(TControl::btnRecover, false);
        });
        m_due = Clock::now() + kHandOverInterval;
    }

    void OnProgress(std::uint64_t recordsDone) override {
        m_done = recordsDone;
        if (Clock::now() >= m_due) Flush();
    }

    // While a deep scan reads, the files found so far are shown as they are
    // found; they give way to the rows that count once the read is over (or
    // to none, when it was stopped), for only those recover.
    bool WantsPreviews() const override { return m_deep; }
    void OnPreview(const scan::DeletedFileEntry& entry) override {
        m_batch.push_back(RowOf(entry, m_previewed++));
        m_previewing = true;
    }
    void OnPreviewsEnd() override { DropPreviews(); }
    void DropPreviews() {
        if (!m_previewing) return;
        m_previewing = false;
        m_batch.clear();
        m_logic.Post([&logic = m_logic] {
            logic.ClearRows();
            logic.m_view.SetText(TControl::lblDelCount, DeletedCountText(0));
        });
    }

    // A deep scan hands its rows over after the read, with no progress
    // between them: they go in batches of their own.
    void OnFound(const scan::DeletedFileEntry& entry) override {
        m_batch.push_back(RowOf(entry, m_found++));
        if (m_deep && Clock::now() >= m_due) Flush();
    }

    // Every row's details come at once after the walk: kept here and shown
    // with the scan's end.
    void OnDetails(std::size_t row, const scan::TRowDetails& details) override {
        if (row >= m_details.size()) m_details.resize(row + 1);
        m_details[row] = TShownDetails{Utf16(details.Path), details.Recoverability, true};
    }
    std::vector<TShownDetails> TakeDetails() { return std::move(m_details); }

    void Flush() {
        m_due = Clock::now() + kHandOverInterval;
        if (m_batch.empty() && m_done == m_shown) return;
        m_shown = m_done;
        m_logic.Post(
            [&logic = m_logic, position = m_scale.Position(m_done), rows = std::move(m_batch)]() mutable {
                logic.m_view.SetBarPosition(position);
                if (!rows.empty()) logic.AppendRows(std::move(rows));
            });
        m_batch = {};
    }

private:
    using Clock = std::chrono::steady_clock;
    TMainLogic& m_logic;
    const bool m_deep;
    Clock::time_point m_due;
    TBarScale m_scale;
    bool m_walked = false;
    std::uint64_t m_done = 0;
    std::uint64_t m_shown = 0;
    std::size_t m_found = 0;
    std::size_t m_previewed = 0;
    bool m_previewing = false;
    std::vector<TShownDetails> m_details;
    std::vector<TRow> m_batch;
};

// The recovery's next row, read on the UI thread when the run gets there.
// One hand-over reads forward over unticked rows to the next ticked one: the
// UI thread cannot change a tick meanwhile, so each row is still read at the
// moment the walk reaches it, without a round trip per unticked row.
class TMainLogic::TRowSource : public recover::TRowSource {
public:
    TRowSource(TMainLogic& logic, std::size_t rowCount, std::uint64_t generation)
        : m_logic(logic), m_rowCount(rowCount), m_generation(generation) {}

    std::optional<recover::TChosenRow> Next(std::size_t) override {
        std::optional<recover::TChosenRow> chosen;
        m_logic.Invoke([&] {
            StepBar();
            const TResultRows& rows = m_logic.m_rows;
            for (; m_index < m_rowCount; ++m_index) {
                if (m_logic.RecoverStopRequested) return;
                // A scan started meanwhile may have replaced the rows.
                if (rows.Generation() != m_generation || m_index >= rows.Count()) return;
                const TRow& row = rows.Row(m_index);
                if (!row.Checked) continue;
                chosen =
                    recover::TChosenRow{row.ScanIndex,
                                        m_logic.m_view.OldNameChosen() ? recover::TNamingChoice::OldName
                                                                       : recover::TNamingChoice::AutoName,
                                        m_logic.m_view.OutputFolder(), m_index};
                ++m_index;
                m_pendingStep = true;
                return;
            }
        });
        return chosen;
    }

    // UI thread: the bar's step for the row handed out last.
    void StepBar() {
        if (!m_pendingStep) return;
        m_pendingStep = false;
        m_logic.m_view.SetBarPosition(++m_position);
    }

private:
    TMainLogic& m_logic;
    const std::size_t m_rowCount;
    const std::uint64_t m_generation;
    std::size_t m_index = 0;
    int m_position = 0;
    bool m_pendingStep = false;
};

class TMainLogic::TFileTally : public recover::TRecoverySink {
public:
    void OnFile(const recover::TFileOutcome& outcome) override {
        ++Attempted;
        if (outcome.Result.Status != recover::TRecoverStatus::Written) ++NotWritten;
    }
    std::uint64_t Attempted = 0;
    std::uint64_t NotWritten = 0;
};

TMainLogic::TMainLogic(TMainView& view, std::unique_ptr<TEngine> engine)
    : m_view(view), m_engine(std::move(engine)), m_shared(std::make_shared<TShared>()) {}

TMainLogic::~TMainLogic() {
    Shutdown();
}

void TMainLogic::Shutdown() {
    ScanStopRequested = true;
    RecoverStopRequested = true;
    {
        const std::lock_guard lock(m_shared->Mutex);
        m_shared->Abandoned = true;
    }
    m_shared->Changed.notify_all();
    for (std::thread* worker : {&m_scanThread, &m_recoverThread})
        if (worker->joinable()) worker->join();
}

bool TMainLogic::Invoke(const std::function<void()>& fn) {
    struct TCall {
        bool Done = false;
    };
    const auto call = std::make_shared<TCall>();
    const auto shared = m_shared;
    // fn outlives the task: the worker waits until the task has run, or the
    // logic is going away, which happens on the UI thread, never inside it.
    m_view.Post([&fn, call, shared] {
        if (shared->Abandoned) return;
        fn();
        {
            const std::lock_guard lock(shared->Mutex);
            call->Done = true;
        }
        shared->Changed.notify_all();
    });
    std::unique_lock lock(m_shared->Mutex);
    m_shared->Changed.wait(lock, [&] { return call->Done || m_shared->Abandoned; });
    return call->Done;
}

void TMainLogic::Post(std::function<void()> fn) {
    m_view.Post([fn = std::move(fn), shared = m_shared] {
        if (!shared->Abandoned) fn();
    });
}

void TMainLogic::AppendRows(std::vector<TRow>&& rows) {
    const std::size_t first = m_rows.Count();
    const std::size_t count = rows.size();
    m_rows.Append(std::move(rows));
    m_view.RowsAppended(first, count);
    m_view.SetText(TControl::lblDelCount, DeletedCountText(m_rows.Count()));
}

void TMainLogic::ClearRows() {
    m_rows.Clear();
    m_view.RowsReset();
}

void TMainLogic::btnScanClick() {
    // ScanRunning is set here, at the click, so that a second click before
    // the worker is under way stops this run rather than starting another.
    if (ScanRunning) {
        ScanStopRequested = true;
        m_view.SetEnabled(TControl::btn2, true);
        return;
    }
    const std::optional<std::string> drive = m_view.SelectedDrive();
    if (!drive) {
        m_view.ShowMessage(texts::kSelectDrive);
        return;
    }
    StartScan(*drive, false);
}

void TMainLogic::DeepScanClick() {
    if (!CanDeepScan()) return;
    const std::optional<std::string> drive = m_view.SelectedDrive();
    if (!drive) {
        m_view.ShowMessage(texts::kSelectDrive);
        return;
    }
    StartScan(*drive, true);
}

void TMainLogic::StartScan(const std::string& drive, bool deep) {
    ScanStopRequested = false;
    m_view.SetEnabled(TControl::btn2, false);
    m_view.SetText(TControl::lblDelCount, texts::kDeletedCountStart);
    ScanRunning = true;
    // The previous run has made its last hand-over; its thread is ending.
    if (m_scanThread.joinable()) m_scanThread.join();
    m_scanThread = std::thread([this, drive, deep] { ScanWorker(drive, deep); });
}

void TMainLogic::ScanWorker(std::string drive, bool deep) {
    TScanSink sink(*this, deep);
    std::shared_ptr<const scan::TScanResult> result = deep
                                                          ? m_engine->DeepScan(drive, ScanStopRequested, sink)
                                                          : m_engine->Scan(drive, ScanStopRequested, sink);
    sink.DropPreviews();  // a deep scan stopped during its read has no rows
    sink.Flush();
    Post([this, drive, deep, result = std::move(result), walked = sink.Walked(),
          details = sink.TakeDetails()]() mutable {
        ScanRunning = false;
        if (!walked) {
            // A quiet end: nothing more is shown, unless the deep scan can
            // read what this scan could not and the user wants it.
            if (!deep && !ScanStopRequested && CanDeepScan() && OffersDeepScan(result.get()) &&
                m_view.Ask(texts::kDeepScanQuestion, TQuestionKind::Caution))
                StartScan(drive, true);
            return;
        }
        if (!details.empty() && m_rows.Count() > 0) {
            m_rows.SetDetails(std::move(details));
            m_view.RowDetailsChanged(0, m_rows.Count() - 1);
        }
        // A deep scan's count: the FILE records it found on the drive.
        if (deep && result != nullptr)
            m_view.SetText(TControl::lblDriveMFTRecordsCount,
                           RecordCountText(result->DeepCounters.RecordsFound));
        m_shownScan = result;
        m_view.SetEnabled(TControl::btn2, true);
        m_view.SetText(TControl::btnScan, texts::kScanAgain);
        m_view.SetEnabled(TControl::btnRecover, true);
        m_view.ShowMessage(m_rows.Count() > 0 ? texts::kScanDone : texts::kScanEmpty);
    });
}

void TMainLogic::btnRecoverClick() {
    if (RecoverRunning) {
        RecoverStopRequested = true;
        return;
    }
    const std::size_t count = m_rows.CheckedCount();
    if (count == 0) {
        m_view.ShowMessage(texts::kCheckFile);
        return;
    }
    if (!m_view.SelectedDrive()) {
        m_view.ShowMessage(texts::kSelectDrive);
        return;
    }
    // The rows' own scan, not the drive selected now. A walk still under
    // way has no result yet (and the button is disabled meanwhile).
    const std::shared_ptr<const scan::TScanResult> scan = m_shownScan;
    if (!scan) return;
    if (platform::FolderIsOnDrive(m_view.OutputFolder(), scan->Source.Resolved) &&
        !m_view.Ask(texts::kOutputOnSource, TQuestionKind::Caution))
        return;
    RecoverStopRequested = false;
    m_view.SetEnabled(TControl::btn2, false);
    RecoverRunning = true;
    if (m_recoverThread.joinable()) m_recoverThread.join();
    m_recoverThread = std::thread(
        [this, scan, count, generation = m_rows.Generation()] { RecoverWorker(scan, count, generation); });
}

void TMainLogic::RecoverWorker(std::shared_ptr<const scan::TScanResult> scan, std::size_t fileCount,
                               std::uint64_t generation) {
    std::size_t rowCount = 0;
    const TBarScale scale(fileCount);
    Invoke([&] {
        m_view.SetBarRange(scale.Maximum());
        m_view.SetBarPosition(0);
        m_view.SetText(TControl::btnRecover, texts::kRecoverStop);
        m_view.SetEnabled(TControl::btnScan, false);
        // Rows a scan adds after this moment are not visited.
        rowCount = m_rows.Count();
    });
    auto source = std::make_shared<TRowSource>(*this, rowCount, generation);
    TFileTally tally;
    const recover::TRecoverySummary summary =
        m_engine->Recover(std::move(scan), RecoverStopRequested, *source, tally);
    std::uint64_t notWritten = tally.NotWritten;
    std::uint64_t attempted = tally.Attempted;
    if (summary.OpenFailure) {
        // Nothing was read: none of the ticked files was written.
        attempted = std::max<std::uint64_t>(attempted, fileCount);
        notWritten = attempted;
    }
    Post([this, source, notWritten, attempted] {
        source->StepBar();
        RecoverRunning = false;
        m_view.SetText(TControl::btnRecover, texts::kRecoverAgain);
        m_view.SetEnabled(TControl::btnScan, true);
        m_view.SetEnabled(TControl::btn2, true);
        m_view.ShowMessage(RecoveryDoneText(notWritten, attempted));
    });
}

void TMainLogic::chk1Click(bool checked) {
    m_rows.SetAllChecked(checked);
    if (m_rows.Count() > 0) m_view.ChecksChanged(0, m_rows.Count() - 1);
}

void TMainLogic::btn2Click() {
    const std::optional<std::size_t> found = m_rows.Find(m_view.SeekText());
    if (!found) return;
    m_view.FocusRow(*found);
    if (m_rows.SetChecked(*found, true)) m_view.ChecksChanged(*found, *found);
}

void TMainLogic::lv1ColumnClick(int column) {
    SortColumn = column;
    const std::vector<std::size_t> newPosition = m_rows.SortByColumn(column);
    m_view.RowsReordered(newPosition);
}

int TMainLogic::lv1Compare(const TRow& first, const TRow& second) const {
    return CompareText(first.Column(SortColumn), second.Column(SortColumn));
}

void TMainLogic::RowCheckClicked(std::size_t position, bool checked) {
    if (m_rows.SetChecked(position, checked)) m_view.ChecksChanged(position, position);
}

}  // namespace form
