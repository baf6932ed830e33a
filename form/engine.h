// SPDX-License-Identifier: GPL-3.0-or-later
// The engine as the window logic drives it: the drive letters and their
// probe, one scan session, one recovery run. The program uses the engine's
// own; the logic's tests put a fake in their place to script what a run
// reports and when.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "recover/recovery_run.h"
#include "scan/probe.h"
#include "scan/scan_session.h"

namespace form {

class TEngine {
public:
    virtual ~TEngine() = default;
    // The drive letters there are, bit i for 'A' + i (a partitioned disk's
    // NTFS partitions each with a letter of their own). None by default.
    virtual std::uint32_t DriveLetters() { return 0; }
    // The probe of one drive ("C:"); nothing when its device does not open.
    virtual std::optional<scan::TProbeResult> Probe(const std::string& drive) {
        (void)drive;
        return std::nullopt;
    }
    virtual std::shared_ptr<const scan::TScanResult> Scan(const std::string& drive,
                                                          const std::atomic<bool>& stop,
                                                          scan::TScanSessionSink& sink) = 0;
    // The deep scan of a drive (scan::TScanOptions::Deep): the whole drive
    // read for records by their bytes; OnWalkStart and OnProgress count MiB.
    // Nothing when the engine has none.
    virtual std::shared_ptr<const scan::TScanResult> DeepScan(const std::string& drive,
                                                              const std::atomic<bool>& stop,
                                                              scan::TScanSessionSink& sink) {
        (void)drive;
        (void)stop;
        (void)sink;
        return nullptr;
    }
    virtual recover::TRecoverySummary Recover(std::shared_ptr<const scan::TScanResult> scan,
                                              const std::atomic<bool>& stop, recover::TRowSource& rows,
                                              recover::TRecoverySink& sink) = 0;
};

// The engine's own letters, probe and sessions (scan::DriveLettersMask,
// scan::ProbeDrive, scan::TScanSession, recover::TRecoveryRun).
std::unique_ptr<TEngine> SessionEngine();

}  // namespace form
