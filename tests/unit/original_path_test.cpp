// SPDX-License-Identifier: GPL-3.0-or-later
// Original paths from parent references: live and deleted folders, reused
// records, loops and broken chains.
#include <gtest/gtest.h>

#include "scan/original_path.h"
#include "unit/record_builder.h"

namespace {

using scan::TDirectoryTable;

std::uint64_t Ref(std::uint64_t record, std::uint16_t sequence) {
    return record | std::uint64_t{sequence} << 48;
}

// root(5) <- Docs(30, live) <- Project(31, live) <- deep(40, deleted)
// old(41): reused as a live folder since its children were deleted
// loop(50) <-> loop2(51); self(52) names itself; orphan(60)'s parent is unknown
TDirectoryTable Table() {
    TDirectoryTable t;
    t.Note(30, 1, true, Ref(5, 5), u"Docs");
    t.Note(31, 2, true, Ref(30, 1), u"Project");
    t.Note(40, 4, false, Ref(31, 2), u"deep");
    t.Note(41, 7, true, Ref(5, 5), u"new");
    t.Note(50, 1, false, Ref(51, 0), u"loop");
    t.Note(51, 1, false, Ref(50, 0), u"loop2");
    t.Note(52, 3, true, Ref(52, 3), u"self");
    t.Note(60, 2, false, Ref(99, 1), u"orphan");
    t.Note(61, 1, false, Ref(0xFFFF, 0xFFFF), u"wrap");
    t.Note(62, 1, false, Ref(5, 5), u"wrapped");  // freed at sequence 0xFFFF: the next is 1
    t.Link();
    return t;
}

TEST(OriginalPath, FollowsParentsThroughLiveAndDeletedFoldersAndBreaksWhereTheyWereReused) {
    const TDirectoryTable t = Table();
    const struct {
        std::uint64_t parent;
        const char* path;
    } cases[] = {
        {Ref(5, 5), "\\plan.txt"},
        {Ref(30, 1), "\\Docs\\plan.txt"},
        {Ref(40, 3), "\\Docs\\Project\\deep\\plan.txt"},  // deleted: one below its sequence
        {Ref(40, 4), "?\\plan.txt"},                      // a deleted folder's own number: a later use
        {Ref(41, 6), "?\\plan.txt"},                      // live again under a new number
        {Ref(31, 1), "?\\plan.txt"},
        {Ref(50, 0), "?\\loop2\\loop\\plan.txt"},  // cut where the loop closes
        {Ref(51, 0), "?\\loop2\\plan.txt"},
        {Ref(52, 3), "?\\self\\plan.txt"},
        {Ref(60, 1), "?\\orphan\\plan.txt"},
        {Ref(62, 0xFFFF), "\\wrapped\\plan.txt"},
        {Ref(7, 7), "?\\plan.txt"},  // not a folder the walk met
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const scan::TOriginalPath p = t.Resolve(c.parent);
        EXPECT_EQ(scan::PathText(p, "plan.txt"), c.path);
        EXPECT_EQ(p.Broken, c.path[0] == '?');
    }
}

TEST(OriginalPath, DirectoryRecordsAreNotedFromTheirHeaderAndChosenName) {
    using testing_support::TAttributeBuilder;
    auto dos = TAttributeBuilder::FileName(u"PROJEC~1", 2);
    auto win = TAttributeBuilder::FileName(u"Projects 2024", 1);
    testing_support::PutLe(dos, 0x18, Ref(5, 5), 8);
    testing_support::PutLe(win, 0x18, Ref(5, 5), 8);
    auto record = testing_support::TRecordBuilder().Flags(0x0002).Add(dos).Add(win).Build();
    record[0x10] = 9;  // sequence number
    // Fixups are the walk's business: this record's stretch ends hold only zeros.
    TDirectoryTable t;
    t.NoteRecord(70, ntfs::TByteView(record.data(), record.size()), 0x0002);
    t.NoteRecord(71, ntfs::TByteView(record.data(), record.size()), 0x0000);  // a file: not noted
    t.NoteRecord(69, ntfs::TByteView(record.data(), record.size()), 0x0002);  // out of order: not noted
    t.Link();
    EXPECT_EQ(t.Size(), 1u);
    EXPECT_EQ(scan::PathText(t.Resolve(Ref(70, 8)), "a.txt"), "\\Projects 2024\\a.txt");
}

TEST(OriginalPath, LongChainsAndManyLoopsResolveInOnePass) {
    TDirectoryTable t;
    // 20000 folders each inside the next: a chain, then every 100th closes a loop.
    for (std::uint64_t n = 100; n < 20100; ++n)
        t.Note(n, 1, true, n % 100 == 99 ? Ref(n - 99, 1) : Ref(n + 1, 1), u"d");
    t.Link();
    const scan::TOriginalPath p = t.Resolve(Ref(100, 1));
    EXPECT_TRUE(p.Broken);
    EXPECT_EQ(p.Folders.size(), 100u);
}

}  // namespace
