// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <vector>

#include "ntfs/file_record.h"
#include "unit/record_builder.h"

using testing_support::PutLe;
using testing_support::TAttributeBuilder;
using testing_support::TRecordBuilder;

namespace {

const ntfs::TDISK_INFORMATION k512{1024, 4096, 512, 8};
const ntfs::TDISK_INFORMATION k4K{4096, 4096, 4096, 1};

bool Fix(std::vector<std::uint8_t>& r, const ntfs::TDISK_INFORMATION& g = k512) {
    return ntfs::ApplyFixups({r.data(), r.size()}, g);
}

// A record whose sector ends hold recognisable bytes, so restoring them shows.
std::vector<std::uint8_t> MarkedRecord(std::size_t size) {
    TRecordBuilder b(size);
    std::vector<std::uint8_t> filler(size - 0x80, 0);
    for (std::size_t i = 0; i < filler.size(); ++i) filler[i] = static_cast<std::uint8_t>(i * 7 + 3);
    // One large resident attribute spans the sector ends.
    b.Add(TAttributeBuilder::Resident(0x80, filler));
    auto r = b.Build();
    return r;
}

TEST(Fixups, RestoresEverySectorEnd) {
    auto onDisk = MarkedRecord(1024);
    EXPECT_EQ(onDisk[510], 0x07);  // the sequence number sits at every sector end
    EXPECT_EQ(onDisk[1023], 0x00);
    const std::uint16_t usa = static_cast<std::uint16_t>(onDisk[4] | onDisk[5] << 8);
    const std::uint8_t want510 = onDisk[usa + 2], want511 = onDisk[usa + 3];
    const std::uint8_t want1022 = onDisk[usa + 4], want1023 = onDisk[usa + 5];
    ASSERT_TRUE(Fix(onDisk));
    EXPECT_EQ(onDisk[510], want510);
    EXPECT_EQ(onDisk[511], want511);
    EXPECT_EQ(onDisk[1022], want1022);
    EXPECT_EQ(onDisk[1023], want1023);
}

TEST(Fixups, TornSecondSectorFailsAfterFirstIsRestored) {
    auto rec = MarkedRecord(1024);
    const std::uint16_t usa = static_cast<std::uint16_t>(rec[4] | rec[5] << 8);
    const std::uint8_t want510 = rec[usa + 2];
    rec[1023] ^= 0xFF;
    EXPECT_FALSE(Fix(rec));
    EXPECT_EQ(rec[510], want510);  // the first sector stays restored
}

TEST(Fixups, NotAFileRecordIsLeftUnchanged) {
    for (const char* sig : {"BAAD", "file", "\0\0\0\0", "FILF"}) {
        auto rec = MarkedRecord(1024);
        std::copy(sig, sig + 4, rec.begin());
        const auto before = rec;
        EXPECT_FALSE(Fix(rec));
        EXPECT_EQ(rec, before);
    }
}

TEST(Fixups, AnEntryCountOtherThanOnePerStretchIsDamage) {
    // The count must be the record's stretches plus one: a lower count would
    // leave the stretches past it unchecked, so a record torn there would
    // read as whole. The image is left as it lay.
    struct TCase {
        std::size_t size;
        std::uint16_t count;
        std::size_t tornAt;  // a stretch end past the lower count, torn as well (0: none)
    };
    const TCase cases[] = {
        {1024, 0, 0},    {1024, 1, 0}, {1024, 2, 1023}, {1024, 4, 0},      {4096, 2, 2559},
        {4096, 8, 4095}, {4096, 3, 0}, {4096, 10, 0},   {4096, 0xFFFF, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " bytes, count " << c.count);
        auto rec = MarkedRecord(c.size);
        PutLe(rec, 0x06, c.count, 2);
        if (c.tornAt != 0) rec[c.tornAt] ^= 0x5A;
        const auto before = rec;
        EXPECT_FALSE(Fix(rec, c.size == 4096 ? k4K : k512));
        EXPECT_EQ(rec, before);
    }
    // A 512-byte record has two entries and is whole with them; no image
    // that is not a whole number of stretches is a record.
    auto half = MarkedRecord(512);
    EXPECT_EQ(half[6], 2);
    EXPECT_TRUE(Fix(half));
    auto odd = MarkedRecord(1024);
    odd.resize(1000);
    PutLe(odd, 0x06, 2, 2);
    EXPECT_FALSE(Fix(odd));
}

TEST(Fixups, BoundsAreCheckedBeforeAnyChange) {
    // Shorter than the header.
    std::vector<std::uint8_t> tiny = {'F', 'I', 'L', 'E', 0x30, 0, 3, 0};
    EXPECT_FALSE(Fix(tiny));

    // Array reaching past the image.
    auto rec = MarkedRecord(1024);
    PutLe(rec, 0x04, 1020, 2);
    auto before = rec;
    EXPECT_FALSE(Fix(rec));
    EXPECT_EQ(rec, before);

    // Array at the very end of the 16-bit range on a small image.
    rec = MarkedRecord(1024);
    PutLe(rec, 0x04, 0xFFFF, 2);
    PutLe(rec, 0x06, 0xFFFF, 2);
    EXPECT_FALSE(Fix(rec));
}

TEST(Fixups, StrideIs512WhateverTheSectorSize) {
    // A 4096-byte record on a 4096-byte-sector volume carries 9 entries, one
    // per 512 bytes; with a 4096-byte stride every such record would fail.
    auto rec = MarkedRecord(4096);
    EXPECT_EQ(rec[6], 9);
    const std::uint16_t usa = static_cast<std::uint16_t>(rec[4] | rec[5] << 8);
    const std::uint8_t want4094 = rec[usa + 16];
    ASSERT_TRUE(Fix(rec, k4K));
    EXPECT_EQ(rec[4094], want4094);

    auto torn = MarkedRecord(4096);
    torn[2559] ^= 0x01;  // the fifth 512-byte stretch
    EXPECT_FALSE(Fix(torn, k4K));
}

TEST(RecordHeader, DecodesFlags) {
    auto rec = TRecordBuilder(1024).Flags(0x0002).Build();
    ASSERT_TRUE(Fix(rec));
    const auto h = ntfs::DecodeRecordHeader({rec.data(), rec.size()});
    ASSERT_TRUE(h);
    EXPECT_EQ(h->RecordFlags, 0x0002);
    EXPECT_EQ(h->UsaCount, 3);
    EXPECT_FALSE(ntfs::DecodeRecordHeader({rec.data(), 47}));
}

}  // namespace
