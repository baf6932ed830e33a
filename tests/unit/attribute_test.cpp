// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <vector>

#include "ntfs/attribute.h"
#include "ntfs/file_record.h"
#include "unit/record_builder.h"

using testing_support::PutLe;
using testing_support::TAttributeBuilder;
using testing_support::TRecordBuilder;

namespace {

const ntfs::TDISK_INFORMATION k512{1024, 4096, 512, 8};

std::vector<std::uint8_t> Fixed(TRecordBuilder b) {
    auto r = b.Build();
    EXPECT_TRUE(ntfs::ApplyFixups({r.data(), r.size()}, k512));
    return r;
}

ntfs::TByteView View(const std::vector<std::uint8_t>& v) {
    return {v.data(), v.size()};
}

std::u16string NameOf(const ntfs::TDynamicCharArray& attr) {
    const auto fn = ntfs::DecodeFileName(attr.View());
    return fn ? fn->FileName : u"<none>";
}

TEST(FindAttribute, FindsTheFirstOfItsType) {
    const auto rec = Fixed(TRecordBuilder()
                               .Add(TAttributeBuilder::StandardInformation(1, 2))
                               .Add(TAttributeBuilder::FileName(u"a.txt", 1))
                               .Add(TAttributeBuilder::Resident(0x80, {1, 2, 3}))
                               .Add(TAttributeBuilder::Resident(0x80, {4, 5})));
    const auto data = ntfs::FindAttribute(View(rec), 0x80, false);
    ASSERT_FALSE(data.Empty());
    const auto res = ntfs::DecodeResident(data.View());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->ValueLength, 3u);
    EXPECT_EQ(data.Size(), 0x20u);  // AttributeLength bytes
    EXPECT_TRUE(ntfs::FindAttribute(View(rec), 0x20, false).Empty());
    EXPECT_TRUE(ntfs::FindAttribute(View(rec), 0x90, false).Empty());
}

TEST(FindAttribute, NamespaceRuleSkipsDosNames) {
    const auto dosFirst = Fixed(TRecordBuilder()
                                    .Add(TAttributeBuilder::FileName(u"LONGFI~1.TXT", 2))
                                    .Add(TAttributeBuilder::FileName(u"long file name.txt", 1)));
    EXPECT_EQ(NameOf(ntfs::FindAttribute(View(dosFirst), 0x30, true)), u"long file name.txt");
    EXPECT_EQ(NameOf(ntfs::FindAttribute(View(dosFirst), 0x30, false)), u"LONGFI~1.TXT");

    const auto onlyDos = Fixed(TRecordBuilder().Add(TAttributeBuilder::FileName(u"SHORT.TXT", 2)));
    EXPECT_TRUE(ntfs::FindAttribute(View(onlyDos), 0x30, true).Empty());

    for (std::uint8_t ns : {std::uint8_t{0}, std::uint8_t{1}, std::uint8_t{3}}) {
        const auto r = Fixed(TRecordBuilder().Add(TAttributeBuilder::FileName(u"x", ns)));
        EXPECT_EQ(NameOf(ntfs::FindAttribute(View(r), 0x30, true)), u"x") << int(ns);
    }
    // Unknown namespaces are not accepted either.
    const auto odd = Fixed(TRecordBuilder()
                               .Add(TAttributeBuilder::FileName(u"odd", 7))
                               .Add(TAttributeBuilder::FileName(u"good", 0)));
    EXPECT_EQ(NameOf(ntfs::FindAttribute(View(odd), 0x30, true)), u"good");
    // The rule only concerns file names.
    const auto data = Fixed(TRecordBuilder().Add(TAttributeBuilder::Resident(0x80, {9})));
    EXPECT_FALSE(ntfs::FindAttribute(View(data), 0x80, true).Empty());
}

TEST(FindAttribute, CopyStopsAtTheImageEnd) {
    auto rec = Fixed(TRecordBuilder().Add(TAttributeBuilder::Resident(0x80, {1, 2, 3})));
    const std::size_t first = *ntfs::TByteView(View(rec)).U16(0x14);
    PutLe(rec, first + 4, 0x0001F000, 4);  // far past the record; low 16 bits 0xF000
    const auto data = ntfs::FindAttribute(View(rec), 0x80, false);
    EXPECT_EQ(data.Size(), rec.size() - first);
}

TEST(FindAttribute, WalksThatCannotAdvanceEndEmpty) {
    // A zero length before the sought attribute.
    auto rec = Fixed(TRecordBuilder()
                         .Add(TAttributeBuilder::StandardInformation(1, 2))
                         .Add(TAttributeBuilder::Resident(0x80, {1})));
    const std::size_t first = *ntfs::TByteView(View(rec)).U16(0x14);
    PutLe(rec, first + 4, 0, 4);
    EXPECT_TRUE(ntfs::FindAttribute(View(rec), 0x80, false).Empty());
    // Low 16 bits zero, high bits not: still no progress.
    PutLe(rec, first + 4, 0x00010000, 4);
    EXPECT_TRUE(ntfs::FindAttribute(View(rec), 0x80, false).Empty());

    // A first-attribute offset past the end, or too close to it.
    auto r2 = Fixed(TRecordBuilder().Add(TAttributeBuilder::Resident(0x80, {1})));
    PutLe(r2, 0x14, 0xFFF0, 2);
    EXPECT_TRUE(ntfs::FindAttribute(View(r2), 0x80, false).Empty());
    PutLe(r2, 0x14, static_cast<std::uint16_t>(r2.size() - 4), 2);
    EXPECT_TRUE(ntfs::FindAttribute(View(r2), 0x80, false).Empty());

    // A record of nothing but a header.
    std::vector<std::uint8_t> bare = {'F', 'I', 'L', 'E'};
    EXPECT_TRUE(ntfs::FindAttribute(View(bare), 0x80, false).Empty());
}

