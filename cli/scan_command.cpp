// lumbra-cli scan and info: the engine's rows as text or JSON, and what the
// probe and the geometry derivation make of a volume.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

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

// Rows go out as they are found: the CLI holds none of them.
class TPrintSink : public scan::TScanSink {
public:
    TPrintSink(bool json, std::uint64_t total)
        : m_json(json), m_total(total), m_progress(cli::ShowProgress()) {}

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
        if (m_json) {
            m_line += m_found == 1 ? "\n  {" : ",\n  {";
            auto text = [&](const char* key, const std::string& value) {
                m_line += m_line.back() == '{' ? "\"" : ", \"";
                m_line += key;
                m_line += "\": ";
                PutJsonString(m_line, value);
            };
            auto number = [&](const char* key, auto value) {
                m_line += ", \"";
                m_line += key;
                m_line += "\": " + std::to_string(value);
            };
            text("caption", e.Caption);
            number("record", e.Record);
            text("name", e.NameText);
            text("type", e.Extension);
            text("sizeText", e.SizeText);
            number("size", e.Size);
            text("created", e.CreateTime);
            text("modified", e.LastTime);
            text("createdUtc", scan::FileTimeToUtcIso(e.CreationTime));
            text("modifiedUtc", scan::FileTimeToUtcIso(e.ModificationTime));
            m_line += "}";
        } else {
            cli::PutPlain(m_line, e.Caption);
            for (const std::string* field :
                 {&e.NameText, &e.Extension, &e.SizeText, &e.CreateTime, &e.LastTime}) {
                m_line.push_back('\t');
                cli::PutPlain(m_line, *field);
            }
            m_line.push_back('\n');
        }
        std::fwrite(m_line.data(), 1, m_line.size(), stdout);
    }

    void Finish() {
        if (m_progress) std::fputs("\r\033[K", stderr);
    }
    std::uint64_t Found() const { return m_found; }

private:
    bool m_json;
    std::uint64_t m_total;
    bool m_progress;
    std::uint64_t m_found = 0;
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

int ScanCommand(const std::string& source, bool json, std::optional<std::uint32_t> partition) {
    const auto opened = OpenEngine(source, partition);
    if (!opened) return kExitBadSource;
    scan::TScanEngine& engine = *opened;
    if (!PrepareScan(engine, source)) return kExitBadSource;

    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    TPrintSink sink(json, engine.WalkLength());
    if (json) std::fputs("[", stdout);
    std::atomic<bool> stop{false};
    engine.Walk(stop, sink);
    engine.Close();
    if (json) std::fputs(sink.Found() > 0 ? "\n]\n" : "]\n", stdout);
    sink.Finish();
    std::fflush(stdout);
    return kExitOk;
}

// What the probe and the geometry derivation make of a volume; for a source
// with a partition table, the table.
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
