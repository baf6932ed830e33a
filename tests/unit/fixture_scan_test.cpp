// SPDX-License-Identifier: GPL-3.0-or-later
// lumbra-cli scan on the committed real images: exactly the rows the
// manifest expects (cross-checked against The Sleuth Kit when the images
// were made), in record order, with the C locale's date texts in UTC.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "platform/raw_volume.h"
#include "scan/scan_session.h"
#include "unit/fixtures.h"

using testing_support::FixtureImage;
using testing_support::FixtureManifest;
using testing_support::RunCommand;

namespace {

std::vector<std::vector<std::string>> TabRows(const std::string& out) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (;;) {
            const std::size_t tab = line.find('\t', start);
            fields.push_back(line.substr(start, tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        rows.push_back(fields);
    }
    return rows;
}

std::string Cli(const std::string& args, const std::string& env = "") {
    return "LC_ALL=C TZ=UTC " + env + " '" LUMBRA_CLI "' " + args + " 2>/dev/null";
}

// Undoes the CLI's escaping: \t, \n, \\, \xHH (a byte) and \u00HH (the
// C1 control U+00HH, two bytes in UTF-8).
std::string Unescape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
            out.push_back(static_cast<char>(std::stoi(s.substr(i + 2, 2), nullptr, 16)));
            i += 3;
        } else if (s[i] == '\\' && i + 5 < s.size() && s[i + 1] == 'u') {
            const int c = std::stoi(s.substr(i + 2, 4), nullptr, 16);
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
            i += 5;
        } else if (s[i] == '\\' && i + 1 < s.size()) {
            const char c = s[++i];
            out.push_back(c == 't' ? '\t' : c == 'n' ? '\n' : c);
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

class FixtureScan : public ::testing::TestWithParam<std::string> {};

TEST_P(FixtureScan, ListsExactlyTheManifestRows) {
    const auto m = FixtureManifest(GetParam());
    const auto r = RunCommand(Cli("scan '" + FixtureImage(GetParam()).string() + "'"));
    ASSERT_EQ(r.status, 0);
    const auto rows = TabRows(r.out);
    const auto& expected = m["deleted"];
    ASSERT_EQ(rows.size(), expected.size()) << r.out;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& want = expected[i];
        SCOPED_TRACE(want["name"].get<std::string>());
        ASSERT_EQ(rows[i].size(), 6u);
        EXPECT_EQ(rows[i][0], want["caption"].get<std::string>());
        EXPECT_EQ(Unescape(rows[i][1]), want["name"].get<std::string>());
        EXPECT_EQ(Unescape(rows[i][2]), want["type"].get<std::string>());
        EXPECT_EQ(rows[i][3], want["sizeText"].get<std::string>());
        EXPECT_EQ(rows[i][4], want["created"].get<std::string>());
        EXPECT_EQ(rows[i][5], want["modified"].get<std::string>());
    }
}

TEST_P(FixtureScan, JsonCarriesRecordsSizesAndUtcTimes) {
    const auto m = FixtureManifest(GetParam());
    ::setenv("LUMBRA_DRIVES", ("Q=" + FixtureImage(GetParam()).string()).c_str(), 1);
    const auto r = RunCommand(Cli("scan Q: --json"));
    ::unsetenv("LUMBRA_DRIVES");
    ASSERT_EQ(r.status, 0);
    const auto rows = nlohmann::json::parse(r.out);
    const auto& expected = m["deleted"];
    ASSERT_EQ(rows.size(), expected.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i]["record"], expected[i]["record"]);
        EXPECT_EQ(rows[i]["caption"], expected[i]["caption"]);
        EXPECT_EQ(rows[i]["name"], expected[i]["name"]);
        EXPECT_EQ(rows[i]["size"], expected[i]["size"]);
        EXPECT_EQ(rows[i]["createdUtc"], expected[i]["createdUtc"]);
        EXPECT_EQ(rows[i]["modifiedUtc"], expected[i]["modifiedUtc"]);
    }
}

