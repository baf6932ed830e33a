// SPDX-License-Identifier: GPL-3.0-or-later
// A deep scan saved as a catalogue and recovered from later: the result
// decoded from the file is the live scan's (every field, every text the
// rows show), recover --from writes the same files byte for byte as
// recover --deep, and a file that is cut, damaged, of a later version or
// of another source is refused with exit 2 before anything is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "ntfs/partition_table.h"
#include "scan/catalogue.h"
#include "scan/scan_session.h"
#include "unit/fixtures.h"
#include "unit/recover_support.h"

using testing_support::FixtureImage;
using testing_support::RunCommand;

namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Every file under root by its path below root, with its bytes.
std::map<std::string, std::vector<std::uint8_t>> Tree(const fs::path& root) {
    std::map<std::string, std::vector<std::uint8_t>> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), root).string()] = ReadBytes(entry.path());
    return files;
}

std::string Cli(const std::string& args) {
    return "LC_ALL=C TZ=UTC '" LUMBRA_CLI "' " + args;
}

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

// Each output line with the folder written into left out.
std::string WithoutFolder(std::string text, const std::string& folder) {
    for (std::size_t at; (at = text.find(folder)) != std::string::npos;) text.erase(at, folder.size());
    return text;
}

std::shared_ptr<const scan::TScanResult> DeepScan(const fs::path& image) {
    scan::TScanOptions options;
    options.Deep = true;
    options.ReadLabel = false;
    scan::TQuietScanSink quiet;
    std::atomic<bool> stop{false};
    return scan::TScanSession(image.string(), options).Run(stop, quiet);
}

struct TRoundTrip {
    const char* Fixture;
    const char* Options;  // of both recoveries
};

class CatalogueRoundTrip : public ::testing::TestWithParam<TRoundTrip> {};

// Decoding gives the live result again: what it stores encodes the same,
// and what it makes again (the rows' texts and paths) comes out as the
// scan made it.
TEST_P(CatalogueRoundTrip, DecodesToTheLiveResult) {
    const fs::path image = FixtureImage(GetParam().Fixture);
    const auto live = DeepScan(image);
    ASSERT_EQ(live->Outcome, scan::TScanOutcome::Completed);
    ASSERT_FALSE(live->Rows.empty());
    const auto opened = scan::OpenSource(live->Source);
    ASSERT_TRUE(opened.Volume);
    const scan::TSourceSeen seen = scan::LookAtSource(*opened.Volume, *live);
    const std::vector<std::uint8_t> bytes = scan::EncodeCatalogue(*live, seen);

    const scan::TDecodedCatalogue decoded = scan::DecodeCatalogue({bytes.data(), bytes.size()});
    ASSERT_TRUE(decoded.Result) << decoded.Error;
    const scan::TScanResult& back = *decoded.Result;
    EXPECT_EQ(scan::EncodeCatalogue(back, decoded.Seen), bytes);
    EXPECT_TRUE(back.Deep);
    EXPECT_EQ(back.Source.Resolved, live->Source.Resolved);
    EXPECT_EQ(back.Partitions.Partitions.size(), live->Partitions.Partitions.size());
    ASSERT_EQ(back.Rows.size(), live->Rows.size());
    ASSERT_EQ(back.DeepVolumes.size(), live->DeepVolumes.size());
    for (std::size_t v = 0; v < back.DeepVolumes.size(); ++v) {
        EXPECT_EQ(back.DeepVolumes[v].Read.Map.ByteLength(), live->DeepVolumes[v].Read.Map.ByteLength());
        EXPECT_EQ(back.DeepVolumes[v].Read.Map.Mirror(), live->DeepVolumes[v].Read.Map.Mirror());
        EXPECT_EQ(back.DeepVolumes[v].Read.Geometry, live->DeepVolumes[v].Read.Geometry);
        EXPECT_EQ(back.DeepVolumes[v].Read.SpanBytes, live->DeepVolumes[v].Read.SpanBytes);
        EXPECT_EQ(back.DeepVolumes[v].Found.StartByte, live->DeepVolumes[v].Found.StartByte);
    }
    for (std::size_t i = 0; i < back.Rows.size(); ++i) {
        const scan::DeletedFileEntry& a = back.Rows[i];
        const scan::DeletedFileEntry& b = live->Rows[i];
        SCOPED_TRACE(b.Caption);
        EXPECT_EQ(a.Caption, b.Caption);
        EXPECT_EQ(a.NameText, b.NameText);
        EXPECT_EQ(a.Extension, b.Extension);
        EXPECT_EQ(a.SizeText, b.SizeText);
        EXPECT_EQ(a.CreateTime, b.CreateTime);
        EXPECT_EQ(a.LastTime, b.LastTime);
        EXPECT_EQ(a.Details.Path, b.Details.Path);
        EXPECT_EQ(a.Details.Folders, b.Details.Folders);
        EXPECT_EQ(a.Name, b.Name);
        EXPECT_EQ(a.Size, b.Size);
        EXPECT_EQ(a.Record, b.Record);
        EXPECT_EQ(a.ModificationTime, b.ModificationTime);
        EXPECT_EQ(a.Details.PathBroken, b.Details.PathBroken);
        EXPECT_EQ(scan::VerdictSentence(a.Details.Recoverability),
                  scan::VerdictSentence(b.Details.Recoverability));
        EXPECT_EQ(back.DeepRows[i].Volume, live->DeepRows[i].Volume);
        EXPECT_EQ(back.DeepRows[i].How, live->DeepRows[i].How);
        EXPECT_EQ(back.DeepRows[i].Lost, live->DeepRows[i].Lost);
    }
    EXPECT_TRUE(scan::SourceMismatch(decoded.Seen, seen, back).empty());
}

