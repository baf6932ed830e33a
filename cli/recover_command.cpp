// SPDX-License-Identifier: GPL-3.0-or-later
// lumbra-cli recover: a scan session over the source, then a recovery run of
// the chosen rows into a folder, named as the window's recovery run names
// them. The run reads the volume the scan resolved, never the name again.
#include <csignal>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "cli/commands.h"
#include "recover/output_file.h"
#include "recover/recovery_run.h"
#include "scan/catalogue.h"
#include "scan/row_details.h"

namespace cli {

namespace {

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

// The chosen rows in list order, each into outDir or, with --keep-folders,
// into its original folders below it (made when the run reaches the row).
class TChosenRows : public recover::TRowSource {
public:
    TChosenRows(const scan::TScanResult& scan, std::vector<std::size_t> indices,
                recover::TNamingChoice naming, std::string outDir, bool keepFolders)
        : m_scan(scan),
          m_indices(std::move(indices)),
          m_naming(naming),
          m_outDir(std::move(outDir)),
          m_keepFolders(keepFolders) {}

    std::optional<recover::TChosenRow> Next(std::size_t from) override {
        while (m_next < m_indices.size() && m_indices[m_next] < from) ++m_next;
        if (m_next >= m_indices.size()) return std::nullopt;
        recover::TChosenRow row;
        row.Index = m_indices[m_next++];
        row.Naming = m_naming;
        row.Folder = m_outDir;
        if (m_keepFolders) {
            row.Folder = KeptFolder(m_outDir, m_scan.Rows[row.Index].Details, row.Index, m_rules);
            std::error_code ec;
            std::filesystem::create_directories(std::filesystem::u8path(row.Folder), ec);
        }
        return row;
    }
    // The list is made before the run: files are written ahead.
    bool FixedBeforeTheRun() const override { return true; }

private:
    const scan::TScanResult& m_scan;
    std::vector<std::size_t> m_indices;
    recover::TNamingChoice m_naming;
    std::string m_outDir;
    bool m_keepFolders;
    // Folder names follow the output folder's file system, as file names do.
    recover::TNameRules m_rules =
        m_keepFolders ? recover::FolderNameRules(m_outDir) : recover::HostNameRules();
    std::size_t m_next = 0;
};

// One line per file on stdout; the skipped ones again on stderr at the end.
class TPrintFiles : public recover::TRecoverySink {
public:
    TPrintFiles(const scan::TScanResult& scan, std::size_t total)
        : m_scan(scan), m_total(total), m_progress(ShowProgress()) {}

    void OnFile(const recover::TFileOutcome& file) override {
        const scan::DeletedFileEntry& row = m_scan.Rows[file.Index];
        const recover::TRecoverResult& result = file.Result;
        if (result.Status == recover::TRecoverStatus::Written) {
            std::string outcome = std::to_string(result.Bytes) + " bytes";
            if (result.UnreadBytes + result.MissingBytes > 0)
                outcome += " (" + std::to_string(result.UnreadBytes + result.MissingBytes) +
                           " bytes unreadable, written as zeros)";
            if (result.ReusedBytes > 0)
                outcome += " (damaged: " + std::to_string(result.ReusedBytes) +
                           " bytes map clusters used earlier in the file, left as holes)";
            if (result.TakenBytes > 0)
                outcome += " (damaged: " + std::to_string(result.TakenBytes) +
                           " bytes map clusters another file of this run holds, left as holes)";
            if (result.BeyondBytes > 0)
                outcome += " (" + std::to_string(result.BeyondBytes) +
                           " bytes left as holes: the run has written as many bytes as the volume holds)";
            if (result.CutBytes > 0)
                outcome += " (damaged: size claimed " + std::to_string(result.CutBytes) +
                           " bytes past what the runs allocate, cut)";
            if (result.Encrypted) outcome += " (encrypted: written as it lies)";
            PrintLine(row.Caption, file.Target, outcome + Verdict(row));
        } else {
            std::string why = StatusText(result.Status);
            if (result.OutputError != 0)
                why += " (" + std::system_category().message(result.OutputError) + ")";
            PrintLine(row.Caption, file.Target, "skipped: " + why + Verdict(row));
            m_skipped.push_back(row.Caption + " (" + row.NameText + " -> " + file.Target + "): " + why);
        }
        if (m_progress) std::fprintf(stderr, "\rRecovering: %zu / %zu", ++m_done, m_total);
    }

    void Finish() {
        if (m_progress) std::fputs("\r\033[K", stderr);
    }
    std::vector<std::string>& Skipped() { return m_skipped; }

private:
    static std::string Verdict(const scan::DeletedFileEntry& row) {
        return "; " + scan::VerdictSentence(row.Details.Recoverability);
    }