TEST(FindAttribute, NamespaceByteBeyondTheImageIsNotAccepted) {
    auto fn = TAttributeBuilder::FileName(u"abc", 1);
    fn.resize(0x59);  // ends just before the namespace byte
    PutLe(fn, 4, 0x59, 4);
    const auto found = ntfs::FindAttribute(View(fn), 0x30, true);
    EXPECT_TRUE(found.Empty());
    EXPECT_FALSE(ntfs::FindAttribute(View(fn), 0x30, false).Empty());
}

TEST(FindAttribute, ImageWithoutSignatureIsWalkedFromItsFirstByte) {
    auto run = TAttributeBuilder::Resident(0x80, {5, 6, 7});
    const auto end = std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    run.insert(run.end(), end.begin(), end.end());
    const auto found = ntfs::FindAttribute(View(run), 0x80, false);
    ASSERT_EQ(found.Size(), 0x20u);
    EXPECT_EQ(found[0x18], 5);
}

TEST(Decoders, StandardInformationAndFileName) {
    const auto si = TAttributeBuilder::StandardInformation(0x01D0000000000001ull, 0x01D0000000000002ull);
    const auto v = ntfs::DecodeStandardInformation(View(si));
    ASSERT_TRUE(v);
    EXPECT_EQ(v->CreationTime, 0x01D0000000000001ull);
    EXPECT_EQ(v->ModificationTime, 0x01D0000000000002ull);
    EXPECT_FALSE(ntfs::DecodeStandardInformation({si.data(), 0x27}));
    EXPECT_TRUE(ntfs::DecodeStandardInformation({si.data(), 0x28}));

    auto fn = TAttributeBuilder::FileName(u"r\u00e9sum\u00e9.txt", 3);
    auto name = ntfs::DecodeFileName(View(fn));
    ASSERT_TRUE(name);
    EXPECT_EQ(name->FileName, u"r\u00e9sum\u00e9.txt");
    EXPECT_EQ(name->FileNameNamespace, 3);
    // Cut inside the name: the whole units present, the odd byte dropped.
    name = ntfs::DecodeFileName({fn.data(), 0x5A + 5});
    ASSERT_TRUE(name);
    EXPECT_EQ(name->FileName, u"r\u00e9");
    EXPECT_FALSE(ntfs::DecodeFileName({fn.data(), 0x58}));
}

TEST(Decoders, ReportedDataSizeFollowsTheNonResidentByte) {
    const auto res = TAttributeBuilder::Resident(0x80, std::vector<std::uint8_t>(300, 1));
    EXPECT_EQ(ntfs::ReportedDataSize(View(res)), 300);
    const auto nonres = TAttributeBuilder::NonResident(0x80, {0x11, 0x04, 0x64, 0}, 0x123456789A, 0, 3);
    EXPECT_EQ(ntfs::ReportedDataSize(View(nonres)), 0x123456789A);
    // Cut inside DataSize: only the bytes present count.
    EXPECT_EQ(ntfs::ReportedDataSize({nonres.data(), 0x32}), 0x789A);
    // A NonResident byte of 2 selects 12 bytes at 80, of which the first 8 count.
    auto odd = nonres;
    odd[8] = 2;
    odd.resize(96, 0);
    PutLe(odd, 80, 0xFFFFFFFFFFFFFFFFull, 8);
    EXPECT_EQ(ntfs::ReportedDataSize(View(odd)), -1);
    EXPECT_FALSE(ntfs::ReportedDataSize({odd.data(), 8}));
    // A NonResident byte of 255 points far past any record: a size of 0.
    odd[8] = 255;
    EXPECT_EQ(ntfs::ReportedDataSize(View(odd)), 0);
}

TEST(Decoders, HeaderForms) {
    const auto nonres = TAttributeBuilder::NonResident(0x80, {0x11, 0x04, 0x64, 0}, 16384, 0, 3, 0x8001);
    const auto h = ntfs::DecodeAttributeHeader(View(nonres));
    ASSERT_TRUE(h);
    EXPECT_EQ(h->AttributeType, 0x80u);
    EXPECT_EQ(h->NonResident, 1);
    EXPECT_EQ(h->AttributeFlags, 0x8001);
    const auto n = ntfs::DecodeNonResident(View(nonres));
    ASSERT_TRUE(n);
    EXPECT_EQ(n->LastVcn, 3);
    EXPECT_EQ(n->RunListOffset, 0x40);
    EXPECT_EQ(n->DataSize, 16384);
    EXPECT_FALSE(ntfs::DecodeNonResident({nonres.data(), 0x37}));
    EXPECT_FALSE(ntfs::DecodeAttributeHeader({nonres.data(), 0x0D}));
    EXPECT_FALSE(ntfs::DecodeResident({nonres.data(), 0x15}));
}

}  // namespace
