// SPDX-License-Identifier: GPL-3.0-or-later
// The deep pass on real volumes made by real tools: a quick format over a
// populated volume (every deleted and live file of the original, checked
// against The Sleuth Kit on it before the format), the same volume with
// both boot sectors wiped at an odd offset of a disk, and two volumes on one
// disk without a partition table. Each row's content, rebuilt from its
// record in the volume the pass inferred, has the original's sha256, and its
// path is the one The Sleuth Kit's fls -rp gave on the original.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "ntfs/attribute.h"
#include "ntfs/file_record.h"
#include "platform/memory_volume.h"
#include "recover/content_plan.h"
#include "recover/content_sink.h"
#include "scan/deep_pass.h"
#include "unit/fixtures.h"
#include "unit/recover_support.h"

using testing_support::FixtureImage;
using testing_support::FixtureManifest;

namespace {

std::vector<std::uint8_t> ImageBytes(const std::string& name) {
    std::ifstream in(FixtureImage(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class TRows : public scan::TDeepSink {
public:
    void OnProgress(std::uint64_t done, std::uint64_t total) override {
        EXPECT_GE(done, Last);  // the bar only moves on
        EXPECT_LE(done, total);
        Last = done;
    }
    void OnRow(scan::TDeepRow&& row) override { Rows.push_back(std::move(row)); }
    std::uint64_t Last = 0;
    std::vector<scan::TDeepRow> Rows;
};

class TBytes : public recover::TContentSink {
public:
    bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
        if (Data.size() < offset + bytes.size()) Data.resize(offset + bytes.size());
        std::copy(bytes.begin(), bytes.end(), Data.begin() + static_cast<std::ptrdiff_t>(offset));
        return true;
    }
    std::vector<std::uint8_t> Data;
};

// The content of a row as recovery rebuilds it from its record, in its volume.
std::string ContentSha(const std::vector<std::uint8_t>& disk, const scan::TDeepRow& row,
                       const ntfs::TInferredVolume& v) {
    platform::TMemoryVolume volume(
        std::vector<std::uint8_t>(disk.begin() + static_cast<std::ptrdiff_t>(v.StartByte), disk.end()));
    const ntfs::TDISK_INFORMATION g{v.BytesPerFileRecord, v.BytesPerCluster, 512, v.BytesPerCluster / 512};
    std::vector<std::uint8_t> record(
        disk.begin() + static_cast<std::ptrdiff_t>(row.Entry.ByteOffset),
        disk.begin() + static_cast<std::ptrdiff_t>(row.Entry.ByteOffset + g.BytesPerFileRecord));
    // A lost file's record was in use when last written: recovery reads it as free.
    record[ntfs::file_record::kRecordFlags] = 0;
    record[ntfs::file_record::kRecordFlags + 1] = 0;
    const auto plan = recover::PlanContent(volume, record, g, ntfs::TMftMap());
    if (plan.Result.Status != recover::TRecoverStatus::Written) return "not written";
    TBytes bytes;
    recover::WriteContent(volume, plan, bytes);
    bytes.Data.resize(static_cast<std::size_t>(plan.Size));
    return testing_support::Sha256Hex(bytes.Data.data(), bytes.Data.size());
}

void Wipe(std::vector<std::uint8_t>& disk, std::uint64_t at) {
    std::fill_n(disk.begin() + static_cast<std::ptrdiff_t>(at), 512, std::uint8_t{0});
}

struct TExpected {
    std::string name;
    std::uint64_t record;
    bool lost;
    std::string sha256;  // empty: not checked (a live file, no digest in the manifest)
    std::string path;
};

// The manifest's fls path ("old-project/src/util.c"; "dir" + name for a
// deleted file) as a row's path.
std::string RowPath(const nlohmann::json& r) {
    std::string fls = r.contains("path") ? r["path"].get<std::string>()
                                         : r["dir"].get<std::string>() + "/" + r["name"].get<std::string>();
    if (fls.front() == '/') fls.erase(0, 1);
    std::replace(fls.begin(), fls.end(), '/', '\\');
    return "\\" + fls;
}

std::vector<TExpected> Expected(const nlohmann::json& rows, const nlohmann::json& live) {
    std::vector<TExpected> out;
    for (const auto& r : rows) out.push_back({r["name"], r["record"], false, r["sha256"], RowPath(r)});
    for (const auto& r : live)
        if (!r["isDirectory"].get<bool>()) out.push_back({r["name"], r["record"], true, "", RowPath(r)});
    return out;
}

// A manifest's "deep" files, their content checked where the damage left
// the file's record and clusters alone.
std::vector<TExpected> Expected(const nlohmann::json& files) {
    std::vector<TExpected> out;
    for (const auto& f : files)
        out.push_back({f["name"], f["record"], f["state"] == "lost",
                       f["untouched"].get<bool>() ? f["sha256"].get<std::string>() : "", RowPath(f)});
    return out;
}

struct TCase {
    const char* what;
    std::vector<std::uint8_t> disk;
    std::vector<std::uint64_t> starts;  // where each volume the rows come from begins
    std::vector<TExpected> expected;    // per volume, the same list
    scan::TDeepHow how;
};

TEST(DeepPass, FindsEveryFileOfTheOriginalInItsOwnVolume) {
    const auto basic = ImageBytes("basic");
    const auto q = FixtureManifest("qformat");
    const auto b = FixtureManifest("basic");
    // basic at a sector-aligned offset off any MiB boundary, both boot sectors gone.
    const std::uint64_t odd = (3u << 20) + 7 * 512;
    std::vector<std::uint8_t> shifted(odd, 0);
    shifted.insert(shifted.end(), basic.begin(), basic.end());
    shifted.resize(shifted.size() + (1u << 20), 0);
    Wipe(shifted, odd);
    Wipe(shifted, odd + b["boot"]["totalSectors"].get<std::uint64_t>() * 512);
    // Two copies of basic as the partitions of a disk whose table is zeroed.
    const std::uint64_t second = (20u << 20) + 3 * 512;
    std::vector<std::uint8_t> two(1u << 20, 0);
    two.insert(two.end(), basic.begin(), basic.end());
    two.resize(second, 0);
    two.insert(two.end(), basic.begin(), basic.end());

    TCase cases[] = {
        {"a healthy volume: its deleted files, from its live MFT",
         basic,
         {0},
         Expected(b["deleted"], {}),
         scan::TDeepHow::LiveMft},
        {"a quick format: every deleted and live file of the original",
         ImageBytes("qformat"),
         {0},
         Expected(q["deep"]["files"]),
         scan::TDeepHow::OldMft},
        // Without a boot sector no MFT is live: its files in use are rows too, "lost".
        {"no boot sector at an odd offset",
         shifted,
         {odd},
         Expected(b["deleted"], b["live"]),
         scan::TDeepHow::NoLiveMft},
        {"two volumes, no partition table",
         two,
         {1u << 20, second},
         Expected(b["deleted"], {}),
         scan::TDeepHow::LiveMft},
    };
    for (TCase& c : cases) {
        SCOPED_TRACE(c.what);
        platform::TMemoryVolume source(c.disk);
        std::atomic<bool> stop{false};
        TRows sink;
        const auto result = scan::TDeepPass(source).Run(stop, sink);
        ASSERT_FALSE(result.Stopped);
        EXPECT_EQ(sink.Last, c.disk.size());
        EXPECT_EQ(result.Counters.ReadFailures, 0u);
        // The kept records stay small beside the 1 KiB records they stand for.
        EXPECT_LE(result.FoundRecordBytes, 200 * result.Counters.RecordsFound);

        std::map<std::pair<std::uint64_t, std::uint64_t>, const scan::TDeepRow*> byPlace;
        for (const auto& row : sink.Rows) {
            const auto& v = result.Volumes.at(row.Volume);
            EXPECT_TRUE(byPlace.emplace(std::pair(v.StartByte, row.Entry.Record), &row).second)
                << "two rows for record " << row.Entry.Record;
        }
        std::size_t expectedRows = 0;
        for (const std::uint64_t start : c.starts) {
            for (const TExpected& want : c.expected) {
                SCOPED_TRACE(want.name);
                ++expectedRows;
                const auto it = byPlace.find({start, want.record});
                ASSERT_NE(it, byPlace.end());
                const scan::TDeepRow& row = *it->second;
                const auto& v = result.Volumes[row.Volume];
                EXPECT_EQ(row.Entry.NameText, want.name);
                EXPECT_EQ(row.Entry.Details.Path, want.path);
                EXPECT_EQ(row.Entry.Details.PathBroken, false);
                EXPECT_EQ(row.Lost, want.lost);
                EXPECT_EQ(row.How, c.how);
                EXPECT_EQ(v.BytesPerCluster, 4096u);
                EXPECT_EQ(v.Source == ntfs::TGeometrySource::MftRecord0, c.how == scan::TDeepHow::NoLiveMft);
                if (!want.sha256.empty()) {
                    EXPECT_EQ(ContentSha(c.disk, row, v), want.sha256);
                }
            }
        }
        EXPECT_EQ(sink.Rows.size(), expectedRows);
    }
}

// basic's deleted tree old-project (record 66) / src (67), its parent links
// bent by hand: a loop, a self loop and a reused parent all end, and the
// files under them keep "?\" and the part that could be followed.
TEST(DeepPass, BrokenFolderChainsEndAndSayWhere) {
    const auto basic = ImageBytes("basic");
    const std::uint64_t mft = 16384;
    const auto record = [&](std::vector<std::uint8_t>& disk, std::uint64_t n) {
        return disk.data() + mft + n * 1024;
    };
    // Where a record's parent reference lies (in its first sector, clear of the fixups).
    const auto parentAt = [&](std::vector<std::uint8_t>& disk, std::uint64_t n) {
        const ntfs::TByteView view(record(disk, n), 1024);
        const ntfs::TByteView name = ntfs::LocateAttribute(view, ntfs::attribute::kFileName, true);
        EXPECT_FALSE(name.Empty());
        const auto at =
            static_cast<std::size_t>(name.Data() - view.Data()) + ntfs::attribute::kFixedValueOffset;
        EXPECT_LE(at + 8, 510u);
        return record(disk, n) + at;
    };
    // The parent reference record `from` holds, given to record `to`.
    const auto reparent = [&](std::uint64_t to, std::uint64_t from) {
        return [=](std::vector<std::uint8_t>& disk) {
            std::copy_n(parentAt(disk, from), 8, parentAt(disk, to));
        };
    };
    struct TBent {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> bend;
        std::string makefile;  // in old-project
        std::string utilC;     // in old-project\src
    };
    const TBent cases[] = {
        {"as made", [](std::vector<std::uint8_t>&) {}, "\\old-project\\Makefile",
         "\\old-project\\src\\util.c"},
        // old-project's parent is its own src, as util.c's parent is.
        {"a loop of two", reparent(66, 86), "?\\src\\old-project\\Makefile", "?\\src\\util.c"},
        {"a folder its own parent", reparent(67, 86), "\\old-project\\Makefile", "?\\src\\util.c"},
        // old-project used again since: the references to it name an older use.
        {"a reused parent", [&](std::vector<std::uint8_t>& disk) { ++record(disk, 66)[0x10]; }, "?\\Makefile",
         "?\\src\\util.c"},
    };
    for (const TBent& c : cases) {
        SCOPED_TRACE(c.what);
        auto disk = basic;
        c.bend(disk);
        platform::TMemoryVolume source(disk);
        std::atomic<bool> stop{false};
        TRows sink;
        scan::TDeepPass(source).Run(stop, sink);
        std::map<std::uint64_t, const scan::TDeepRow*> byRecord;
        for (const auto& row : sink.Rows) byRecord[row.Entry.Record] = &row;
        ASSERT_TRUE(byRecord.count(84) && byRecord.count(86));
        EXPECT_EQ(byRecord[84]->Entry.Details.Path, c.makefile);
        EXPECT_EQ(byRecord[84]->Entry.Details.PathBroken, c.makefile.front() == '?');
        EXPECT_EQ(byRecord[86]->Entry.Details.Path, c.utilC);
    }
}

// A sink that shows rows while the read goes on gets each file as its read
// finds it: on these images exactly the rows the pass gives once the read
// is over (a healthy volume's live files left out, a quick format's old
// ones in), and all of them before the first of those rows.
TEST(DeepPass, PreviewsWhileReadingAreTheRowsOnceRead) {
    class TPreviewRows : public TRows {
    public:
        bool WantsPreviews() const override { return true; }
        void OnPreview(const scan::DeletedFileEntry& e, bool lost) override {
            EXPECT_TRUE(Rows.empty());
            Previews.insert({e.Caption, e.NameText, e.Size, lost});
        }
        std::set<std::tuple<std::string, std::string, std::int64_t, bool>> Previews;
    };
    for (const char* name : {"basic", "qformat", "qformat1k", "wiped16", "twopart", "oddoff"}) {
        SCOPED_TRACE(name);
        platform::TMemoryVolume source(ImageBytes(name));
        std::atomic<bool> stop{false};
        TPreviewRows sink;
        scan::TDeepPass(source).Run(stop, sink);
        std::set<std::tuple<std::string, std::string, std::int64_t, bool>> rows;
        for (const auto& r : sink.Rows)
            rows.insert({r.Entry.Caption, r.Entry.NameText, r.Entry.Size, r.Lost});
        EXPECT_FALSE(rows.empty());
        EXPECT_EQ(sink.Previews, rows);
    }
}

TEST(DeepPass, StopsAtTheNextRead) {
    platform::TMemoryVolume source(std::vector<std::uint8_t>(3 * scan::TDeepPass::kReadBytes, 0));
    std::atomic<bool> stop{true};
    TRows sink;
    const auto result = scan::TDeepPass(source).Run(stop, sink);
    EXPECT_TRUE(result.Stopped);
    EXPECT_EQ(sink.Last, 0u);
    EXPECT_TRUE(sink.Rows.empty());
}

// Every image whose manifest has a "deep" section, through the command
// line: each file the manifest lists is one row, found in its volume under
// its record, with its name, original path, state and size; and no other
// row, but for those the manifest lists as "extra" with the reason. The
// same pass in process: the volumes the files come from are inferred with
// their geometry, and an untouched file's content rebuilds to its sha256.
class DeepFixture : public ::testing::TestWithParam<std::string> {};

// How the rows of each image are found: where no file in use is a row, the
// MFT its boot sector names lists them ("live MFT"); where some are, that
// MFT is gone, and the rows lie outside the one a new format made (the
// image has a normal scan's "boot" facts: "old MFT") or no MFT is live.
const char* FoundText(const nlohmann::json& m) {
    const auto& files = m["deep"]["files"];
    const bool lost =
        std::any_of(files.begin(), files.end(), [](const nlohmann::json& f) { return f["state"] == "lost"; });
    if (!lost) return "live MFT";
    return m.contains("boot") ? "old MFT" : "no MFT";
}

TEST_P(DeepFixture, ListsEveryFileOfTheOriginals) {
    const auto m = FixtureManifest(GetParam());
    const auto& deep = m["deep"];
    const auto r = testing_support::RunCommand("LC_ALL=C TZ=UTC '" LUMBRA_CLI "' scan --deep '" +
                                               FixtureImage(GetParam()).string() + "' --json 2>/dev/null");
    ASSERT_EQ(r.status, 0);
    const auto rows = nlohmann::json::parse(r.out);
    std::map<std::pair<std::uint64_t, std::uint64_t>, nlohmann::json> byPlace;
    for (const auto& row : rows)
        EXPECT_TRUE(
            byPlace.emplace(std::pair(row["volumeStart"].get<std::uint64_t>(), row["record"]), row).second)
            << "two rows for record " << row["record"];
    for (const auto& want : deep["files"]) {
        SCOPED_TRACE(want["name"].get<std::string>());
        const auto it = byPlace.find({want["volumeStart"], want["record"]});
        ASSERT_NE(it, byPlace.end()) << "record " << want["record"] << " at volume " << want["volumeStart"];
        const auto& row = it->second;
        EXPECT_EQ(row["name"], want["name"]);
        EXPECT_EQ(row["path"], testing_support::ExpectedPath(want));
        EXPECT_EQ(row["state"], want["state"]);
        EXPECT_EQ(row["size"], want["size"]);
        EXPECT_EQ(row["found"], FoundText(m));
        // A live file system over an old one's files says which of their
        // clusters it now uses (in its own cluster size when that differs);
        // where the damage wrote over a file's clusters, it uses them.
        if (!want["resident"].get<bool>()) {
            if (row["found"] == "old MFT") {
                EXPECT_NE(row["verdict"], "unknown");
            }
            if (!want["untouched"].get<bool>() && row["verdict"] != "unknown") {
                EXPECT_NE(row["verdict"], "intact");
            }
        }
        byPlace.erase(it);
    }
    for (const auto& extra : deep.value("extra", nlohmann::json::array()))
        byPlace.erase({extra["volumeStart"], extra["record"]});
    for (const auto& [place, row] : byPlace)
        ADD_FAILURE() << "a row the manifest does not list: " << row.dump();

    const auto disk = ImageBytes(GetParam());
    platform::TMemoryVolume source(disk);
    std::atomic<bool> stop{false};
    TRows sink;
    const auto result = scan::TDeepPass(source).Run(stop, sink);
    for (const auto& want : deep["volumes"]) {
        const auto same = [&](const ntfs::TInferredVolume& v) {
            return v.StartByte == want["start"] && v.BytesPerCluster == want["bytesPerCluster"] &&
                   v.BytesPerFileRecord == want["bytesPerFileRecord"];
        };
        EXPECT_TRUE(std::any_of(result.Volumes.begin(), result.Volumes.end(), same))
            << "no volume " << want.dump();
    }

    // recover --deep --all: one line per row (caption, target, outcome), and
    // every file the damage left alone comes back with the original's bytes.
    std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> placeOf;
    for (const auto& row : rows)
        placeOf[row["caption"].get<std::string>()] = {row["volumeStart"], row["record"]};
    const testing_support::TScratchDir out;
    const auto rec = testing_support::RunCommand("LC_ALL=C '" LUMBRA_CLI "' recover --deep '" +
                                                 FixtureImage(GetParam()).string() + "' --all --out '" +
                                                 out.Root() + "' 2>/dev/null");
    EXPECT_EQ(rec.status, 0);
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::string> written;
    std::istringstream lines(rec.out);
    for (std::string line; std::getline(lines, line);) {
        const auto tab = line.find('\t'), second = line.find('\t', tab + 1);
        if (tab == std::string::npos || second == std::string::npos) continue;
        const auto it = placeOf.find(line.substr(0, tab));
        ASSERT_NE(it, placeOf.end()) << line;
        written[it->second] = line.substr(tab + 1, second - tab - 1);
    }
    EXPECT_EQ(written.size(), rows.size());
    std::size_t checked = 0;
    for (const auto& want : deep["files"]) {
        if (!want["untouched"].get<bool>()) continue;
        SCOPED_TRACE(want["name"].get<std::string>());
        const auto it = written.find({want["volumeStart"], want["record"]});
        ASSERT_NE(it, written.end());
        EXPECT_EQ(testing_support::Sha256OfFile(it->second), want["sha256"]);
        ++checked;
    }
    EXPECT_GT(checked, 0u);
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(DeepFixture);
INSTANTIATE_TEST_SUITE_P(Images, DeepFixture, ::testing::ValuesIn(testing_support::DeepFixtureNames()),
                         [](const auto& p) { return p.param; });

}  // namespace
