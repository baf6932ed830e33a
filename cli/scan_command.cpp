// SPDX-License-Identifier: GPL-3.0-or-later
// lumbra-cli scan and info: a scan session's rows as text or JSON, and the
// facts it learns of a volume before its walk.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "ntfs/boot_sector.h"
#include "ntfs/text.h"
#include "scan/scan_session.h"
#include "scan/volume_source.h"

// A text field of the tab-separated output. Tab, newline and backslash are
// written as \t, \n and \\; every other C0 control and DEL as \xHH, and the
// C1 controls (U+0080 to U+009F, in UTF-8 C2 80 to C2 9F) as \u0080 to
// \u009F: a name read from a damaged or crafted volume must not reach the
// terminal as a control sequence.
void cli::PutPlain(std::string& out, const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    // Nearly every name needs no escape: copy the plain stretches whole.
    const auto plain = [](unsigned char u) { return u >= 0x20 && u != 0x7F && u != '\\' && u != 0xC2; };
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t run = i;
        while (run < text.size() && plain(static_cast<unsigned char>(text[run]))) ++run;
        out.append(text, i, run - i);
        if (run == text.size()) break;
        i = run;
        const char c = text[i];
        const auto u = static_cast<unsigned char>(c);
        if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (u < 0x20 || u == 0x7F) {
            out += "\\x";
            out.push_back(kHex[u >> 4]);
            out.push_back(kHex[u & 0xF]);
        } else if (u == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            const auto next = static_cast<unsigned char>(text[++i]);
            out += "\\u00";
            out.push_back(kHex[next >> 4]);
            out.push_back(kHex[next & 0xF]);
        } else {
            out.push_back(c);
        }
        ++i;
    }
}

namespace {

// Plain rows go out as they are found. A row's path and verdict are known
// only once the walk is over, so output that carries them holds each row,
// already rendered, until then.
class TPrintSink : public scan::TScanSessionSink {
public:
    TPrintSink(bool json, bool details) : m_json(json), m_details(details), m_progress(cli::ShowProgress()) {}

    void OnFacts(scan::TScanStage, const scan::TDriveFacts&) override {}
    void OnWalkStart(std::uint64_t walkLength) override {
        m_total = walkLength;
        if (m_json) std::fputs("[", stdout);
    }

    void OnProgress(std::uint64_t done) override {
        if (!m_progress || (done & 0x3FF) != 0) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - m_lastProgress < std::chrono::milliseconds(100)) return;
        m_lastProgress = now;
        std::fprintf(stderr, "\rScanning: %llu / %llu records, %llu found",
                     static_cast<unsigned long long>(done), static_cast<unsigned long long>(m_total),
                     static_cast<unsigned long long>(m_found));
    }

    void OnFound(const scan::DeletedFileEntry& e) override {
        ++m_found;
        m_line.clear();
        Render(e);
        if (m_json || m_details) {
            m_held.emplace_back(m_line);
        } else {
            m_line.push_back('\n');
            std::fwrite(m_line.data(), 1, m_line.size(), stdout);
        }
    }

    // Rows come back in order once the walk is over: each held row goes out
    // with its path and verdict, and is let go.
    void OnDetails(std::size_t row, const scan::TRowDetails& details) override {
        if (row >= m_held.size()) return;
        m_line.clear();
        if (m_json) m_line += row == 0 ? "\n  " : ",\n  ";
        m_line += m_held[row];
        std::string().swap(m_held[row]);
        const scan::TRecoverability& r = details.Recoverability;
        if (m_json) {
            Text("path", details.Path);
            m_line += ", \"recoverability\": {";
            Text("verdict", scan::VerdictText(r.Verdict));
            Number("clusters", r.Clusters);
            Number("inUse", r.InUse);
            Number("lostToNewer", r.LostToNewer);
            m_line += "}}";
        } else {
            m_line.push_back('\t');
            cli::PutPlain(m_line, details.Path);
            m_line.push_back('\t');
            m_line += scan::VerdictText(r.Verdict);
        }
        m_line.push_back('\n');
        std::fwrite(m_line.data(), 1, m_line.size(), stdout);
    }

    void Finish() {
        if (m_json) std::fputs(m_found > 0 ? "\n]\n" : "]\n", stdout);
        if (m_progress) std::fputs("\r\033[K", stderr);
    }
    std::uint64_t Found() const { return m_found; }

private:
    void Text(const char* key, const std::string& value) {
        m_line += m_line.back() == '{' ? "\"" : ", \"";
        m_line += key;
        m_line += "\": ";
        cli::PutJsonString(m_line, value);
    }
    void Number(const char* key, auto value) {
        m_line += ", \"";
        m_line += key;
        m_line += "\": " + std::to_string(value);
    }

    // The row's own fields: a JSON object left open, or the six columns.
    void Render(const scan::DeletedFileEntry& e) {
        if (m_json) {
            m_line += "{";
            Text("caption", e.Caption);
            Number("record", e.Record);
            Text("name", e.NameText);
            Text("type", e.Extension);
            Text("sizeText", e.SizeText);
            Number("size", e.Size);
            Text("created", e.CreateTime);
            Text("modified", e.LastTime);
            Text("createdUtc", scan::FileTimeToUtcIso(e.CreationTime));
            Text("modifiedUtc", scan::FileTimeToUtcIso(e.ModificationTime));
        } else {
            // Only the name and its extension come from the volume; the
            // other columns are our own texts, with nothing to escape.
            m_line += e.Caption;
            m_line.push_back('\t');
            cli::PutPlain(m_line, e.NameText);
            m_line.push_back('\t');
            cli::PutPlain(m_line, e.Extension);
            for (const std::string* field : {&e.SizeText, &e.CreateTime, &e.LastTime}) {
                m_line.push_back('\t');
                m_line += *field;
            }
        }
    }

