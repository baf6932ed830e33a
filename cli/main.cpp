// lumbra-cli: the command-line front end on the same engine as the window.
//
//   lumbra-cli scan SOURCE [--json | --details]
//   lumbra-cli recover SOURCE --out DIR [--auto-names] [--keep-folders] (--all | CAPTION...)
//   lumbra-cli info SOURCE
//   lumbra-cli --help | --version
//
// SOURCE is a drive string ("D:", through the drive table) or the path of an
// image file or block device; it is only ever read. Exit codes: 0 done (also
// when a scan finds nothing), 1 some chosen files were skipped, 2 the source
// or the output folder cannot be used.
#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "lumbra_version.h"
#include "platform/command_line.h"

namespace {

constexpr const char* kUsage =
    "usage: lumbra-cli scan SOURCE [--json | --details]\n"
    "       lumbra-cli recover SOURCE --out DIR [--auto-names] [--keep-folders] (--all | CAPTION...)\n"
    "       lumbra-cli info SOURCE\n"
    "       lumbra-cli --help | --version\n"
    "SOURCE is a drive string (\"D:\") or the path of an image file or block device.\n";

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

int Recover(const std::vector<std::string>& args) {
    std::string out;
    bool autoNames = false;
    bool all = false;
    bool keepFolders = false;
    std::vector<std::string> captions;
    for (std::size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--out" && i + 1 < args.size()) {
            out = args[++i];
        } else if (args[i] == "--auto-names") {
            autoNames = true;
        } else if (args[i] == "--keep-folders") {
            keepFolders = true;
        } else if (args[i] == "--all") {
            all = true;
        } else if (args[i].rfind("--", 0) == 0) {
            return Usage();
        } else {
            captions.push_back(args[i]);
        }
    }
    if (out.empty() || all == !captions.empty()) return Usage();
    return cli::RecoverCommand(args[1], out, autoNames, all, keepFolders, captions);
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
    if (args[0] == "scan" && args.size() == 2) return cli::ScanCommand(args[1], false, false);
    if (args[0] == "scan" && args.size() == 3 && args[2] == "--json") return cli::ScanCommand(args[1], true, false);
    if (args[0] == "scan" && args.size() == 3 && args[2] == "--details") return cli::ScanCommand(args[1], false, true);
    if (args[0] == "recover") return Recover(args);
    return Usage();
}
