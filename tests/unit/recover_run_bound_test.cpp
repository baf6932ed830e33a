// SPDX-License-Identifier: GPL-3.0-or-later
// A recovery run never writes more real bytes than the volume holds: many
// damaged records that claim the same clusters get holes past that, while
// rows whose clusters are their own keep every byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "recover/run_bound.h"
#include "unit/fixtures.h"
#include "unit/recover_support.h"

namespace {

using recover::TClusterGrant;
using recover::TClusterHole;
using recover::TClusterSpan;
using Bytes = std::vector<std::uint8_t>;

struct TRequest {
    std::vector<TClusterSpan> Clusters;
    bool MayRepeat = false;
    std::uint64_t Resident = 0;
};

std::string Describe(const TClusterGrant& g) {
    std::string s;
    for (const auto& r : g.Ranges)
        s += "[" + std::to_string(r.First) + "," + std::to_string(r.End) + ")" +
             "NRTB"[static_cast<int>(r.Hole)] + " ";
    if (!g.ResidentWritten) s += "resident-hole";
    return s;
}

// A 100-cluster volume of 1-byte clusters (so bytes and clusters agree).
TEST(RunBound, GrantsInRowOrderWithinTheVolume) {
    struct TCase {
        const char* what;
        std::uint64_t heldBack;
        std::vector<TRequest> rows;
        std::vector<std::string> grants;
        std::uint64_t total;
    };
    const std::vector<TCase> cases = {
        {"sound rows share no cluster: the second gets holes where the first wrote",
         0,
         {{{{10, 30}}}, {{{20, 40}}}},
         {"[10,30)N ", "[20,30)T [30,40)N "},
         30},
        {"rows whose clusters are others' now may repeat them, within what is not held back",
         40,
         {{{{0, 40}}, false}, {{{0, 40}}, true}, {{{0, 40}}, true}},
         {"[0,40)N ", "[0,40)N ", "[0,20)N [20,40)B "},
         100},
        {"an intact row repeats what an overwritten one wrote; nine damaged rows stop at the volume",
         10,
         {{{{0, 90}}, true}, {{{0, 10}}, false}, {{{0, 90}}, true}},
         {"[0,90)N ", "[0,10)N ", "[0,90)B "},
         100},
        {"a damaged row cannot use up the room held back for a later sound one",
         50,
         {{{{0, 100}}, true}, {{{60, 100}}, false}, {{{0, 30}}, false}},
         {"[0,50)N [50,100)B ", "[60,100)N ", "[0,10)N [10,30)B "},
         100},
        {"resident values count in whole clusters and stay holes past the bound",
         0,
         {{{{0, 99}}}, {{}, false, 1}, {{}, false, 1}},
         {"[0,99)N ", "", "resident-hole"},
         100},
    };
    for (const auto& c : cases) {
        recover::TRunBound bound(100, 1, c.heldBack);
        for (std::size_t i = 0; i < c.rows.size(); ++i) {
            const TRequest& r = c.rows[i];
            EXPECT_EQ(Describe(bound.Grant(i, r.Clusters, r.MayRepeat, r.Resident)), c.grants[i])
                << c.what << ", row " << i;
        }
        EXPECT_EQ(bound.Granted(), c.total) << c.what;
        EXPECT_LE(bound.Granted(), 100u) << c.what;
    }
}

namespace fs = std::filesystem;

// Rewrites the unnamed $DATA of MFT record `record` in a volume image of
// 1024-byte records to one run of `clusters` clusters at LCN 1, with all
// three sizes matching it; fixups undone and redone around the edit.
void ClaimOneStretch(Bytes& image, std::uint64_t mftOffset, std::uint64_t record, std::uint16_t clusters,
                     std::uint32_t clusterBytes) {
    auto u16 = [](const Bytes& b, std::size_t at) {
        return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
    };
    auto u32 = [&](const Bytes& b, std::size_t at) {
        return u16(b, at) | std::uint32_t{u16(b, at + 2)} << 16;
    };
    auto put = [](Bytes& b, std::size_t at, std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    const std::size_t at = mftOffset + record * 1024;
    Bytes rec(image.begin() + at, image.begin() + at + 1024);
    const std::size_t usa = u16(rec, 4);
    const std::size_t count = u16(rec, 6);
    for (std::size_t i = 1; i < count; ++i) {
        ASSERT_EQ(u16(rec, i * 512 - 2), u16(rec, usa)) << record;
        put(rec, i * 512 - 2, u16(rec, usa + 2 * i), 2);
    }
    bool edited = false;
    for (std::size_t a = u16(rec, 0x14); a + 16 < rec.size() && u32(rec, a) != 0xFFFFFFFF;) {
        const std::uint32_t length = u32(rec, a + 4);
        ASSERT_GT(length, 0u);
        if (u32(rec, a) == 0x80 && rec[a + 8] == 1 && rec[a + 9] == 0) {
            const std::size_t runs = a + u16(rec, a + 0x20);
            ASSERT_GE(a + length, runs + 5) << record;
            const Bytes run = {0x12, static_cast<std::uint8_t>(clusters),
                               static_cast<std::uint8_t>(clusters >> 8), 0x01, 0x00};
            std::copy(run.begin(), run.end(), rec.begin() + runs);
            put(rec, a + 0x18, clusters - 1u, 8);
            for (const std::size_t field : {0x28, 0x30, 0x38})
                put(rec, a + field, std::uint64_t{clusters} * clusterBytes, 8);
            edited = true;
        }
        a += length;
    }
    ASSERT_TRUE(edited) << record;
    for (std::size_t i = 1; i < count; ++i) {
        put(rec, usa + 2 * i, u16(rec, i * 512 - 2), 2);
        put(rec, i * 512 - 2, u16(rec, usa), 2);
    }
    std::copy(rec.begin(), rec.end(), image.begin() + at);
}

// Nine deleted records of the demo volume each claim the same 4094
// clusters (nearly the whole 16 MiB volume) with sizes to match: without a
// bound on the run as a whole, --all writes the volume nine times over.
TEST(RunBound, NineRecordsClaimingTheVolumeWriteItAtMostOnce) {
    const auto m = testing_support::FixtureManifest("basic");
    const std::uint32_t clusterBytes = m["boot"]["bytesPerCluster"];
    const std::uint64_t mftOffset = m["boot"]["mftByteOffset"];
    ASSERT_EQ(m["mft"]["runs"].size(), 1u);  // records lie one after the other
    Bytes image = testing_support::ReadFileBytes(testing_support::FixtureImage("basic").string());
    const std::uint64_t volumeBytes = image.size();
    const std::set<std::uint64_t> damaged = {72, 74, 75, 76, 77, 79, 80, 81, 82};
    for (const std::uint64_t record : damaged) {
        ClaimOneStretch(image, mftOffset, record, 4094, clusterBytes);
        if (HasFatalFailure()) return;
    }
    testing_support::TScratchDir dir;
    const std::string path = dir.Path("damaged.img");
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    }
    const std::string outDir = dir.Path("out");
    const auto r = testing_support::RunCommand("'" LUMBRA_CLI "' recover '" + path + "' --out '" + outDir +
                                               "' --all 2>/dev/null");
    EXPECT_EQ(r.status, 0);

    // caption -> (target, outcome)
    std::map<std::string, std::pair<std::string, std::string>> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        const auto tab1 = line.find('\t');
        const auto tab2 = line.find('\t', tab1 + 1);
        ASSERT_NE(tab2, std::string::npos) << line;
        lines[line.substr(0, tab1)] = {line.substr(tab1 + 1, tab2 - tab1 - 1), line.substr(tab2 + 1)};
    }
    ASSERT_EQ(lines.size(), m["deleted"].size()) << r.out;

    std::uint64_t real = 0;
    for (const auto& e : fs::recursive_directory_iterator(outDir))
        if (e.is_regular_file()) real += testing_support::AllocatedBytes(e.path().string());
    EXPECT_LE(real, volumeBytes);
    EXPECT_GE(real, volumeBytes / 2);  // the bound is the volume, not far below it

    int holed = 0;
    for (const auto& row : m["deleted"]) {
        const auto& [target, outcome] = lines[row["caption"].get<std::string>()];
        if (damaged.count(row["record"].get<std::uint64_t>())) {
            EXPECT_EQ(outcome.rfind(std::to_string(4094ull * clusterBytes) + " bytes", 0), 0u) << outcome;
            if (outcome.find("the run has written as many bytes as the volume holds") != std::string::npos)
                ++holed;
        } else {
            // Rows of their own clusters come out whole, after the damage.
            EXPECT_EQ(testing_support::Sha256OfFile(target), row["sha256"].get<std::string>())
                << row["name"] << ": " << outcome;
        }
    }
    EXPECT_GE(holed, 8);
}

}  // namespace