    bool m_json;
    bool m_details;
    std::uint64_t m_total = 0;
    bool m_progress;
    std::uint64_t m_found = 0;
    std::vector<std::string> m_held;  // rendered rows waiting for their details
    std::string m_line;
    std::chrono::steady_clock::time_point m_lastProgress{};
};

}  // namespace

namespace cli {

void PutJsonString(std::string& out, const std::string& text) {
    out.push_back('"');
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
}

bool ShowProgress() {
    return isatty(2) != 0;
}

int ScanCommand(const std::string& source, bool json, bool details, std::optional<std::uint32_t> partition) {
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    scan::TScanOptions options;
    options.KeepRows = false;  // rows are printed, or held already rendered
    options.ReadLabel = false;
    options.Details = json || details;  // the six plain columns need neither path nor verdict
    options.Partition = partition;
    TPrintSink sink(json, details);
    std::atomic<bool> stop{false};
    const auto result = scan::TScanSession(source, options).Run(stop, sink);
    if (!ScanReachedTheWalk(*result, source)) return kExitBadSource;
    sink.Finish();
    std::fflush(stdout);
    PrintCounters(result->Counters);
    if (result->Facts.MirroredRecords != 0)
        std::fprintf(stderr, "lumbra-cli: %s\n",
                     cli::MirroredRecordsText(result->Facts.MirroredRecords).c_str());
    return kExitOk;
}

namespace {

// What info prints: each group of facts as soon as the session knows it.
class TInfoSink : public scan::TScanSessionSink {
public:
    void OnFacts(scan::TScanStage stage, const scan::TDriveFacts& facts) override {
        switch (stage) {
            case scan::TScanStage::BootSector: {
                // The OEM name and the label are the volume's bytes: escaped as the rows are.
                std::string oem, label;
                cli::PutPlain(oem, facts.Oem);
                cli::PutPlain(label, facts.Label);
                std::printf("OEM: %s\nLabel: %s\nSerial: %s\n", oem.c_str(), label.c_str(),
                            ntfs::HexUpper(facts.SerialNumber, 8).c_str());
            } break;
            case scan::TScanStage::Geometry:
                std::printf("Size: %llu bytes\n", static_cast<unsigned long long>(facts.VolumeBytes));
                if (facts.MftByteOffsetValid)
                    std::printf("MFT position: 0x%s\n", ntfs::HexUpper(facts.MftByteOffset, 2).c_str());
                break;
            case scan::TScanStage::MftLayout:
                std::printf("MFT size: %llu bytes\nRecords: %llu\n",
                            static_cast<unsigned long long>(facts.MftBytes),
                            static_cast<unsigned long long>(facts.RecordCount));
                if (facts.MirroredRecords != 0)
                    std::printf("%s\n", cli::MirroredRecordsText(facts.MirroredRecords).c_str());
                break;
        }
    }
    void OnWalkStart(std::uint64_t) override {}
    void OnProgress(std::uint64_t) override {}
    void OnFound(const scan::DeletedFileEntry&) override {}
};

}  // namespace

// What the session learns of a volume before its walk.
int InfoCommand(const std::string& source) {
    // The source as it lies, opened once: a whole disk shows its partition
    // table, each partition probed; a volume is scanned up to its walk.
    scan::TSourceRequest request;
    request.Name = source;
    request.Scope = scan::TSourceScope::AsItIs;
    request.ReadLabel = true;
    scan::TOpenedSource opened = scan::OpenSource(request);
    const scan::TSourceLayout& layout = opened.Layout;
    if (opened.Volume && layout.Kind != ntfs::TTableKind::None) {
        std::printf("Partition table: %s\n", layout.Kind == ntfs::TTableKind::Gpt ? "GPT" : "MBR");
        for (const scan::TPartitionInfo& info : layout.Partitions)
            std::printf("%s\n", scan::PartitionLine(info).c_str());
        return kExitOk;
    }
    scan::TScanOptions options;
    options.KeepRows = false;
    TInfoSink sink;
    const std::atomic<bool> stop{true};  // the facts only: no record is walked
    const auto result = scan::TScanSession(std::move(opened), options).Run(stop, sink);
    if (result->Outcome == scan::TScanOutcome::VolumeDidNotOpen ||
        result->Outcome == scan::TScanOutcome::NotNtfs) {
        ScanReachedTheWalk(*result, source);
        return kExitBadSource;
    }
    const ntfs::TDISK_INFORMATION& g = result->Geometry;
    std::printf("BytesPerSector: %u\nSectorsPerCluster: %u\nBytesPerCluster: %u\nBytesPerFileRecord: %u\n",
                g.BytesPerSector, g.SectorsPerCluster, g.BytesPerCluster, g.BytesPerFileRecord);
    if (result->Outcome != scan::TScanOutcome::Stopped) {
        std::printf("MFT: %s\n", OutcomeText(result->Outcome));
        return kExitOk;
    }
    for (const ntfs::TMftExtent& e : result->Layout.Map.Extents())
        std::printf("MFT extent: %llu %llu%s\n", static_cast<unsigned long long>(e.VolumeOffset),
                    static_cast<unsigned long long>(e.Length), e.Sparse ? " sparse" : "");
    return kExitOk;
}

}  // namespace cli
