// SPDX-License-Identifier: GPL-3.0-or-later
// The commands of lumbra-cli. They drive the engine only through its
// sessions (scan::TScanSession, recover::TRecoveryRun) and word their own
// messages.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "recover/recover_file.h"
#include "scan/scan_session.h"

namespace cli {

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitSomeSkipped = 1;
constexpr int kExitBadSource = 2;

// details: the tab-separated rows gain the original path and the verdict.
int ScanCommand(const std::string& source, bool json, bool details, std::optional<std::uint32_t> partition);
int InfoCommand(const std::string& source);
// scan --deep: every file the MFT records on the whole source describe;
// saveTo, when not empty: the catalogue of what was found is written there.
int DeepScanCommand(const std::string& source, bool json, const std::string& saveTo);
// The deep session over the whole source, progress on stderr; null (and
// why on stderr) when the source does not open.
std::shared_ptr<const scan::TScanResult> RunDeepScan(const std::string& source);
// The deep session's counters as one line on stderr.
void PrintDeepCounters(const scan::TScanResult& result);

struct TRecoverOptions {
    std::optional<std::uint32_t> Partition;
    bool Deep = false;  // the rows of a deep scan (captions: record bytes on the whole source)
    // A deep scan's saved catalogue (scan --deep --save): its rows, read
    // from the source it names, or from the one given anew.
    std::string From;
    std::string OutDir;
    bool AutoNames = false;
    bool All = false;
    bool KeepFolders = false;  // each file goes into its original folders under OutDir
    std::vector<std::string> Captions;
};
// source: empty with From when the catalogue's own source is read.
int RecoverCommand(const std::string& source, const TRecoverOptions& options);

// Whether a scan got as far as its walk; otherwise prints why on stderr
// ("lumbra-cli: SOURCE: permission denied: run with sudo ...").
bool ScanReachedTheWalk(const scan::TScanResult& result, const std::string& source);

// The scan's counters as one line on stderr.
void PrintCounters(const scan::TScanCounters& counters);

// The texts of the engine's outcomes.
const char* OutcomeText(scan::TScanOutcome outcome);
const char* StatusText(recover::TRecoverStatus status);
std::string OpenFailureText(const scan::TOpenFailure& failure);
// "MFT records read from $MFTMirr: 0, 3" for the records of the mask (bit n:
// record n); empty when none was.
std::string MirroredRecordsText(std::uint8_t mirrored);

// Appends a text field of the tab-separated output, with tab, newline and
// backslash written as \t, \n and \\, every other C0 control and DEL as
// \xHH, and the C1 controls as \u0080 to \u009F.
void PutPlain(std::string& out, const std::string& text);

// Whether progress lines go to stderr (it is a terminal).
bool ShowProgress();
// Appends `text` to `out` as a JSON string, quotes and escapes included.
void PutJsonString(std::string& out, const std::string& text);

}  // namespace cli
