// SPDX-License-Identifier: GPL-3.0-or-later
// One recovery run: the chosen rows of one scan, rebuilt into a folder.
//
// The run reads the volume its rows were scanned from (the scan result's
// resolved source), whatever the drive list shows by now, and opens it once
// for the whole run; the MFT layout comes from the scan, so extension
// records are found without rebuilding it for every file. Each file is
// reported as written or skipped with its reason; nothing is dropped in
// silence.
//
// The front end decides which row comes next and under which naming choice
// and folder: the window reads the row's tick, the naming option and the
// folder when the run reaches the row, so a change made during the run
// counts from the next row on; the command line hands a fixed list. The
// files of a fixed list are written ahead on other threads into temporary
// files, and named here in row order: small files are then created while
// earlier ones are named, which on two cores nearly halves the time of a
// run of many small files into ext4.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "recover/recover_file.h"
#include "recover/target_name.h"
#include "scan/scan_session.h"

namespace recover {

// The next row to rebuild, as the front end sees it when the run reaches it.
struct TChosenRow {
    std::size_t Index = 0;  // into the scan result's Rows
    TNamingChoice Naming = TNamingChoice::OldName;
    std::string Folder;  // UTF-8
    // The number an automatic name carries ("File_" + it): the row's place
    // in the list as the user sees it, which a sort moves away from Index;
    // nothing for Index itself.
    std::optional<std::size_t> NameIndex;
};

class TRowSource {
public:
    virtual ~TRowSource() = default;
    // The first chosen row at or after `from`, or nothing when the run is to
    // end (no more ticked rows, or a stop was asked for).
    virtual std::optional<TChosenRow> Next(std::size_t from) = 0;
    // True when the rows and their choices were fixed before the run began
    // (a list, not a window the user can still change): the run may then
    // ask for rows ahead and write their content while earlier files are
    // still being named, so that several files are on their way at once.
    virtual bool FixedBeforeTheRun() const { return false; }
};

struct TFileOutcome {
    std::size_t Index = 0;
    std::string Target;     // the path written, or the one that could not be
    TRecoverResult Result;  // Status Written, or why the file was skipped
};

class TRecoverySink {
public:
    virtual ~TRecoverySink() = default;
    virtual void OnFile(const TFileOutcome& outcome) = 0;
};

struct TRecoverySummary {
    std::uint64_t Written = 0;
    std::uint64_t Skipped = 0;
    bool Stopped = false;
    std::optional<scan::TOpenFailure> OpenFailure;  // the volume did not open: nothing was read
};

class TRecoveryRun {
public:
    explicit TRecoveryRun(std::shared_ptr<const scan::TScanResult> scan);
    // Rows are asked for in ascending index order, and files reach the sink
    // in that order, always from the calling thread. Each file reaches the
    // sink before the next row is asked for, unless the rows were fixed
    // before the run. The stop flag is read before each row; no file is
    // named after a stop was seen.
    TRecoverySummary Run(const std::atomic<bool>& stop, TRowSource& rows, TRecoverySink& sink);

    // Threads that write content ahead for rows fixed before the run; 0 (the
    // default): one per core beyond the first, at least one, at most two.
    void SetWriteThreads(unsigned threads) { m_writeThreads = threads; }

private:
    std::shared_ptr<const scan::TScanResult> m_scan;
    unsigned m_writeThreads = 0;
};

// A fixed, ascending list of row indices under one naming choice and folder
// (the command line, tests).
class TListedRows : public TRowSource {
public:
    TListedRows(std::vector<std::size_t> indices, TNamingChoice naming, std::string folder);
    std::optional<TChosenRow> Next(std::size_t from) override;
    bool FixedBeforeTheRun() const override { return true; }

private:
    std::vector<std::size_t> m_indices;
    TNamingChoice m_naming;
    std::string m_folder;
    std::size_t m_next = 0;
};

}  // namespace recover
