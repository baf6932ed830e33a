// SPDX-License-Identifier: GPL-3.0-or-later
// The engine as the window logic drives it: one scan session, one recovery
// run. The program uses the engine's sessions; the logic's tests put a fake
// in their place to script what a run reports and when.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "recover/recovery_run.h"
#include "scan/scan_session.h"

namespace form {

class TEngine {
public:
    virtual ~TEngine() = default;
    virtual std::shared_ptr<const scan::TScanResult> Scan(const std::string& drive,
                                                          const std::atomic<bool>& stop,
                                                          scan::TScanSessionSink& sink) = 0;
    virtual recover::TRecoverySummary Recover(std::shared_ptr<const scan::TScanResult> scan,
                                              const std::atomic<bool>& stop, recover::TRowSource& rows,
                                              recover::TRecoverySink& sink) = 0;
};

// The engine's own sessions (scan::TScanSession, recover::TRecoveryRun).
std::unique_ptr<TEngine> SessionEngine();

}  // namespace form
