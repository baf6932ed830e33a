// SPDX-License-Identifier: GPL-3.0-or-later
// The commands of lumbra-cli. They drive the engine only through its
// sessions (scan::TScanSession, recover::TRecoveryRun) and word their own
// messages.
#pragma once

#include <cstdint>
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
// scan --deep: every file the MFT records on the whole source describe.
int DeepScanCommand(const std::string& source, bool json);
// keepFolders: each file goes into its original folders under outDir.
int RecoverCommand(const std::string& source, std::optional<std::uint32_t> partition,
                   const std::string& outDir, bool autoNames, bool all, bool keepFolders,
                   const std::vector<std::string>& captions);

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