// recover --from the saved catalogue writes what recover --deep writes,
// and says the same of every file.
TEST_P(CatalogueRoundTrip, RecoversAsTheDeepScanDoes) {
    const testing_support::TScratchDir dir;
    const fs::path image = FixtureImage(GetParam().Fixture);
    const fs::path catalogue = fs::path(dir.Root()) / "disk.catalogue";
    const std::string options = GetParam().Options;
    const auto saved =
        RunCommand(Cli("scan --deep " + Quoted(image) + " --save " + Quoted(catalogue) + " 2>/dev/null"));
    ASSERT_EQ(saved.status, 0);
    const auto deep =
        RunCommand(Cli("recover --deep " + Quoted(image) + " --out " + Quoted(fs::path(dir.Root()) / "deep") +
                       " --all " + options + " 2>/dev/null"));
    const auto from =
        RunCommand(Cli("recover --from " + Quoted(catalogue) + " --out " +
                       Quoted(fs::path(dir.Root()) / "from") + " --all " + options + " 2>/dev/null"));
    EXPECT_EQ(from.status, deep.status);
    EXPECT_EQ(WithoutFolder(from.out, (fs::path(dir.Root()) / "from").string()),
              WithoutFolder(deep.out, (fs::path(dir.Root()) / "deep").string()));
    const auto files = Tree(fs::path(dir.Root()) / "from");
    EXPECT_FALSE(files.empty());
    EXPECT_EQ(files, Tree(fs::path(dir.Root()) / "deep"));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, CatalogueRoundTrip,
                         ::testing::Values(TRoundTrip{"qformat", "--keep-folders"}, TRoundTrip{"mirror0", ""},
                                           TRoundTrip{"reuse", "--auto-names"},
                                           TRoundTrip{"mbr", "--keep-folders"}),
                         [](const auto& test) { return std::string(test.param.Fixture); });

// A catalogue that must not be recovered from: cut, damaged, of a later
// version, or of another source. Each is refused with exit 2 and a reason,
// and nothing is written.
TEST(CatalogueRefusals, RefusesWhatItCannotTrust) {
    const testing_support::TScratchDir dir;
    const fs::path image = FixtureImage("qformat");
    const fs::path good = fs::path(dir.Root()) / "good.catalogue";
    ASSERT_EQ(RunCommand(Cli("scan --deep " + Quoted(image) + " --save " + Quoted(good) + " >/dev/null 2>&1"))
                  .status,
              0);
    const std::vector<std::uint8_t> bytes = ReadBytes(good);
    ASSERT_GT(bytes.size(), 64u);
    const std::vector<std::uint8_t> disk = ReadBytes(image);

    using TEdit = std::function<void(std::vector<std::uint8_t>&)>;
    const auto cut = [](std::size_t n) { return TEdit([n](auto& b) { b.resize(std::min(n, b.size())); }); };
    struct TCase {
        const char* Name;
        TEdit Catalogue;  // made of the good one
        TEdit Source;     // a copy of the disk named anew; none: the catalogue's own source
        const char* Says;
    };
    const std::vector<TCase> cases = {
        {"empty", cut(0), nullptr, "truncated"},
        {"magic only", cut(8), nullptr, "truncated"},
        {"header less a byte", cut(19), nullptr, "truncated"},
        {"header only", cut(20), nullptr, "truncated"},
        {"half", cut(bytes.size() / 2), nullptr, "truncated"},
        {"less its last byte", cut(bytes.size() - 1), nullptr, "truncated"},
        {"a byte flipped", [](auto& b) { b[b.size() / 2] ^= 0x10; }, nullptr, "damaged"},
        {"a byte more", [](auto& b) { b.push_back(0); }, nullptr, "damaged"},
        {"version + 1", [](auto& b) { ++b[8]; }, nullptr, "later version"},
        {"not a catalogue", [&](auto& b) { b.assign(disk.begin(), disk.begin() + 4096); }, nullptr,
         "not a catalogue"},
        {"another size", nullptr, [](auto& d) { d.resize(d.size() + 4096); }, "its size is"},
        {"another serial", nullptr, [](auto& d) { d[0x48] ^= 0x5A; }, "serial"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const fs::path file = fs::path(dir.Root()) / "case.catalogue";
        std::vector<std::uint8_t> edited = bytes;
        if (c.Catalogue) c.Catalogue(edited);
        WriteBytes(file, edited);
        std::string source;
        if (c.Source) {
            std::vector<std::uint8_t> copy = disk;
            c.Source(copy);
            WriteBytes(fs::path(dir.Root()) / "copy.img", copy);
            source = " " + Quoted(fs::path(dir.Root()) / "copy.img");
        }
        const fs::path out = fs::path(dir.Root()) / "out";
        const auto r = RunCommand(Cli("recover --from " + Quoted(file) + source + " --out " + Quoted(out) +
                                      " --all 2>&1 >/dev/null"));
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.out.find(c.Says), std::string::npos) << r.out;
        EXPECT_TRUE(!fs::exists(out) || fs::is_empty(out));
        fs::remove_all(out);
    }

    // The same disk under another path is the same source.
    WriteBytes(fs::path(dir.Root()) / "moved.img", disk);
    const auto moved =
        RunCommand(Cli("recover --from " + Quoted(good) + " " + Quoted(fs::path(dir.Root()) / "moved.img") +
                       " --out " + Quoted(fs::path(dir.Root()) / "moved") + " --all >/dev/null 2>&1"));
    EXPECT_EQ(moved.status, 0);
    const auto files = Tree(fs::path(dir.Root()) / "moved");
    EXPECT_FALSE(files.empty());
}

