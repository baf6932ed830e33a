// SPDX-License-Identifier: GPL-3.0-or-later
// The one way to a source: names, letters, partitions and scopes against the
// committed images, each opening served again the way a recovery opens it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/memory_volume.h"
#include "scan/drive_letters.h"
#include "scan/volume_source.h"
#include "unit/fixtures.h"

using testing_support::FixtureImage;

namespace {

constexpr std::uint64_t kMbrPartition1 = 1048576;
constexpr std::uint64_t kMbrPartition2 = 9437184;
constexpr std::uint64_t kMbrPartition5 = 18874368;

std::vector<std::uint8_t> Head(platform::TRawVolume& volume) {
    std::vector<std::uint8_t> bytes(4096);
    bytes.resize(volume.ReadAt(0, bytes));
    return bytes;
}

TEST(SourceOpener, NamesLettersPartitionsAndScopes) {
    for (const char* name : {"basic", "mbr"})
        if (!std::filesystem::exists(FixtureImage(name))) GTEST_SKIP() << "no " << name << " fixture";
    const std::string basic = FixtureImage("basic").string();
    const std::string mbr = FixtureImage("mbr").string();
    // D: is the disk's first NTFS partition, F: and G: its others (above E:).
    ::setenv("LUMBRA_DRIVES", ("D=" + mbr + ";E=" + basic + ";Q=/nonexistent/q.img").c_str(), 1);

    using scan::TSourceError;
    using scan::TSourceScope;
    struct TCase {
        const char* what;
        std::string name;
        std::optional<std::uint32_t> partition;
        TSourceScope scope;
        TSourceError error;
        std::string resolved;
        std::optional<std::uint32_t> used;  // the partition read
        std::uint64_t start;
        const char* label;  // nullptr: not compared
    };
    const std::vector<TCase> cases = {
        {"an image without a table",
         basic,
         {},
         TSourceScope::OneVolume,
         TSourceError::None,
         basic,
         {},
         0,
         "LumbraSample"},
        {"a disk with several NTFS partitions",
         mbr,
         {},
         TSourceScope::OneVolume,
         TSourceError::SeveralNtfs,
         mbr,
         {},
         0,
         nullptr},
        {"the disk as it lies", mbr, {}, TSourceScope::AsItIs, TSourceError::None, mbr, {}, 0, nullptr},
        {"a partition by number", mbr, 2, TSourceScope::OneVolume, TSourceError::None, mbr, 2, kMbrPartition2,
         "LumbraP2"},
        {"a logical partition", mbr, 5, TSourceScope::AsItIs, TSourceError::None, mbr, 5, kMbrPartition5,
         "LumbraP5"},
        {"a partition the table lacks",
         mbr,
         4,
         TSourceScope::OneVolume,
         TSourceError::NoSuchPartition,
         mbr,
         {},
         0,
         nullptr},
        {"a partition of a volume",
         basic,
         1,
         TSourceScope::OneVolume,
         TSourceError::NoSuchPartition,
         basic,
         {},
         0,
         nullptr},
        {"a letter for a partition",
         "d:",
         {},
         TSourceScope::OneVolume,
         TSourceError::None,
         mbr,
         1,
         kMbrPartition1,
         "LumbraP1"},
        {"a number wins over the letter's", "D:", 5, TSourceScope::OneVolume, TSourceError::None, mbr, 5,
         kMbrPartition5, "LumbraP5"},
        {"the letter's partition wins over the scope",
         "F:",
         {},
         TSourceScope::AsItIs,
         TSourceError::None,
         mbr,
         2,
         kMbrPartition2,
         "LumbraP2"},
        {"a letter for a plain image",
         "E:",
         {},
         TSourceScope::OneVolume,
         TSourceError::None,
         basic,
         {},
         0,
         "LumbraSample"},
        {"a letter whose image is gone",
         "Q:",
         {},
         TSourceScope::OneVolume,
         TSourceError::DidNotOpen,
         "/nonexistent/q.img",
         {},
         0,
         nullptr},
        {"a letter nobody holds",
         "Z:",
         {},
         TSourceScope::OneVolume,
         TSourceError::DidNotOpen,
         "",
         {},
         0,
         nullptr},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        scan::TSourceRequest request;
        request.Name = c.name;
        request.Partition = c.partition;
        request.Scope = c.scope;
        request.ReadLabel = true;
        const scan::TOpenedSource opened = scan::OpenSource(request);
        EXPECT_EQ(opened.Error, c.error);
        EXPECT_EQ(opened.Volume != nullptr, c.error == TSourceError::None);
        EXPECT_EQ(opened.OpenFailure.has_value(), c.error == TSourceError::DidNotOpen);
        EXPECT_EQ(opened.Source.Drive, c.name);
        EXPECT_EQ(opened.Source.Resolved, c.resolved);
        if (c.error == TSourceError::DidNotOpen) {
            EXPECT_EQ(opened.OpenFailure->Kind, c.resolved.empty() ? platform::TOpenError::NoSuchDrive
                                                                   : platform::TOpenError::NoSuchDevice);
        }
        if (!opened.Volume) continue;
        EXPECT_EQ(opened.Source.Partition, c.used);
        EXPECT_EQ(opened.Source.StartByte, c.start);
        EXPECT_EQ(opened.Layout.Kind, c.resolved == mbr ? ntfs::TTableKind::Mbr : ntfs::TTableKind::None);
        if (c.label) {
            EXPECT_EQ(opened.Label, c.label);
        }
        // What a recovery opens from the scan's facts is the same stretch.
        const scan::TOpenedSource again = scan::OpenSource(opened.Source);
        ASSERT_TRUE(again.Volume);
        EXPECT_EQ(again.Volume->Size(), opened.Volume->Size());
        EXPECT_EQ(Head(*again.Volume), Head(*opened.Volume));
    }
    ::unsetenv("LUMBRA_DRIVES");
}

// A volume given open is the volume itself, served again to a recovery; the
// scan's facts of a source that went away name why it does not open.
TEST(SourceOpener, GivenVolumesAndResolvedSources) {
    const auto bytes = std::make_shared<platform::TMemoryVolume>(std::vector<std::uint8_t>(8192, 0x5A));
    scan::TSourceRequest request;
    request.Volume = bytes;
    const scan::TOpenedSource opened = scan::OpenSource(request);
    ASSERT_TRUE(opened.Volume);
    EXPECT_EQ(opened.Source.Given, bytes);
    EXPECT_EQ(opened.Layout.Kind, ntfs::TTableKind::None);
    EXPECT_EQ(Head(*scan::OpenSource(opened.Source).Volume), Head(*bytes));
    request.Partition = 1;
    EXPECT_EQ(scan::OpenSource(request).Error, scan::TSourceError::NoSuchPartition);

    scan::TScanSource gone;
    EXPECT_EQ(scan::OpenSource(gone).OpenFailure->Kind, platform::TOpenError::NoSuchDevice);
    gone.Resolved = "/nonexistent/gone.img";
    const scan::TOpenedSource missing = scan::OpenSource(gone);
    EXPECT_FALSE(missing.Volume);
    ASSERT_TRUE(missing.OpenFailure);
    EXPECT_EQ(missing.OpenFailure->Path, gone.Resolved);
}

// The first look at the letters opens the disks behind them; the disk of the
// letter asked for is handed on still open, so a scan opens it only once.
TEST(SourceOpener, FirstLookAtTheLettersHandsTheDiskOn) {
    if (!std::filesystem::exists(FixtureImage("basic"))) GTEST_SKIP() << "no basic fixture";
    const std::string basic = FixtureImage("basic").string();
    ::setenv("LUMBRA_DRIVES", ("K=" + basic + ";L=/nonexistent/l.img").c_str(), 1);
    std::unique_ptr<platform::TRawVolume> first;
    const auto letter = scan::ResolveDriveLetter("k:", &first);
    ASSERT_TRUE(letter);
    EXPECT_EQ(letter->Path, basic);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->Size(), std::filesystem::file_size(basic));
    std::unique_ptr<platform::TRawVolume> later;
    EXPECT_TRUE(scan::ResolveDriveLetter("K:", &later));
    EXPECT_FALSE(later);  // the letters are known: nothing was opened
    ::unsetenv("LUMBRA_DRIVES");
}

}  // namespace
