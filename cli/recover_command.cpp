// lumbra-cli recover: scans the source as `scan` does and rebuilds the chosen
// rows into a folder, named as the window's recovery run names them.
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "platform/raw_volume.h"
#include "recover/recover_file.h"
#include "recover/target_name.h"
#include "scan/volume_source.h"

namespace cli {

namespace {

class TCollectSink : public scan::TScanSink {
public:
    void OnProgress(std::uint64_t) override {}
    void OnFound(scan::DeletedFileEntry&& entry) override { Rows.push_back(std::move(entry)); }
    void OnDetails(std::size_t row, scan::TRowDetails&& details) override {
        if (row < Rows.size()) Rows[row].Details = std::move(details);
    }
    std::vector<scan::DeletedFileEntry> Rows;
};

void PrintLine(const std::string& caption, const std::string& target, const std::string& outcome) {
    std::string line;
    PutPlain(line, caption);
    line.push_back('\t');
    PutPlain(line, target);
    line.push_back('\t');
    line += outcome;
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

// The row's original folders under outDir, each made safe as a file name is;
// a chain that did not reach the root goes under "_unknown_".
std::string KeptFolder(const std::string& outDir, const scan::TRowDetails& details, std::size_t rowIndex,
                       recover::TNameRules rules) {
    std::string folder = outDir;
    if (details.PathBroken) folder = recover::JoinTargetPath(folder, "_unknown_", rules);
    for (const std::string& name : details.Folders)
        folder = recover::JoinTargetPath(folder, recover::SafeFileName(name, rowIndex, rules), rules);
    return folder;
}

}  // namespace

int RecoverCommand(const std::string& source, std::optional<std::uint32_t> partition,
                   const std::string& outDir, bool autoNames, bool all, bool keepFolders,
                   const std::vector<std::string>& captions) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::u8path(outDir), ec);
    if (!std::filesystem::is_directory(std::filesystem::u8path(outDir), ec)) {
        std::fprintf(stderr, "lumbra-cli: %s: not a folder that can be written to\n", outDir.c_str());
        return kExitBadSource;
    }

    const auto opened = OpenEngine(source, partition);
    if (!opened) return kExitBadSource;
    scan::TScanEngine& engine = *opened;
    if (!PrepareScan(engine, source)) return kExitBadSource;
    TCollectSink sink;
    std::atomic<bool> stop{false};
    engine.Walk(stop, sink);
    engine.Close();
    const ntfs::TDISK_INFORMATION geometry = engine.Geometry();

    // The same volume again: the same partition, so captions stay offsets within it.
    auto volume = scan::OpenSource(source, partition).Volume;
    if (!volume) {
        std::fprintf(stderr, "lumbra-cli: %s: %s\n", source.c_str(),
                     scan::OutcomeText(scan::TScanOutcome::VolumeDidNotOpen).c_str());
        return kExitBadSource;
    }

    // The chosen rows, by index, in list order; captions that name no row
    // are reported and count as skipped.
    std::vector<std::size_t> chosen;
    bool skipped = false;
    if (all) {
        for (std::size_t i = 0; i < sink.Rows.size(); ++i) chosen.push_back(i);
    } else {
        std::map<std::uint64_t, std::size_t> byOffset;
        for (std::size_t i = 0; i < sink.Rows.size(); ++i) byOffset.emplace(sink.Rows[i].ByteOffset, i);
        std::vector<bool> picked(sink.Rows.size(), false);
        for (const std::string& caption : captions) {
            const auto offset = recover::ParseCaption(caption);
            const auto it = offset ? byOffset.find(*offset) : byOffset.end();
            if (it == byOffset.end()) {
                PrintLine(caption, "", "skipped: no deleted file with this caption");
                skipped = true;
                continue;
            }
            picked[it->second] = true;
        }
        for (std::size_t i = 0; i < picked.size(); ++i)
            if (picked[i]) chosen.push_back(i);
    }

    // Names follow the output folder's file system (a FAT or exFAT stick
    // needs the Windows rules even on Linux); folders kept under it too.
    recover::TRunTargets targets;
    const recover::TNameRules rules = targets.RulesOf(outDir);
    const bool progress = ShowProgress();
    std::size_t done = 0;
    for (const std::size_t index : chosen) {
        const scan::DeletedFileEntry& row = sink.Rows[index];
        const std::string folder = keepFolders ? KeptFolder(outDir, row.Details, index, rules) : outDir;
        const std::string verdict = "; " + scan::VerdictSentence(row.Details.Recoverability);
        if (keepFolders) std::filesystem::create_directories(std::filesystem::u8path(folder), ec);
        std::string target;
        const recover::TRecoverResult result = targets.Write(
            folder, row.Name, index,
            autoNames ? recover::TNamingChoice::AutoName : recover::TNamingChoice::OldName,
            [&](const std::string& path) {
                auto r = recover::RecoverFileFromRecord(*volume, row.ByteOffset, geometry, path);
                using TOutcome = recover::TRunTargets::TWriteOutcome;
                const TOutcome how = r.Status == recover::TRecoverStatus::Written ? TOutcome::Written
                                     : r.Status == recover::TRecoverStatus::OutputFailed
                                         ? TOutcome::OutputFailed
                                         : TOutcome::Skipped;
                return std::pair{how, r};
            },
            target);
        if (result.Status == recover::TRecoverStatus::Written) {
            std::string outcome = std::to_string(result.Bytes) + " bytes";
            if (result.UnreadBytes + result.MissingBytes > 0)
                outcome += " (" + std::to_string(result.UnreadBytes + result.MissingBytes) +
                           " bytes unreadable, written as zeros)";
            if (result.Encrypted) outcome += " (encrypted: written as it lies)";
            PrintLine(row.Caption, target, outcome + verdict);
        } else {
            skipped = true;
            PrintLine(row.Caption, target,
                      std::string("skipped: ") + recover::StatusText(result.Status) + verdict);
        }
        if (progress) std::fprintf(stderr, "\rRecovering: %zu / %zu", ++done, chosen.size());
    }
    if (progress) std::fputs("\r\033[K", stderr);
    return skipped ? kExitSomeSkipped : kExitOk;
}

}  // namespace cli
