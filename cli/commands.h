// The commands of lumbra-cli.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "scan/scan_engine.h"

namespace cli {

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitSomeSkipped = 1;
constexpr int kExitBadSource = 2;

// details: the tab-separated rows gain the original path and the verdict.
int ScanCommand(const std::string& source, bool json, bool details, std::optional<std::uint32_t> partition);
int InfoCommand(const std::string& source);
// keepFolders: each file goes into its original folders under outDir.
int RecoverCommand(const std::string& source, std::optional<std::uint32_t> partition,
                   const std::string& outDir, bool autoNames, bool all, bool keepFolders,
                   const std::vector<std::string>& captions);

// Opens the source (the partition chosen, or its only NTFS partition) for a
// scan; prints why and returns nothing when it cannot be used.
std::unique_ptr<scan::TScanEngine> OpenEngine(const std::string& source,
                                              std::optional<std::uint32_t> partition);

// Runs the engine's steps up to the walk; prints the reason and returns false
// when the source cannot be scanned.
bool PrepareScan(scan::TScanEngine& engine, const std::string& source);

// Appends a text field of the tab-separated output, with tab, newline and
// backslash written as \t, \n and \\.
void PutPlain(std::string& out, const std::string& text);

// Whether progress lines go to stderr (it is a terminal).
bool ShowProgress();

}  // namespace cli
