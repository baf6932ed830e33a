// lumbra-cli scan and info: the engine's rows as text or JSON, and what the
// probe and the geometry derivation make of a volume.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "ntfs/boot_sector.h"
#include "ntfs/probe.h"
#include "ntfs/text.h"
#include "platform/raw_volume.h"
#include "scan/scan_engine.h"
#include "scan/volume_source.h"

namespace {}  // namespace

// A text field of the tab-separated output: tab, newline and backslash escaped.
void cli::PutPlain(std::string& out, const std::string& text) {
    for (char c : text) {
        switch (c) {
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                out.push_back(c);
        }
    }
}

namespace {

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

// Plain rows go out as they are found. A row's path and verdict are known
// only once the walk is over, so output that carries them holds each row,
// already rendered, until then.
class TPrintSink : public scan::TScanSink {
public:
    TPrintSink(bool json, bool details, std::uint64_t total)
        : m_json(json), m_details(details), m_total(total), m_progress(cli::ShowProgress()) {}

    void OnProgress(std::uint64_t done) override {
        if (!m_progress || (done & 0x3FF) != 0) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - m_lastProgress < std::chrono::milliseconds(100)) return;
        m_lastProgress = now;
        std::fprintf(stderr, "\rScanning: %llu / %llu records, %llu found",
                     static_cast<unsigned long long>(done), static_cast<unsigned long long>(m_total),
                     static_cast<unsigned long long>(m_found));
    }

    void OnFound(scan::DeletedFileEntry&& e) override {
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
    void OnDetails(std::size_t row, scan::TRowDetails&& details) override {
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
        if (m_progress) std::fputs("\r\033[K", stderr);
    }
    std::uint64_t Found() const { return m_found; }

private:
    void Text(const char* key, const std::string& value) {
        m_line += m_line.back() == '{' ? "\"" : ", \"";
        m_line += key;
        m_line += "\": ";
        PutJsonString(m_line, value);
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
            cli::PutPlain(m_line, e.Caption);
            for (const std::string* field :
                 {&e.NameText, &e.Extension, &e.SizeText, &e.CreateTime, &e.LastTime}) {
                m_line.push_back('\t');
                cli::PutPlain(m_line, *field);
            }
        }
    }

    bool m_json;
    bool m_details;
    std::uint64_t m_total;
    bool m_progress;
    std::uint64_t m_found = 0;
    std::vector<std::string> m_held;  // rendered rows waiting for their details
    std::string m_line;
    std::chrono::steady_clock::time_point m_lastProgress{};
};

}  // namespace

namespace cli {

bool ShowProgress() {
    return isatty(2) != 0;
}

bool PrepareScan(scan::TScanEngine& engine, const std::string& source) {
    const auto end = engine.Prepare();
    if (!end) return true;
    std::fprintf(stderr, "lumbra-cli: %s: %s\n", source.c_str(), scan::OutcomeText(*end).c_str());
    return false;
}

std::unique_ptr<scan::TScanEngine> OpenEngine(const std::string& source,
                                              std::optional<std::uint32_t> partition) {
    scan::TOpenedSource opened = scan::OpenSource(source, partition);
    if (!opened.Volume) {
        std::fprintf(stderr, "lumbra-cli: %s: %s\n", source.c_str(),
                     opened.Error == scan::TSourceError::DidNotOpen
                         ? scan::OutcomeText(scan::TScanOutcome::VolumeDidNotOpen).c_str()
                         : scan::SourceErrorText(opened.Error).c_str());
        for (const scan::TPartitionInfo& info : opened.Layout.Partitions)
            std::fprintf(stderr, "  %s\n", scan::PartitionLine(info).c_str());
        return nullptr;
    }
    // A partition has no label the platform could tell; a whole volume keeps
    // the engine's own lookup.
    if (!opened.Partition) return std::make_unique<scan::TScanEngine>(source);
    return std::make_unique<scan::TScanEngine>(std::move(opened.Volume), std::string());
}

int ScanCommand(const std::string& source, bool json, bool details, std::optional<std::uint32_t> partition) {
    const auto opened = OpenEngine(source, partition);
    if (!opened) return kExitBadSource;
    scan::TScanEngine& engine = *opened;
    if (!PrepareScan(engine, source)) return kExitBadSource;

    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    TPrintSink sink(json, details, engine.WalkLength());
    if (json) std::fputs("[", stdout);
    std::atomic<bool> stop{false};
    engine.Walk(stop, sink);
    engine.Close();
    if (json) std::fputs(sink.Found() > 0 ? "\n]\n" : "]\n", stdout);
    sink.Finish();
    std::fflush(stdout);
    return kExitOk;
}

// What the probe and the geometry derivation make of a volume.
int InfoCommand(const std::string& source) {
    if (auto disk = platform::OpenRawVolume(source)) {
        const scan::TSourceLayout layout = scan::ReadSourceLayout(*disk);
        if (layout.Kind != ntfs::TTableKind::None) {
            std::printf("Partition table: %s\n", layout.Kind == ntfs::TTableKind::Gpt ? "GPT" : "MBR");
            for (const scan::TPartitionInfo& info : layout.Partitions)
                std::printf("%s\n", scan::PartitionLine(info).c_str());
            return kExitOk;
        }
    }
    const auto probe = ntfs::ProbeDrive(source);
    if (!probe) {
        std::fprintf(stderr, "lumbra-cli: %s: %s\n", source.c_str(),
                     scan::OutcomeText(scan::TScanOutcome::VolumeDidNotOpen).c_str());
        return kExitBadSource;
    }
    std::printf("Probe: %s\n%s\n%s\n", probe->Oem.c_str(), probe->NameText.c_str(),
                probe->SerialText.c_str());
    if (!ntfs::IsNtfsOem(probe->Boot)) {
        std::fprintf(stderr, "lumbra-cli: %s: %s\n", source.c_str(),
                     scan::OutcomeText(scan::TScanOutcome::NotNtfs).c_str());
        return kExitBadSource;
    }
    scan::TScanEngine engine(source);
    engine.Open();
    engine.ReadBootSector();
    engine.DeriveGeometry();
    const ntfs::TDISK_INFORMATION& g = engine.Geometry();
    std::printf("BytesPerSector: %u\nSectorsPerCluster: %u\nBytesPerCluster: %u\nBytesPerFileRecord: %u\n",
                g.BytesPerSector, g.SectorsPerCluster, g.BytesPerCluster, g.BytesPerFileRecord);
    std::printf("%s\n%s\n", engine.SizeText().c_str(), engine.MftLocationText().c_str());
    if (const auto end = engine.ReadMftLayout()) {
        std::printf("MFT: %s\n", scan::OutcomeText(*end).c_str());
        return 0;
    }
    std::printf("%s\n%s\n", engine.MftSizeText().c_str(), engine.RecordCountText().c_str());
    for (const ntfs::TMftExtent& e : engine.Layout().Map.Extents())
        std::printf("MFT extent: %llu %llu%s\n", static_cast<unsigned long long>(e.VolumeOffset),
                    static_cast<unsigned long long>(e.Length), e.Sparse ? " sparse" : "");
    return kExitOk;
}

}  // namespace cli
