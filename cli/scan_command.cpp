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
#include "scan/scan_engine.h"

namespace {}  // namespace

// A text field of the tab-separated output. Tab, newline and backslash are
// written as \t, \n and \\; every other C0 control and DEL as \xHH, and the
// C1 controls (U+0080 to U+009F, in UTF-8 C2 80 to C2 9F) as \u0080 to
// \u009F: a name read from a damaged or crafted volume must not reach the
// terminal as a control sequence.
void cli::PutPlain(std::string& out, const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < text.size(); ++i) {
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

int ScanCommand(const std::string& source, bool json) {
    scan::TScanEngine engine(source);
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

// What the probe and the geometry derivation make of a volume.
int InfoCommand(const std::string& source) {
    const auto probe = ntfs::ProbeDrive(source);
    if (!probe) {
        std::fprintf(stderr, "lumbra-cli: %s: %s\n", source.c_str(),
                     scan::OutcomeText(scan::TScanOutcome::VolumeDidNotOpen).c_str());
        return kExitBadSource;
    }
    // The OEM name and the label are the volume's bytes: escaped as the rows are.
    std::string oem, name;
    PutPlain(oem, probe->Oem);
    PutPlain(name, probe->NameText);
    std::printf("Probe: %s\n%s\n%s\n", oem.c_str(), name.c_str(), probe->SerialText.c_str());
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