TEST_P(FixtureScan, EveryRowCarriesItsOriginalPathAndVerdict) {
    const auto m = FixtureManifest(GetParam());
    const std::string image = FixtureImage(GetParam()).string();
    const auto json = RunCommand(Cli("scan '" + image + "' --json"));
    const auto details = RunCommand(Cli("scan '" + image + "' --details"));
    ASSERT_EQ(json.status, 0);
    ASSERT_EQ(details.status, 0);
    const auto rows = nlohmann::json::parse(json.out);
    const auto lines = TabRows(details.out);
    const auto& expected = m["deleted"];
    ASSERT_EQ(rows.size(), expected.size());
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& want = expected[i];
        SCOPED_TRACE(want["name"].get<std::string>());
        EXPECT_EQ(rows[i]["path"], testing_support::ExpectedPath(want));
        EXPECT_EQ(rows[i]["recoverability"]["verdict"], testing_support::ExpectedVerdict(want));
        if (want.contains("recoverability")) {
            EXPECT_EQ(rows[i]["recoverability"], want["recoverability"]);
        }
        ASSERT_EQ(lines[i].size(), 8u);
        EXPECT_EQ(lines[i][0], want["caption"].get<std::string>());
        EXPECT_EQ(Unescape(lines[i][6]), testing_support::ExpectedPath(want));
        EXPECT_EQ(lines[i][7], testing_support::ExpectedVerdict(want));
    }
}

TEST_P(FixtureScan, ImageIsNeverWritten) {
    const auto m = FixtureManifest(GetParam());
    EXPECT_EQ(testing_support::Sha256OfFile(FixtureImage(GetParam())), m["imageSha256"].get<std::string>());
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FixtureScan);
INSTANTIATE_TEST_SUITE_P(Images, FixtureScan, ::testing::ValuesIn(testing_support::FixtureNames()),
                         [](const auto& p) { return p.param; });

TEST(CliScan, SourcesThatCannotBeScanned) {
    auto r = RunCommand(Cli("scan /nonexistent/image.img"));
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.out.empty());
    r = RunCommand(Cli("scan Z:", "LUMBRA_DRIVES='D=/nonexistent'"));
    EXPECT_EQ(r.status, 2);
    for (const std::string& name : testing_support::FixtureNames(false)) {
        if (FixtureManifest(name).value("ntfs", true)) continue;
        r = RunCommand(Cli("scan '" + FixtureImage(name).string() + "'"));
        EXPECT_EQ(r.status, 2) << name;
    }
    r = RunCommand(Cli("frobnicate"));
    EXPECT_EQ(r.status, 2);
}

// A volume over a shared buffer, so thousands of mutated scans need no copy.
class TBufferVolume : public platform::TRawVolume {
public:
    explicit TBufferVolume(const std::vector<std::uint8_t>& bytes) : m_bytes(bytes) {}
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
        if (offset >= m_bytes.size()) return 0;
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), m_bytes.size() - offset));
        std::copy_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(offset), n, out.begin());
        return n;
    }
    std::uint64_t Size() const override { return m_bytes.size(); }

private:
    const std::vector<std::uint8_t>& m_bytes;
};

struct TCount : scan::TQuietScanSink {
    std::uint64_t rows = 0;
    void OnFound(const scan::DeletedFileEntry&) override { ++rows; }
};

TEST(FixtureDamage, RandomByteFlipsNeverCrashOrHangTheScan) {
    const std::string name = "basic";
    const auto path = FixtureImage(name);
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "no basic fixture";
    const auto m = FixtureManifest(name);
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::uint64_t mftStart = m["boot"]["mftByteOffset"].get<std::uint64_t>();
    const std::uint64_t mftBytes =
        m["mft"]["records"].get<std::uint64_t>() * m["boot"]["bytesPerFileRecord"].get<std::uint64_t>();
    std::mt19937_64 rng(20261209);
    for (int round = 0; round < 1000; ++round) {
        std::vector<std::pair<std::size_t, std::uint8_t>> undo;
        const int flips = 1 + static_cast<int>(rng() % 32);
        for (int i = 0; i < flips; ++i) {
            const std::uint64_t pick = rng() % 16;
            std::size_t at;
            if (pick == 0)
                at = rng() % 512;  // the boot sector
            else if (pick < 3)
                at = mftStart + rng() % 1024;  // record 0
            else
                at = mftStart + rng() % mftBytes;
            undo.emplace_back(at, bytes[at]);
            bytes[at] = static_cast<std::uint8_t>(rng());
        }
        scan::TScanOptions options;
        options.KeepRows = false;
        TCount sink;
        std::atomic<bool> stop{false};
        const auto result =
            scan::TScanSession(std::make_unique<TBufferVolume>(bytes), options).Run(stop, sink);
        EXPECT_LE(sink.rows, result->Facts.RecordCount);
        for (auto it = undo.rbegin(); it != undo.rend(); ++it) bytes[it->first] = it->second;
    }
}

}  // namespace
