// SPDX-License-Identifier: GPL-3.0-or-later
// Damaged first MFT records on a real volume: the scan turns to the
// $MFTMirr's copies, says which it used, and gives the same rows; where the
// mirror is no better the scan ends as before.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "ntfs/boot_sector.h"
#include "ntfs/volume_name.h"
#include "platform/memory_volume.h"
#include "scan/scan_session.h"
#include "unit/fixtures.h"

using testing_support::FixtureImage;
using testing_support::FixtureManifest;

namespace {

std::vector<std::uint8_t> ImageBytes(const std::string& name) {
    std::ifstream in(FixtureImage(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

enum class TEdit { None, ZeroMirror0, ZeroMirror3, Record0NamesAnother };

void Apply(TEdit edit, std::vector<std::uint8_t>& bytes) {
    const auto boot = ntfs::DecodeBootSector(ntfs::TByteView(bytes.data(), bytes.size()));
    const std::uint32_t record = ntfs::DeriveGeometry(boot).BytesPerFileRecord;
    const std::uint64_t mft = *ntfs::MftByteOffset(boot);
    const std::uint64_t mirror = *ntfs::MftMirrByteOffset(boot);
    const auto zero = [&](std::uint64_t at) {
        std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), record, std::uint8_t{0});
    };
    switch (edit) {
        case TEdit::None:
            break;
        case TEdit::ZeroMirror0:
            zero(mirror);
            break;
        case TEdit::ZeroMirror3:
            zero(mirror + 3 * record);
            break;
        case TEdit::Record0NamesAnother:
            bytes[mft + 0x2C] = 5;  // fixups still hold; only the self-number lies
            break;
    }
}

struct TCase {
    const char* image;
    TEdit edit;
    scan::TScanOutcome outcome;
    std::uint8_t mirrored;
    bool label;  // whether $Volume still gives the label
};

TEST(MirrorFallback, FirstRecordsComeFromTheMirrorOnlyWhereTheyMust) {
    const TCase cases[] = {
        {"basic", TEdit::None, scan::TScanOutcome::Completed, 0x0, true},
        {"mirror0", TEdit::None, scan::TScanOutcome::Completed, 0x1, true},
        {"mirrortorn", TEdit::None, scan::TScanOutcome::Completed, 0xF, true},
        {"basic", TEdit::Record0NamesAnother, scan::TScanOutcome::Completed, 0x1, true},
        {"mirrortorn", TEdit::ZeroMirror3, scan::TScanOutcome::Completed, 0x7, false},
        {"mirror0", TEdit::ZeroMirror0, scan::TScanOutcome::Record0Unusable, 0x0, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.image) + " edit " + std::to_string(static_cast<int>(c.edit)));
        const auto m = FixtureManifest(c.image);
        auto bytes = ImageBytes(c.image);
        Apply(c.edit, bytes);
        std::atomic<bool> stop{false};
        scan::TQuietScanSink sink;
        auto volume = std::make_unique<platform::TMemoryVolume>(std::move(bytes));
        // The label as the partition path reads it: from the volume's own $Volume.
        const auto name = ntfs::ReadVolumeName(*volume);
        EXPECT_EQ(name.has_value(), c.label);
        const auto result = scan::TScanSession(std::move(volume)).Run(stop, sink);
        ASSERT_EQ(result->Outcome, c.outcome);
        if (c.outcome != scan::TScanOutcome::Completed) continue;
        EXPECT_EQ(result->Facts.MirroredRecords, c.mirrored);
        EXPECT_EQ(result->Facts.RecordCount, m["mft"]["records"].get<std::uint64_t>());
        ASSERT_EQ(result->Rows.size(), m["deleted"].size());
        for (std::size_t i = 0; i < result->Rows.size(); ++i)
            EXPECT_EQ(result->Rows[i].Record, m["deleted"][i]["record"].get<std::uint64_t>());
    }
}

TEST(MirrorFallback, InfoAndScanSayWhichRecordsCameFromTheMirror) {
    const std::string cli = "LC_ALL=C TZ=UTC '" LUMBRA_CLI "' ";
    const auto info = testing_support::RunCommand(cli + "info '" + FixtureImage("mirrortorn").string() + "'");
    EXPECT_EQ(info.status, 0);
    EXPECT_NE(info.out.find("Label: LumbraSample\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("\nMFT records read from $MFTMirr: 0, 1, 2, 3\n"), std::string::npos) << info.out;
    const auto plain = testing_support::RunCommand(cli + "info '" + FixtureImage("basic").string() + "'");
    EXPECT_EQ(plain.out.find("$MFTMirr"), std::string::npos) << plain.out;
    // The scan's summary says it too, after the rows.
    const auto scanned =
        testing_support::RunCommand(cli + "scan '" + FixtureImage("mirror0").string() + "' 2>&1");
    EXPECT_EQ(scanned.status, 0);
    EXPECT_NE(scanned.out.find("lumbra-cli: MFT records read from $MFTMirr: 0\n"), std::string::npos);
}

}  // namespace
