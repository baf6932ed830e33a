// SPDX-License-Identifier: GPL-3.0-or-later
// The committed real NTFS images, opened as the program opens a source: the
// geometry, probe texts and labels against what mkntfs/fsstat/ntfsinfo
// reported when the images were made, and every record of each MFT through
// the fixups and the attribute lookup.
#include <gtest/gtest.h>

#include <cstdlib>

#include "ntfs/attribute.h"
#include "ntfs/attribute_list.h"
#include "ntfs/file_record.h"
#include "ntfs/text.h"
#include "scan/probe.h"
#include "scan/scan_session.h"
#include "scan/volume_source.h"
#include "unit/fixtures.h"

using testing_support::FixtureImage;
using testing_support::FixtureManifest;

namespace {

scan::TSourceRequest Named(const std::string& name, bool readLabel = false) {
    scan::TSourceRequest request;
    request.Name = name;
    request.ReadLabel = readLabel;
    return request;
}

// The probe shows at least 8 hex digits of the serial, all of them when the
// upper half is not zero.
std::string SerialDigits(const std::string& sixteen) {
    std::string s = sixteen;
    while (s.size() > 8 && s[0] == '0') s.erase(0, 1);
    return s;
}

class FixtureVolume : public ::testing::TestWithParam<std::string> {};

TEST_P(FixtureVolume, GeometryAndProbeMatchTheTools) {
    const auto m = FixtureManifest(GetParam());
    const auto& boot = m["boot"];
    const std::string path = FixtureImage(GetParam()).string();

    const auto opened = scan::OpenSource(Named(path));
    ASSERT_TRUE(opened.Volume);
    const auto sector = ntfs::ReadBootSector(*opened.Volume);
    const auto b = ntfs::DecodeBootSector(sector.View());
    const auto g = ntfs::DeriveGeometry(b);
    EXPECT_EQ(g.BytesPerSector, boot["bytesPerSector"].get<std::uint32_t>());
    EXPECT_EQ(g.SectorsPerCluster, boot["sectorsPerCluster"].get<std::uint32_t>());
    EXPECT_EQ(g.BytesPerCluster, boot["bytesPerCluster"].get<std::uint32_t>());
    EXPECT_EQ(g.BytesPerFileRecord, boot["bytesPerFileRecord"].get<std::uint32_t>());
    EXPECT_EQ(b.TotalSectors, boot["totalSectors"].get<std::uint64_t>());
    EXPECT_EQ(ntfs::MftByteOffset(b), boot["mftByteOffset"].get<std::uint64_t>());

    const auto probe = scan::ProbeDrive(path);
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->Oem, "NTFS");
    EXPECT_EQ(probe->Label, boot["label"].get<std::string>());
    EXPECT_EQ(ntfs::HexUpper(probe->SerialNumber, 8), SerialDigits(boot["serial"].get<std::string>()));
}

TEST_P(FixtureVolume, OpensByDriveLetter) {
    const auto m = FixtureManifest(GetParam());
    const std::string path = FixtureImage(GetParam()).string();
    ::setenv("LUMBRA_DRIVES", ("D=/nonexistent/x.img;E=" + path).c_str(), 1);
    EXPECT_FALSE(scan::ProbeDrive("D:"));  // does not open: not listed, labels untouched
    const auto probe = scan::ProbeDrive("E:");
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->Label, m["boot"]["label"].get<std::string>());
    const auto opened = scan::OpenSource(Named("e:", true));
    ASSERT_TRUE(opened.Volume);
    EXPECT_EQ(opened.Source.Resolved, path);
    EXPECT_EQ(opened.Label, m["boot"]["label"].get<std::string>());
    ::unsetenv("LUMBRA_DRIVES");
}

