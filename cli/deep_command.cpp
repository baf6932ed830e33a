// SPDX-License-Identifier: GPL-3.0-or-later
// lumbra-cli scan --deep SOURCE [--json]: every file the records on the
// whole source describe, as the deep pass finds them. Rows come once the
// pass is over (the copies of a record must all be seen first); progress
// goes to stderr as the bytes are read.
#include <chrono>
#include <cstdio>

#include "cli/commands.h"
#include "scan/deep_pass.h"
#include "scan/volume_source.h"

namespace cli {

namespace {

class TDeepPrintSink : public scan::TDeepSink {
public:
    explicit TDeepPrintSink(bool json) : m_json(json), m_progress(ShowProgress()) {}

    void OnVolumes(const std::vector<ntfs::TInferredVolume>& volumes) override { m_volumes = volumes; }

    void OnProgress(std::uint64_t done, std::uint64_t total) override {
        if (!m_progress) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - m_last < std::chrono::milliseconds(100) && done != total) return;
        m_last = now;
        std::fprintf(stderr, "\rlumbra-cli: %llu of %llu MB read",
                     static_cast<unsigned long long>(done >> 20),
                     static_cast<unsigned long long>(total >> 20));
        if (done == total) std::fputs("\n", stderr);
    }

    void OnRow(scan::TDeepRow&& row) override {
        const scan::DeletedFileEntry& e = row.Entry;
        m_line.clear();
        if (m_json) {
            m_line += m_rows == 0 ? "[\n  {" : ",\n  {";
            const auto text = [&](const char* key, const std::string& value, bool first = false) {
                m_line += first ? "\"" : ", \"";
                m_line += key;
                m_line += "\": ";
                PutJsonString(m_line, value);
            };
            text("caption", e.Caption, true);
            m_line += ", \"record\": " + std::to_string(e.Record);
            text("name", e.NameText);
            text("type", e.Extension);
            m_line += ", \"size\": " + std::to_string(e.Size);
            text("createdUtc", scan::FileTimeToUtcIso(e.CreationTime));
            text("modifiedUtc", scan::FileTimeToUtcIso(e.ModificationTime));
            text("path", e.Details.Path);
            text("state", scan::DeepStateText(row.Lost));
            text("found", scan::DeepHowText(row.How));
            m_line += ", \"volumeStart\": " +
                      std::to_string(row.Volume < m_volumes.size() ? m_volumes[row.Volume].StartByte : 0);
            m_line += "}";
        } else {
            m_line += e.Caption;
            m_line.push_back('\t');
            PutPlain(m_line, e.NameText);
            m_line.push_back('\t');
            PutPlain(m_line, e.Extension);
            for (const std::string* field : {&e.SizeText, &e.CreateTime, &e.LastTime}) {
                m_line.push_back('\t');
                m_line += *field;
            }
            m_line.push_back('\t');
            m_line += scan::DeepStateText(row.Lost);
            m_line.push_back('\n');
        }
        std::fputs(m_line.c_str(), stdout);
        ++m_rows;
    }

    void Finish() {
        if (m_json) std::fputs(m_rows > 0 ? "\n]\n" : "[]\n", stdout);
    }

private:
    bool m_json;
    std::vector<ntfs::TInferredVolume> m_volumes;
    bool m_progress;
    std::uint64_t m_rows = 0;
    std::string m_line;
    std::chrono::steady_clock::time_point m_last{};
};

}  // namespace

int DeepScanCommand(const std::string& source, bool json) {
    // The source as it lies, from its first byte: a whole disk is read
    // whole, space outside its partitions included; a letter is its volume.
    scan::TSourceRequest request;
    request.Name = source;
    request.Scope = scan::TSourceScope::AsItIs;
    scan::TOpenedSource opened = scan::OpenSource(request);
    if (!opened.Volume) {
        if (opened.OpenFailure)
            std::fprintf(stderr, "lumbra-cli: %s\n", OpenFailureText(*opened.OpenFailure).c_str());
        else
            std::fprintf(stderr, "lumbra-cli: %s: %s\n", source.c_str(),
                         scan::SourceErrorText(opened.Error).c_str());
        return kExitBadSource;
    }
    platform::TRawVolume* const volume = opened.Volume.get();
    TDeepPrintSink sink(json);
    std::atomic<bool> stop{false};
    scan::TDeepPass pass(*volume);
    const scan::TDeepResult result = pass.Run(stop, sink);
    sink.Finish();
    std::fflush(stdout);
    const auto& c = result.Counters;
    std::fprintf(stderr,
                 "lumbra-cli: %llu bytes read, %llu records found, %zu file systems, %llu files listed, "
                 "%llu reads failed\n",
                 static_cast<unsigned long long>(c.BytesRead),
                 static_cast<unsigned long long>(c.RecordsFound), result.Volumes.size(),
                 static_cast<unsigned long long>(c.Rows), static_cast<unsigned long long>(c.ReadFailures));
    return kExitOk;
}

}  // namespace cli
