// The recovery run in the window: the recover button and TRecoverThread.
//
// The thread walks the results list by index. Each row's tick, caption and
// name, the naming choice and the output folder are read on the UI thread
// when the walk reaches the row, so a change made during the run counts
// from the next row on. One hand-over reads forward over unticked rows to
// the next ticked one: the UI thread cannot change a tick while it does, so
// this reads each row at the moment the walk reaches it, without a round
// trip per unticked row.
//
// Target names come from the target naming rules: a name from a damaged or
// crafted record never leaves the output folder, and a later row of the
// same name never replaces a file this run has written.
#pragma once

#include <QString>
#include <memory>

#include "app/run_thread.h"
#include "ntfs/boot_sector.h"

namespace app {

class TRecoverThread : public TRunThread {
public:
    TRecoverThread(TMainForm& form, QString curDrive, int fileCount, const ntfs::TDISK_INFORMATION& diskInfo);

protected:
    void run() override { Execute(); }

private:
    void Execute();

    const ntfs::TDISK_INFORMATION FdiskInfo;
    const int FFileCount;
    const QString FCurDrive;
};

// The question asked before writing into a folder on the drive being read.
inline constexpr char16_t kOutputOnSourceQuestion[] =
    u"The output folder is on the drive being recovered. Writing there can overwrite the deleted files. "
    u"Continue?";

// The recover button: starts a run over the ticked rows, or asks the running
// one to stop. `thread` holds the window's recovery worker.
void RecoverButtonClick(TMainForm& form, std::unique_ptr<TRecoverThread>& thread);

}  // namespace app
