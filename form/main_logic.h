// SPDX-License-Identifier: GPL-3.0-or-later
// What the main window decides, for every window: the four run flags, the
// buttons' captions and enabled states through a run, the label texts, the
// scan and recovery workers, Seek, Select All, the sort order and the
// closing messages. A window forwards its clicks here and draws what it is
// told through form::TMainView.
//
// Workers. A scan and a recovery each run on a std::thread of their own and
// touch no control: every change reaches the window through the view's Post,
// in the order the worker made it. Found rows and the walk's progress go in
// batches, at most every kHandOverInterval and once more when the walk ends:
// one hand-over per record would cost the UI thread more than the walk
// itself. A stop request is still read before every record. The recovery
// waits for the UI thread only to read the next ticked row (its tick, the
// naming choice and the folder count as they are when the walk gets there).
//
// The deep scan. A scan that ends before its walk because the drive's file
// table cannot be read (record 0 unusable, no usable $DATA, or $DATA flagged
// compressed, encrypted or sparse) asks whether to search the whole drive;
// Yes starts the deep scan of that drive. The drive list's menu item starts
// one directly. It is shown as a scan is, with the same button to stop it:
// the bar counts MiB read, rows come in batches as the pass hands them over,
// and its rows recover through the same button, from the source it read.
//
// Rows keep their volume: a recovery reads the scan result its rows came
// from (the source that scan resolved and opened), whatever the drive list
// shows at the click.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "form/engine.h"
#include "form/main_view.h"
#include "form/result_rows.h"

namespace form {

class TMainLogic {
public:
    // Longest time found rows and progress wait before the UI thread gets them.
    static constexpr std::chrono::milliseconds kHandOverInterval{30};

    TMainLogic(TMainView& view, std::unique_ptr<TEngine> engine);
    // Runs still going are stopped and waited for; whatever they still hand
    // over is dropped. Call it while the view is still whole.
    ~TMainLogic();
    // The same, ahead of the destructor: a window calls it before its
    // controls go. Nothing is shown or handed over afterwards.
    void Shutdown();
    TMainLogic(const TMainLogic&) = delete;
    TMainLogic& operator=(const TMainLogic&) = delete;

    // Handlers, on the UI thread.
    // The drive list as the window opens: every drive letter of the engine,
    // lowest first, kept when its probe reads exactly "NTFS". A probe that
    // opens its device shows that drive's name and serial in the drive
    // labels, so they end on the last drive that opened, NTFS or not.
    void FillDriveList();
    void btnScanClick();
    void btnRecoverClick();
    // The drive list's menu item "Deep Scan": the selected drive read whole
    // for records by their bytes, shown as a scan is (btnScan stops it).
    void DeepScanClick();
    // Whether the menu item can start a run now (no scan, no recovery).
    bool CanDeepScan() const { return !ScanRunning && !RecoverRunning; }
    void chk1Click(bool checked);  // Select All
    void btn2Click();              // Seek
    void lv1ColumnClick(int column);
    // lv1's sort order: by the column of the last header click.
    int lv1Compare(const TRow& first, const TRow& second) const;
    // A tick changed in the window (the user clicked a row's check box).
    void RowCheckClicked(std::size_t position, bool checked);

    const TResultRows& Rows() const { return m_rows; }
    // Rows found by a scan, appended at the end of the list, unticked; the
    // count label follows.
    void AppendRows(std::vector<TRow>&& rows);
    // Every row removed.
    void ClearRows();
    // The scan whose rows the list shows; empty before the first scan ends.
    std::shared_ptr<const scan::TScanResult> ShownScan() const { return m_shownScan; }

    // Run flags: the buttons read the running flags and write the stop flags.
    std::atomic<bool> ScanRunning{false};
    std::atomic<bool> ScanStopRequested{false};
    std::atomic<bool> RecoverRunning{false};
    std::atomic<bool> RecoverStopRequested{false};
    // The column of the last header click; kept across scans.
    int SortColumn = 0;

private:
    struct TShared;
    class TScanSink;
    class TRowSource;
    class TFileTally;

    // The scan or deep scan of a drive, started as btnScan starts one.
    void StartScan(const std::string& drive, bool deep);
    void ScanWorker(std::string drive, bool deep);
    void RecoverWorker(std::shared_ptr<const scan::TScanResult> scan, std::size_t fileCount,
                       std::uint64_t generation);
    // Worker thread: runs fn on the UI thread and waits for it. False, fn
    // not run, once the logic is going away.
    bool Invoke(const std::function<void()>& fn);
    // Worker thread: queues fn behind every earlier hand-over.
    void Post(std::function<void()> fn);

    TMainView& m_view;
    std::unique_ptr<TEngine> m_engine;
    TResultRows m_rows;
    std::shared_ptr<const scan::TScanResult> m_shownScan;
    std::shared_ptr<TShared> m_shared;
    std::thread m_scanThread;
    std::thread m_recoverThread;
};

}  // namespace form