    const scan::TScanResult& m_scan;
    std::size_t m_total;
    bool m_progress;
    std::size_t m_done = 0;
    std::vector<std::string> m_skipped;
};

#ifndef _WIN32
// Ctrl-C or a SIGTERM ends the run where it is, as the signal would, less
// the temporary files of content written ahead: they are removed first.
extern "C" void RemoveTempFilesAndDie(int signal) {
    recover::RemoveOwnTempFiles();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}
#endif

void RemoveTempFilesOnSignals() {
#ifdef _WIN32
    // Windows removes an uncommitted temporary file by itself.
#else
    struct sigaction action {};
    action.sa_handler = RemoveTempFilesAndDie;
    sigemptyset(&action.sa_mask);
    // SIGPIPE too: output piped into a command that stops reading.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        struct sigaction old {};
        // A signal ignored by whoever started the run stays ignored.
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        ::sigaction(signal, &action, nullptr);
    }
#endif
}

}  // namespace

int RecoverCommand(const std::string& source, const TRecoverOptions& o) {
    const std::string& outDir = o.OutDir;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::u8path(outDir), ec);
    if (!std::filesystem::is_directory(std::filesystem::u8path(outDir), ec)) {
        std::fprintf(stderr, "lumbra-cli: %s: not a folder that can be written to\n", outDir.c_str());
        return kExitBadSource;
    }

    std::atomic<bool> stop{false};
    std::shared_ptr<const scan::TScanResult> scanned;
    std::string shown = source;  // the source as messages name it
    if (!o.From.empty()) {
        // No second pass: the rows and file systems come from the file,
        // and are read from its source once that is seen to be the same.
        scan::TDecodedCatalogue catalogue = scan::LoadCatalogueFile(std::filesystem::u8path(o.From));
        if (!catalogue.Result) {
            std::fprintf(stderr, "lumbra-cli: %s: %s\n", o.From.c_str(), catalogue.Error.c_str());
            return kExitBadSource;
        }
        if (shown.empty()) shown = catalogue.Result->Source.Resolved;
        const scan::TCatalogueSourceCheck check = scan::ReopenCatalogueSource(catalogue, source);
        if (!check.Ok) {
            const std::string why = check.OpenFailure ? OpenFailureText(*check.OpenFailure) : check.Error;
            std::fprintf(stderr, "lumbra-cli: %s: %s\n", shown.c_str(), why.c_str());
            return kExitBadSource;
        }
        scanned = std::move(catalogue.Result);
    } else if (o.Deep) {
        scanned = RunDeepScan(source);
        if (!scanned) return kExitBadSource;
    } else {
        scan::TScanOptions options;
        options.ReadLabel = false;
        options.Partition = o.Partition;
        scan::TQuietScanSink quiet;
        scanned = scan::TScanSession(source, options).Run(stop, quiet);
        if (!ScanReachedTheWalk(*scanned, source)) return kExitBadSource;
    }
    const std::vector<scan::DeletedFileEntry>& rows = scanned->Rows;

    // The chosen rows, by index, in list order; captions that name no row
    // are reported and count as skipped.
    std::vector<std::size_t> chosen;
    std::vector<std::string> unknown;
    if (o.All) {
        for (std::size_t i = 0; i < rows.size(); ++i) chosen.push_back(i);
    } else {
        std::map<std::uint64_t, std::size_t> byOffset;
        for (std::size_t i = 0; i < rows.size(); ++i) byOffset.emplace(rows[i].ByteOffset, i);
        std::vector<bool> picked(rows.size(), false);
        for (const std::string& caption : o.Captions) {
            const auto offset = recover::ParseCaption(caption);
            const auto it = offset ? byOffset.find(*offset) : byOffset.end();
            if (it == byOffset.end()) {
                PrintLine(caption, "", "skipped: no deleted file with this caption");
                unknown.push_back(caption + ": no deleted file with this caption");
                continue;
            }
            picked[it->second] = true;
        }
        for (std::size_t i = 0; i < picked.size(); ++i)
            if (picked[i]) chosen.push_back(i);
    }

    RemoveTempFilesOnSignals();
    const std::size_t total = chosen.size();
    TChosenRows listed(*scanned, std::move(chosen),
                       o.AutoNames ? recover::TNamingChoice::AutoName : recover::TNamingChoice::OldName,
                       outDir, o.KeepFolders);
    TPrintFiles files(*scanned, total);
    const recover::TRecoverySummary summary = recover::TRecoveryRun(scanned).Run(stop, listed, files);
    files.Finish();
    if (scanned->Deep)
        PrintDeepCounters(*scanned);
    else
        PrintCounters(scanned->Counters);
    if (summary.OpenFailure) {
        std::fprintf(stderr, "lumbra-cli: %s: %s\n", shown.c_str(),
                     OpenFailureText(*summary.OpenFailure).c_str());
        return kExitBadSource;
    }
    std::vector<std::string>& skipped = files.Skipped();
    skipped.insert(skipped.begin(), unknown.begin(), unknown.end());
    if (skipped.empty()) return kExitOk;
    std::fprintf(stderr, "lumbra-cli: %zu of %zu files could not be written:\n", skipped.size(),
                 total + unknown.size());
    for (const std::string& line : skipped) std::fprintf(stderr, "  %s\n", line.c_str());
    return kExitSomeSkipped;
}

}  // namespace cli
