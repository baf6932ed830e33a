// SPDX-License-Identifier: GPL-3.0-or-later
// A deleted file whose name and content lie only in an extension record (the
// extrec fixture): the scan lists it and recovery rebuilds it through the
// base record's attribute list, but only while the extension record still
// belongs to that file. Each case edits the extension record's header in an
// in-memory copy of the image, as a later file taking the record would.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "platform/memory_volume.h"
#include "recover/recover_file.h"
#include "scan/scan_session.h"
#include "unit/fixtures.h"

namespace {

using testing_support::FixtureImage;
using testing_support::FixtureManifest;

void Put16(std::vector<std::uint8_t>& d, std::size_t at, std::uint16_t v) {
    d[at] = static_cast<std::uint8_t>(v);
    d[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

TEST(ExtensionRecord, NameAndDataFoundOnlyWhileTheRecordStillBelongsToTheFile) {
    if (!std::filesystem::exists(FixtureImage("extrec"))) GTEST_SKIP() << "extrec fixture not built";
    const auto m = FixtureManifest("extrec");
    nlohmann::json row;
    for (const auto& r : m["deleted"])
        if (r["name"] == "extdata.bin") row = r;
    ASSERT_FALSE(row.is_null());
    std::ifstream in(FixtureImage("extrec"), std::ios::binary);
    const std::vector<std::uint8_t> image((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());

    // The extension record: the next one after the base in this small MFT
    // (the manifest's note names it), located through the contiguous MFT.
    const std::uint64_t recordSize = m["boot"]["bytesPerFileRecord"];
    const std::uint64_t base = row["record"];
    const std::size_t ext =
        static_cast<std::size_t>(m["boot"]["mftByteOffset"].get<std::uint64_t>() + (base + 1) * recordSize);
    ASSERT_NE(row["note"].get<std::string>().find("extension record " + std::to_string(base + 1)),
              std::string::npos);
    const std::uint16_t extSeq = static_cast<std::uint16_t>(image[ext + 0x10] | image[ext + 0x11] << 8);

    struct TCase {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> edit;
        bool listed;
    };
    const std::vector<TCase> cases = {
        {"as the delete left it", [](auto&) {}, true},
        {"the sequence moved on once more (freed again)", [&](auto& d) { Put16(d, ext + 0x10, extSeq + 1); },
         true},
        {"reused and freed: sequence two on", [&](auto& d) { Put16(d, ext + 0x10, extSeq + 2); }, false},
        {"in use by another file", [&](auto& d) { d[ext + 0x16] |= 1; }, false},
        {"names another base record", [&](auto& d) { d[ext + 0x20] = static_cast<std::uint8_t>(base + 7); },
         false},
        {"names this base under an older sequence",
         [&](auto& d) { Put16(d, ext + 0x26, static_cast<std::uint16_t>(d[ext + 0x26] + 5)); }, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> bytes = image;
        c.edit(bytes);
        scan::TQuietScanSink sink;
        std::atomic<bool> stop{false};
        const auto scanned =
            scan::TScanSession(std::make_unique<platform::TMemoryVolume>(bytes)).Run(stop, sink);
        ASSERT_EQ(scanned->Outcome, scan::TScanOutcome::Completed);
        const scan::DeletedFileEntry* found = nullptr;
        for (const auto& e : scanned->Rows)
            if (e.Record == base) found = &e;
        EXPECT_EQ(found != nullptr, c.listed);
        if (!c.listed || !found) continue;
        EXPECT_EQ(found->NameText, "extdata.bin");
        EXPECT_EQ(found->Size, row["size"].get<std::uint64_t>());

        // Recovery follows the same list to the same content.
        char pattern[] = "/tmp/lumbra-ext-XXXXXX";
        const std::filesystem::path dir = ::mkdtemp(pattern);
        platform::TMemoryVolume volume(bytes);
        const auto result = recover::RecoverFileFromRecord(volume, found->ByteOffset, scanned->Geometry,
                                                           (dir / "out").string());
        EXPECT_EQ(result.Status, recover::TRecoverStatus::Written);
        EXPECT_EQ(testing_support::Sha256OfFile(dir / "out"), row["sha256"].get<std::string>());
        std::filesystem::remove_all(dir);
    }
}

}  // namespace
