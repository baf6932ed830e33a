// SPDX-License-Identifier: GPL-3.0-or-later
// lumbra-cli scan --deep SOURCE [--json] [--save FILE]: every file the
// records on the whole source describe, as the deep session finds them.
// Rows come once the pass is over (the copies of a record must all be seen
// first, and the verdicts need every row of a volume); progress goes to
// stderr as the bytes are read. --save keeps the result as a catalogue
// (scan/catalogue.h) that recover --from reads instead of a second pass.
#include <chrono>
#include <cstdio>

#include <filesystem>

#include "cli/commands.h"
#include "scan/catalogue.h"
#include "scan/recoverability.h"

namespace cli {

namespace {

// Progress in MiB of the source, as the deep session counts it.
class TDeepProgress : public scan::TScanSessionSink {
public:
    TDeepProgress() : m_progress(ShowProgress()) {}
    void OnFacts(scan::TScanStage, const scan::TDriveFacts&) override {}
    void OnWalkStart(std::uint64_t mib) override { m_total = mib; }
    void OnProgress(std::uint64_t mib) override {
        if (!m_progress) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - m_last < std::chrono::milliseconds(100) && mib != m_total) return;
        m_last = now;
        std::fprintf(stderr, "\rlumbra-cli: %llu of %llu MB read", static_cast<unsigned long long>(mib),
                     static_cast<unsigned long long>(m_total));
        if (mib == m_total) std::fputs("\n", stderr);
    }
    void OnFound(const scan::DeletedFileEntry&) override {}

private:
    bool m_progress;
    std::uint64_t m_total = 0;
    std::chrono::steady_clock::time_point m_last{};
};

std::string RowLine(const scan::TScanResult& result, std::size_t i, bool json) {
    const scan::DeletedFileEntry& e = result.Rows[i];
    const scan::TScanResult::TDeepRowFacts& facts = result.DeepRows[i];
    std::string line;
    if (json) {
        line += i == 0 ? "[\n  {" : ",\n  {";
        const auto text = [&](const char* key, const std::string& value, bool first = false) {
            line += first ? "\"" : ", \"";
            line += key;
            line += "\": ";
            PutJsonString(line, value);
        };
        text("caption", e.Caption, true);
        line += ", \"record\": " + std::to_string(e.Record);
        text("name", e.NameText);
        text("type", e.Extension);
        line += ", \"size\": " + std::to_string(e.Size);
        text("createdUtc", scan::FileTimeToUtcIso(e.CreationTime));
        text("modifiedUtc", scan::FileTimeToUtcIso(e.ModificationTime));
        text("path", e.Details.Path);
        text("state", scan::DeepStateText(facts.Lost));
        text("found", scan::DeepHowText(facts.How));
        text("verdict", scan::VerdictText(e.Details.Recoverability.Verdict));
        line += ", \"volumeStart\": " + std::to_string(facts.Volume < result.DeepVolumes.size()
                                                           ? result.DeepVolumes[facts.Volume].Found.StartByte
                                                           : 0);
        line += "}";
    } else {
        line += e.Caption;
        line.push_back('\t');
        PutPlain(line, e.NameText);
        line.push_back('\t');
        PutPlain(line, e.Extension);
        for (const std::string* field : {&e.SizeText, &e.CreateTime, &e.LastTime}) {
            line.push_back('\t');
            line += *field;
        }
        line.push_back('\t');
        line += scan::DeepStateText(facts.Lost);
        line.push_back('\t');
        PutPlain(line, e.Details.Path);
        line.push_back('\t');
        line += scan::VerdictText(e.Details.Recoverability.Verdict);
        line.push_back('\n');
    }
    return line;
}

}  // namespace

std::shared_ptr<const scan::TScanResult> RunDeepScan(const std::string& source) {
    // The source as it lies, from its first byte: a whole disk is read
    // whole, space outside its partitions included; a letter is its volume.
    scan::TScanOptions options;
    options.Deep = true;
    options.ReadLabel = false;
    TDeepProgress progress;
    std::atomic<bool> stop{false};
    auto result = scan::TScanSession(source, options).Run(stop, progress);
    if (!ScanReachedTheWalk(*result, source)) return nullptr;
    return result;
}

void PrintDeepCounters(const scan::TScanResult& result) {
    const scan::TDeepCounters& c = result.DeepCounters;
    std::fprintf(stderr,
                 "lumbra-cli: %llu bytes read, %llu records found, %zu file systems, %llu files listed, "
                 "%llu reads failed\n",
                 static_cast<unsigned long long>(c.BytesRead),
                 static_cast<unsigned long long>(c.RecordsFound), result.DeepVolumes.size(),
                 static_cast<unsigned long long>(c.Rows), static_cast<unsigned long long>(c.ReadFailures));
}

int DeepScanCommand(const std::string& source, bool json, const std::string& saveTo) {
    const auto result = RunDeepScan(source);
    if (!result) return kExitBadSource;
    // Saved before the rows are printed: hours of reading are not lost to
    // a pipe that closed early.
    if (!saveTo.empty()) {
        std::string error;
        if (!scan::SaveCatalogue(*result, std::filesystem::u8path(saveTo), error)) {
            std::fprintf(stderr, "lumbra-cli: %s: the catalogue was not saved: %s\n", saveTo.c_str(),
                         error.c_str());
            return kExitBadSource;
        }
    }
    for (std::size_t i = 0; i < result->Rows.size() && i < result->DeepRows.size(); ++i)
        std::fputs(RowLine(*result, i, json).c_str(), stdout);
    if (json) std::fputs(result->Rows.empty() ? "[]\n" : "\n]\n", stdout);
    std::fflush(stdout);
    PrintDeepCounters(*result);
    return kExitOk;
}

}  // namespace cli