TEST_P(FixtureVolume, EverySoundRecordPassesFixupsAndHoldsItsAttributes) {
    const auto m = FixtureManifest(GetParam());
    // The scan's facts up to its walk, then its volume opened again, as a
    // recovery opens it.
    scan::TQuietScanSink quiet;
    const std::atomic<bool> before{true};
    const auto scanned = scan::TScanSession(FixtureImage(GetParam()).string()).Run(before, quiet);
    ASSERT_EQ(scanned->Outcome, scan::TScanOutcome::Stopped);
    const std::uint64_t records = scanned->Facts.RecordCount;
    EXPECT_EQ(records, m["mft"]["records"].get<std::uint64_t>());
    const ntfs::TMftMap& map = scanned->Layout.Map;

    std::set<std::uint64_t> deleted;
    for (const auto& row : m["deleted"]) deleted.insert(row["record"].get<std::uint64_t>());
    const auto again = scan::OpenSource(scanned->Source);
    ASSERT_TRUE(again.Volume);
    platform::TRawVolume* const volume = again.Volume.get();
    const auto& g = scanned->Geometry;
    std::uint64_t inUse = 0;
    std::set<std::uint64_t> damaged;
    for (const auto& n : m.value("damagedRecords", nlohmann::json::array()))
        damaged.insert(n.get<std::uint64_t>());
    for (std::uint64_t n = 0; n < records; ++n) {
        if (damaged.count(n)) continue;  // damaged on purpose; the mirror stands in
        ntfs::TDynamicCharArray rec(g.BytesPerFileRecord);
        ASSERT_EQ(map.Read(*volume, n * g.BytesPerFileRecord, rec.Span()), rec.Size());
        if (!ntfs::HasFileSignature(rec.View())) continue;  // never initialised
        ASSERT_TRUE(ntfs::ApplyFixups(rec.Span(), g)) << "record " << n;
        const auto h = ntfs::DecodeRecordHeader(rec.View());
        const bool isBase = rec.View().U64(0x20) == std::uint64_t{0};
        if ((h->RecordFlags & 1) != 0 && isBase) {
            ++inUse;
            EXPECT_FALSE(ntfs::FindAttribute(rec.View(), 0x10, false).Empty()) << "record " << n;
            // mkntfs reserves records 12..15 in use without a name.
            if (n < 12 || n > 15) {
                EXPECT_FALSE(ntfs::FindAttribute(rec.View(), 0x30, false).Empty()) << "record " << n;
            }
        }
        if (deleted.count(n)) {
            EXPECT_EQ(h->RecordFlags, 0) << "record " << n;
            EXPECT_FALSE(ntfs::FindAttribute(rec.View(), 0x10, false).Empty()) << "record " << n;
            // A name or content that overflowed the base record is found
            // through its attribute list, in a free extension record.
            const ntfs::TRecordReader readRecord = [&](std::uint64_t r) {
                return ntfs::ReadMftRecord(map, *volume, r, g);
            };
            const auto listed = [&](std::uint32_t type, bool rule) {
                return !ntfs::FindListedAttribute(*volume, rec.Span(), n, type, rule, g, readRecord).Empty();
            };
            EXPECT_TRUE(!ntfs::FindAttribute(rec.View(), 0x30, true).Empty() || listed(0x30, true))
                << "record " << n;
            EXPECT_TRUE(!ntfs::LocateUnnamedData(rec.View()).Empty() || listed(0x80, false))
                << "record " << n;
        }
    }
    EXPECT_GE(inUse + damaged.size(), 12u);  // at least the system files
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FixtureVolume);
INSTANTIATE_TEST_SUITE_P(Images, FixtureVolume, ::testing::ValuesIn(testing_support::FixtureNames()),
                         [](const auto& p) { return p.param; });

TEST(FixtureNotNtfs, ProbeRejectsItAndReadsItsLabel) {
    for (const std::string& name : testing_support::FixtureNames(false)) {
        const auto m = FixtureManifest(name);
        if (m.value("ntfs", true)) continue;
        const auto probe = scan::ProbeDrive(FixtureImage(name).string());
        ASSERT_TRUE(probe);
        EXPECT_NE(probe->Oem, "NTFS");
        EXPECT_EQ(probe->Label, m["label"].get<std::string>());
    }
}

}  // namespace