// Crafted catalogues with a sound header and checksum whose fields lie:
// counts beyond the bytes there, an index past the folders, records out of
// order. Each is refused as damaged, without reserving what it claims.
TEST(CatalogueRefusals, RefusesFieldsThatLie) {
    const auto file = [](std::vector<std::vector<std::uint8_t>> records) {
        std::vector<std::uint8_t> b(scan::catalogue::kMagic, scan::catalogue::kMagic + 8);
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<std::uint8_t>(scan::catalogue::kVersion >> (8 * i)));
        b.resize(20);
        for (const auto& r : records) b.insert(b.end(), r.begin(), r.end());
        const std::uint64_t length = b.size() + 4;
        for (int i = 0; i < 8; ++i) b[12 + i] = static_cast<std::uint8_t>(length >> (8 * i));
        const std::uint32_t crc = ntfs::Crc32({b.data(), b.size()});
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
        return b;
    };
    // An empty result's Source body, and records of kind k with a body.
    const std::vector<std::uint8_t> source = {1, 19, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<std::uint8_t> seen = {2, 2, 0, 0};
    const std::vector<std::uint8_t> counters = {6, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<std::uint8_t> end = {7, 0};
    const auto decode = [](const std::vector<std::uint8_t>& b) {
        return scan::DecodeCatalogue({b.data(), b.size()});
    };
    ASSERT_TRUE(decode(file({source, seen, counters, end})).Result);

    const std::vector<std::vector<std::vector<std::uint8_t>>> lies = {
        // The Seen names 2^48 file systems in 8 bytes.
        {source, {2, 8, 0, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x40}, counters, end},
        // A record longer than the file.
        {source, {2, 0xFF, 0xFF, 0xFF, 0x0F, 0, 0}, counters, end},
        // A row before any volume, naming folder 5 of none.
        {source, seen, {5, 8, 0, 0, 0, 0, 0, 0, 1, 5}, counters, end},
        // A varint of eleven bytes.
        {source, {2, 12, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0}, counters, end},
        // The End before the counters, and the Seen twice.
        {source, seen, end},
        {source, seen, seen, counters, end},
        // Bytes after the End.
        {source, seen, counters, end, {0}},
    };
    for (std::size_t i = 0; i < lies.size(); ++i) {
        SCOPED_TRACE(i);
        const scan::TDecodedCatalogue d = decode(file(lies[i]));
        EXPECT_FALSE(d.Result);
        EXPECT_NE(d.Error.find("damaged"), std::string::npos) << d.Error;
    }
}

// A save that cannot be made leaves nothing behind, and one over an older
// catalogue replaces it whole.
TEST(CatalogueSave, ReplacesWholeOrNotAtAll) {
    const testing_support::TScratchDir dir;
    const fs::path image = FixtureImage("mirror0");
    const auto failed = RunCommand(Cli("scan --deep " + Quoted(image) + " --save " +
                                       Quoted(fs::path(dir.Root()) / "none" / "x") + " 2>&1"));
    EXPECT_EQ(failed.status, 2);
    EXPECT_NE(failed.out.find("not saved"), std::string::npos);

    const fs::path file = fs::path(dir.Root()) / "disk.catalogue";
    WriteBytes(file, std::vector<std::uint8_t>(100, 0xEE));
    ASSERT_EQ(RunCommand(Cli("scan --deep " + Quoted(image) + " --save " + Quoted(file) + " >/dev/null 2>&1"))
                  .status,
              0);
    EXPECT_TRUE(scan::LoadCatalogueFile(file).Result);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(fs::path(dir.Root())))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"disk.catalogue"});
}

}  // namespace
