// SPDX-License-Identifier: GPL-3.0-or-later
// The record matcher over a stretch of disk: real records of both sizes at
// every kind of boundary are found with what their headers say, look-alikes
// are not, and cutting the stretch into overlapping reads finds the same
// records exactly once.
#include <gtest/gtest.h>

#include "ntfs/record_matcher.h"
#include "unit/record_builder.h"

using testing_support::TAttributeBuilder;
using testing_support::TRecordBuilder;

namespace {

struct TPlaced {
    std::size_t at;
    std::vector<std::uint8_t> bytes;
    bool found;  // whether the matcher must report it
    std::uint32_t size;
    std::uint32_t self;
    std::uint64_t lsn;
    std::uint16_t flags;
};

std::vector<std::uint8_t> Mutated(std::vector<std::uint8_t> r, std::size_t off, std::uint8_t value) {
    r[off] = value;
    return r;
}

std::vector<TPlaced> Layout() {
    const auto name = TAttributeBuilder::FileName(u"a.txt", 1);
    const auto rec1k = [&](std::uint32_t self, std::uint64_t lsn, std::uint16_t flags) {
        return TRecordBuilder(1024).Self(self).Lsn(lsn).Flags(flags).Add(name).Build();
    };
    const auto rec4k = TRecordBuilder(4096).Self(77).Lsn(0x1234567890).Flags(3).Add(name).Build();
    std::vector<std::uint8_t> text(1024, 'x');
    std::copy_n("FILE", 4, text.begin());  // a text file that quotes the signature
    std::vector<std::uint8_t> oldHeader = rec1k(9, 1, 1);
    oldHeader[0x04] = 0x2A;  // the update sequence array where older headers keep it
    oldHeader[0x2A] = oldHeader[0x30];
    oldHeader[0x2B] = oldHeader[0x31];
    for (std::size_t i = 0; i < 4; ++i) oldHeader[0x2C + i] = oldHeader[0x32 + i];
    return {
        {0, rec1k(0, 10, 1), true, 1024, 0, 10, 1},
        {1024, rec1k(1, 11, 0), true, 1024, 1, 11, 0},
        {2560, rec1k(40, 12, 3), true, 1024, 40, 12, 3},  // on a 512- but not 1024-byte boundary
        {4096, Mutated(rec1k(5, 1, 1), 1023, 0xFF), false, 0, 0, 0, 0},  // torn second stretch
        {5120, Mutated(rec1k(5, 1, 1), 0x06, 5), false, 0, 0, 0, 0},     // array count of no size
        {6144, Mutated(rec1k(5, 1, 1), 0x1D, 0x10), false, 0, 0, 0, 0},  // allocated size lies
        {7168, Mutated(rec1k(5, 1, 1), 0x04, 0x10), false, 0, 0, 0, 0},  // array over the header
        {8192, text, false, 0, 0, 0, 0},
        {9216, rec4k, true, 4096, 77, 0x1234567890, 3},
        {13312, oldHeader, true, 1024, 0, 1, 1},
        {14336 + 512, rec1k(3, 2, 1), true, 1024, 3, 2, 1},  // ends the disk exactly
    };
}

std::vector<ntfs::TFoundRecord> MatchInReads(const std::vector<std::uint8_t>& disk, std::uint64_t base,
                                             std::size_t readSize) {
    std::vector<ntfs::TFoundRecord> found;
    const auto sink = [&](const ntfs::TFoundRecord& r) { found.push_back(r); };
    std::size_t pos = 0;
    for (;;) {
        const std::size_t n = std::min(readSize, disk.size() - pos);
        const bool last = pos + n == disk.size();
        const std::size_t done =
            ntfs::MatchRecords(ntfs::TByteView(disk.data() + pos, n), base + pos, last, sink);
        if (last) break;
        EXPECT_GT(done, 0u);  // a read of more than the largest record always moves on
        pos += done;
    }
    return found;
}

TEST(RecordMatcher, FindsEverySoundRecordOnceWhateverTheReads) {
    const auto layout = Layout();
    std::vector<std::uint8_t> disk(15360 + 512, 0xEE);
    for (const auto& p : layout)
        std::copy(p.bytes.begin(), p.bytes.end(), disk.begin() + static_cast<std::ptrdiff_t>(p.at));
    // The disk's first byte at an absolute offset past 4 GiB, 512-aligned.
    const std::uint64_t base = (std::uint64_t{5} << 32) + 512;

    std::vector<ntfs::TFoundRecord> want;
    for (const auto& p : layout) {
        if (!p.found) continue;
        ntfs::TFoundRecord r;
        r.ByteOffset = base + p.at;
        r.RecordSize = p.size;
        r.SelfNumber = p.self;
        r.Lsn = p.lsn;
        r.Flags = p.flags;
        want.push_back(r);
    }
    // Reads of one record and a bit, of odd sizes, and the whole disk at once.
    for (const std::size_t readSize : {std::size_t{4096 + 512}, std::size_t{4096 + 1000}, std::size_t{6000},
                                       std::size_t{9000}, disk.size()}) {
        SCOPED_TRACE(readSize);
        const auto got = MatchInReads(disk, base, readSize);
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].ByteOffset, want[i].ByteOffset);
            EXPECT_EQ(got[i].RecordSize, want[i].RecordSize);
            EXPECT_EQ(got[i].SelfNumber, want[i].SelfNumber);
            EXPECT_EQ(got[i].HasSelfNumber, got[i].ByteOffset != base + 13312);
            EXPECT_EQ(got[i].Lsn, want[i].Lsn);
            EXPECT_EQ(got[i].Flags, want[i].Flags);
            EXPECT_EQ(got[i].SequenceNumber, 1);
        }
    }
    // A disk that starts off a boundary looks only at the absolute boundaries.
    const auto shifted =
        MatchInReads(std::vector<std::uint8_t>(disk.begin() + 100, disk.end()), base + 100, 5000);
    ASSERT_EQ(shifted.size(), want.size() - 1);  // the record at the very start is cut off
    EXPECT_EQ(shifted.front().ByteOffset, base + 1024);
}

}  // namespace
