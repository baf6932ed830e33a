// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's sessions behind form::TEngine: one scan session per scan, one
// recovery run per recovery, each reading the source its scan resolved.
#include "form/toolkit_free.h"
//
#include "form/engine.h"
#include "scan/drive_letters.h"

namespace form {

namespace {

class TSessionEngine : public TEngine {
public:
    std::uint32_t DriveLetters() override { return scan::DriveLettersMask(); }

    std::optional<scan::TProbeResult> Probe(const std::string& drive) override {
        return scan::ProbeDrive(drive);
    }

    std::shared_ptr<const scan::TScanResult> Scan(const std::string& drive, const std::atomic<bool>& stop,
                                                  scan::TScanSessionSink& sink) override {
        scan::TScanSession session(drive);
        return session.Run(stop, sink);
    }

    std::shared_ptr<const scan::TScanResult> DeepScan(const std::string& drive, const std::atomic<bool>& stop,
                                                      scan::TScanSessionSink& sink) override {
        scan::TScanOptions options;
        options.Deep = true;
        scan::TScanSession session(drive, options);
        return session.Run(stop, sink);
    }

    recover::TRecoverySummary Recover(std::shared_ptr<const scan::TScanResult> scan,
                                      const std::atomic<bool>& stop, recover::TRowSource& rows,
                                      recover::TRecoverySink& sink) override {
        recover::TRecoveryRun run(std::move(scan));
        return run.Run(stop, rows, sink);
    }
};

}  // namespace

std::unique_ptr<TEngine> SessionEngine() {
    return std::make_unique<TSessionEngine>();
}

}  // namespace form
