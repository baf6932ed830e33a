// SPDX-License-Identifier: GPL-3.0-or-later
// A deleted file's record on a real image, its update sequence count set
// lower than its stretches and a stretch past that count torn: the first
// stretch still checks out, so only the count tells the record is not whole.
// The scan must pass it over (one more record failing its fixups, its row
// gone, every other row kept) and recovery must refuse it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ntfs/file_record.h"
#include "platform/memory_volume.h"
#include "recover/recover_file.h"
#include "unit/fixtures.h"
#include "unit/recover_support.h"

using testing_support::FixtureImage;
using testing_support::FixtureManifest;
using testing_support::RunCommand;

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadImage(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct TScanned {
    std::vector<std::string> captions;
    std::uint64_t fixupFailures = 0;
};

TScanned Scan(const fs::path& image, const testing_support::TScratchDir& dir) {
    const std::string err = dir.Path("scan.err");
    const auto r =
        RunCommand("LC_ALL=C TZ=UTC '" LUMBRA_CLI "' scan '" + image.string() + "' 2>'" + err + "'");
    EXPECT_EQ(r.status, 0);
    TScanned s;
    std::size_t start = 0;
    while (start < r.out.size()) {
        const std::size_t end = r.out.find('\n', start);
        s.captions.push_back(r.out.substr(start, r.out.find('\t', start) - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    const auto bytes = testing_support::ReadFileBytes(err);
    const std::string text(bytes.begin(), bytes.end());
    // The count stands just before the words, after a blank or a line start.
    const std::string words = " records failing their fixups";
    const std::size_t at = text.find(words);
    EXPECT_NE(at, std::string::npos) << text;
    if (at != std::string::npos) {
        std::size_t first = at;
        while (first > 0 && text[first - 1] >= '0' && text[first - 1] <= '9') --first;
        EXPECT_LT(first, at) << text;
        if (first < at) s.fixupFailures = std::stoull(text.substr(first, at - first));
    }
    return s;
}

TEST(TornRecord, ACountShortOfTheStretchesIsDamageToScanAndRecovery) {
    struct TCase {
        const char* fixture;
        const char* row;
        std::uint16_t count;      // written over the record's own
        std::size_t tornStretch;  // 1-based, past `count - 1`: never checked under that count
    };
    const TCase cases[] = {
        {"s4k", "res3k.txt", 2, 5},   // a 4096-byte record of nine entries said to have two
        {"c512", "small.txt", 2, 2},  // a 1024-byte record over two clusters, said to have one stretch
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.fixture);
        const auto m = FixtureManifest(c.fixture);
        const auto& boot = m["boot"];
        const ntfs::TDISK_INFORMATION geometry{
            boot["bytesPerFileRecord"].get<std::uint32_t>(), boot["bytesPerCluster"].get<std::uint32_t>(),
            boot["bytesPerSector"].get<std::uint32_t>(), boot["sectorsPerCluster"].get<std::uint32_t>()};
        const auto& rows = m["deleted"];
        const auto row =
            std::find_if(rows.begin(), rows.end(), [&](const auto& r) { return r["name"] == c.row; });
        ASSERT_NE(row, rows.end());
        const std::string caption = (*row)["caption"];
        const std::uint64_t at = *recover::ParseCaption(caption);
        const std::size_t size = geometry.BytesPerFileRecord;

        const Bytes sound = ReadImage(FixtureImage(c.fixture));
        Bytes torn = sound;
        ASSERT_EQ(torn[at + 6], size / 512 + 1);  // as mkntfs wrote it
        torn[at + 6] = static_cast<std::uint8_t>(c.count);
        torn[at + 7] = 0;
        torn[at + c.tornStretch * 512 - 1] ^= 0x5A;
        // The first stretch still ends in the sequence number: a check that
        // went by the count alone would take the record as whole.
        const std::size_t usa = torn[at + 4] | (torn[at + 5] << 8);
        ASSERT_EQ(torn[at + 510], torn[at + usa]);
        ASSERT_EQ(torn[at + 511], torn[at + usa + 1]);
        Bytes record(torn.begin() + static_cast<std::ptrdiff_t>(at),
                     torn.begin() + static_cast<std::ptrdiff_t>(at + size));
        const Bytes before = record;
        EXPECT_FALSE(ntfs::ApplyFixups(record, geometry));
        EXPECT_EQ(record, before);

        testing_support::TScratchDir dir;
        const fs::path copy = dir.Path("torn.img");
        {
            std::ofstream out(copy, std::ios::binary);
            out.write(reinterpret_cast<const char*>(torn.data()), static_cast<std::streamsize>(torn.size()));
        }
        const TScanned whole = Scan(FixtureImage(c.fixture), dir);
        const TScanned damaged = Scan(copy, dir);
        std::vector<std::string> kept = whole.captions;
        kept.erase(std::remove(kept.begin(), kept.end(), caption), kept.end());
        ASSERT_EQ(kept.size() + 1, whole.captions.size());
        EXPECT_EQ(damaged.captions, kept);
        EXPECT_EQ(damaged.fixupFailures, whole.fixupFailures + 1);

        // Recovery reads the record again and refuses it; the sound image
        // gives the file back, so the refusal is the damage's.
        platform::TMemoryVolume tornVolume(torn);
        const auto refused = recover::RecoverFileFromRecord(tornVolume, at, geometry, dir.Path("out"));
        EXPECT_EQ(refused.Status, recover::TRecoverStatus::FixupsFailed);
        EXPECT_FALSE(fs::exists(dir.Path("out")));
        platform::TMemoryVolume soundVolume(sound);
        ASSERT_EQ(recover::RecoverFileFromRecord(soundVolume, at, geometry, dir.Path("out")).Status,
                  recover::TRecoverStatus::Written);
        EXPECT_EQ(testing_support::Sha256OfFile(dir.Path("out")), (*row)["sha256"].get<std::string>());
    }
}

}  // namespace
