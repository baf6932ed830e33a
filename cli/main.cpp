// SPDX-License-Identifier: GPL-3.0-or-later
// lumbra-cli: the command-line front end on the same engine as the window.
//
//   lumbra-cli scan SOURCE [--partition N] [--json | --details]
//   lumbra-cli scan --deep SOURCE [--json] [--save FILE]
//   lumbra-cli recover SOURCE [--partition N] --out DIR [--auto-names] [--keep-folders] (--all | CAPTION...)
//   lumbra-cli recover --deep SOURCE --out DIR [--auto-names] [--keep-folders] (--all | CAPTION...)
//   lumbra-cli recover --from FILE [SOURCE] --out DIR [--auto-names] [--keep-folders] (--all | CAPTION...)
//   lumbra-cli info SOURCE
//   lumbra-cli --help | --version
//
// SOURCE is a drive string ("D:", through the drive table) or the path of an
// image file or block device; it is only ever read. Exit codes: 0 done (also
// when a scan finds nothing), 1 some chosen files were skipped, 2 the source
// or the output folder cannot be used.
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "lumbra_version.h"
#include "platform/command_line.h"

namespace {

constexpr const char* kUsage =
    "usage: lumbra-cli scan SOURCE [--partition N] [--json | --details]\n"
    "       lumbra-cli scan --deep SOURCE [--json] [--save FILE]\n"
    "       lumbra-cli recover SOURCE [--partition N] --out DIR [--auto-names] [--keep-folders] (--all | "
    "CAPTION...)\n"
    "       lumbra-cli recover --deep SOURCE --out DIR [--auto-names] [--keep-folders] (--all | CAPTION...)\n"
    "       lumbra-cli recover --from FILE [SOURCE] --out DIR [--auto-names] [--keep-folders] (--all | "
    "CAPTION...)\n"
    "       lumbra-cli info SOURCE\n"
    "       lumbra-cli --help | --version\n"
    "SOURCE is a drive string (\"D:\") or the path of an image file or block device;\n"
    "a whole disk is read in its only NTFS partition, or the one --partition names.\n"
    "scan --deep --save FILE keeps what the deep scan found; recover --from FILE\n"
    "recovers from it without scanning again, from SOURCE when the disk has moved.\n";

// A command line that cannot be run: the usage on stderr, exit 2.
int Usage() {
    std::fputs(kUsage, stderr);
    return cli::kExitBadSource;
}

// Asked for: on stdout, exit 0 (a pipe into a pager or grep sees it).
int Print(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    return std::fflush(stdout) == 0 ? cli::kExitOk : cli::kExitBadSource;
}

// A partition number as the table gives it: decimal, 1 to 2^32 - 1.
bool ParsePartition(const std::string& text, std::optional<std::uint32_t>& partition) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long long n = std::stoull(text);
    if (n == 0 || n > UINT32_MAX) return false;
    partition = static_cast<std::uint32_t>(n);
    return true;
}

int Scan(const std::vector<std::string>& args) {
    if (args[1] == "--deep") {
        if (args.size() < 3 || args[2].rfind("--", 0) == 0) return Usage();
        bool deepJson = false;
        std::string save;
        for (std::size_t i = 3; i < args.size(); ++i) {
            if (args[i] == "--json" && !deepJson) {
                deepJson = true;
            } else if (args[i] == "--save" && i + 1 < args.size() && save.empty() && !args[i + 1].empty()) {
                save = args[++i];
            } else {
                return Usage();
            }
        }
        return cli::DeepScanCommand(args[2], deepJson, save);
    }
    bool json = false;
    bool details = false;
    std::optional<std::uint32_t> partition;
    for (std::size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--json" && !json && !details) {
            json = true;
        } else if (args[i] == "--details" && !json && !details) {
            details = true;
        } else if (args[i] == "--partition" && i + 1 < args.size() && !partition) {
            if (!ParsePartition(args[++i], partition)) return Usage();
        } else {
            return Usage();
        }
    }
    return cli::ScanCommand(args[1], json, details, partition);
}

int Recover(const std::vector<std::string>& args) {
    cli::TRecoverOptions o;
    std::size_t first = 1;
    std::string source;
    if (args[1] == "--deep") {
        o.Deep = true;
        if (args.size() < 3) return Usage();
        source = args[2];
        first = 3;
    } else if (args[1] == "--from") {
        // The catalogue, then the source only when it is named anew.
        if (args.size() < 3 || args[2].empty()) return Usage();
        o.From = args[2];
        first = 3;
        if (args.size() > 3 && args[3].rfind("--", 0) != 0) {
            source = args[3];
            first = 4;
        }
    } else {
        source = args[1];
        first = 2;
    }
    for (std::size_t i = first; i < args.size(); ++i) {
        if (args[i] == "--out" && i + 1 < args.size()) {
            o.OutDir = args[++i];
        } else if (args[i] == "--partition" && i + 1 < args.size() && !o.Partition && !o.Deep &&
                   o.From.empty()) {
            if (!ParsePartition(args[++i], o.Partition)) return Usage();
        } else if (args[i] == "--auto-names") {
            o.AutoNames = true;
        } else if (args[i] == "--keep-folders") {
            o.KeepFolders = true;
        } else if (args[i] == "--all") {
            o.All = true;
        } else if (args[i].rfind("--", 0) == 0) {
            return Usage();
        } else {
            o.Captions.push_back(args[i]);
        }
    }
    if (o.OutDir.empty() || o.All == !o.Captions.empty()) return Usage();
    return cli::RecoverCommand(source, o);
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    // UTF-8 on every platform (Windows hands main() its ANSI code page).
    platform::PrepareConsole();
    const std::vector<std::string> args = platform::CommandLineArguments(argc, argv);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) return Print(kUsage);
    if (args.size() == 1 && args[0] == "--version") return Print("lumbra-cli " LUMBRA_VERSION_TEXT "\n");
    if (args.size() < 2) return Usage();
    if (args[0] == "info" && args.size() == 2) return cli::InfoCommand(args[1]);
    if (args[0] == "scan") return Scan(args);
    if (args[0] == "recover") return Recover(args);
    return Usage();
}
