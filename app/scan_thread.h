// The scan run in the window: the scan button and TScanThread.
//
// The thread drives the scan engine step by step and shows each fact in the
// window as soon as it is known. Labels, buttons and the closing message are
// handed to the UI thread one at a time while the thread waits; the found
// rows and the progress of the record walk go over in batches, at most every
// kHandOverInterval and once more at the end of the walk. One blocking
// hand-over per record would cost the UI thread more than the walk itself
// (a few tens of microseconds each, 300,000 times) and leave the window no
// time to repaint; the batches give the list the same rows in the same
// order, and the count label and the bar the same final values. A stop
// request is still read before every record.
#pragma once

#include <QString>
#include <chrono>
#include <memory>

#include "app/run_thread.h"
#include "ntfs/boot_sector.h"

namespace app {

class TScanThread : public TRunThread {
public:
    // Longest time found rows and progress wait before the UI thread gets them.
    static constexpr std::chrono::milliseconds kHandOverInterval{30};

    TScanThread(TMainForm& form, QString curDrive);

protected:
    void run() override { Execute(); }

private:
    void Execute();
    // Quiet end: the flag cleared, nothing more shown.
    void EndQuietly();

    const QString FcurDrive;
    ntfs::TDISK_INFORMATION diskInfo{};
};

// The scan button: starts a run on the selected drive, or asks the running
// one to stop. `thread` holds the window's scan worker.
void ScanButtonClick(TMainForm& form, std::unique_ptr<TScanThread>& thread);

}  // namespace app
