// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/memory_volume.h"
#include "recover/recover_file.h"
#include "unit/record_builder.h"
#include "unit/recover_support.h"
#include "unit/volume_builder.h"

namespace {

using testing_support::PutLe;
using testing_support::TAttributeBuilder;
using testing_support::TRecordBuilder;
using Bytes = std::vector<std::uint8_t>;
using recover::TRecoverStatus;

constexpr std::uint32_t kCluster = 4096;
constexpr ntfs::TDISK_INFORMATION kGeometry{1024, kCluster, 512, 8};
constexpr std::uint64_t kBase = 3;        // in the MFT's first extent
constexpr std::uint64_t kExtension = 20;  // in its second extent
constexpr std::int64_t kDataSize = 6 * kCluster - 100;

Bytes ListEntry(std::uint32_t type, std::uint64_t vcn, std::uint64_t record) {
    Bytes e(0x20, 0);
    PutLe(e, 0x00, type, 4);
    PutLe(e, 0x04, 0x20, 2);
    e[0x07] = 0x1A;
    PutLe(e, 0x08, vcn, 8);
    PutLe(e, 0x10, record | (std::uint64_t{1} << 48), 8);
    return e;
}

// Sets the record's own number and its base record (0 for a base record),
// fields that lie outside the fixup positions.
Bytes Numbered(Bytes record, std::uint64_t number, std::uint64_t base) {
    PutLe(record, 0x2C, number, 4);
    PutLe(record, 0x20, base, 8);
    return record;
}

// A deleted file whose $DATA runs are split between its base record (VCN
// 0-1: LCN 30, 31) and an extension record (VCN 2-5: LCN 80-82, 200) that
// its $ATTRIBUTE_LIST names. The MFT lies in two extents, so the extension
// record is found only through the $MFT's run list.
class AttributeListFile : public ::testing::Test {
public:
    AttributeListFile() : builder(Layout()) {}

    static testing_support::TVolumeLayout Layout() {
        testing_support::TVolumeLayout layout;
        layout.totalClusters = 256;
        layout.mftRuns = {{4, 4}, {150, 4}};
        return layout;
    }

    void Build(std::uint64_t extensionBase = kBase) {
        builder = testing_support::TVolumeBuilder(Layout());
        // Data clusters with their own patterns, away from the MFT's extents.
        for (std::uint64_t lcn : {30, 31, 80, 81, 82, 200}) {
            const Bytes c = testing_support::ClusterBytes(lcn, kCluster);
            std::copy(c.begin(), c.end(),
                      builder.Bytes().begin() + static_cast<std::ptrdiff_t>(lcn * kCluster));
        }
        Bytes list;
        for (const auto& e :
             {ListEntry(0x10, 0, kBase), ListEntry(0x80, 0, kBase), ListEntry(0x80, 2, kExtension)})
            list.insert(list.end(), e.begin(), e.end());
        builder.Put(
            kBase,
            Numbered(TRecordBuilder(1024)
                         .Add(TAttributeBuilder::StandardInformation(0, 0))
                         .Add(TAttributeBuilder::Resident(0x20, list))
                         .Add(TAttributeBuilder::FileName(u"frag.bin", 1))
                         .Add(TAttributeBuilder::NonResident(0x80, {0x11, 0x02, 0x1E, 0x00}, kDataSize, 0, 1))
                         .Build(),
                     kBase, 0));
        builder.Put(kExtension, Numbered(TRecordBuilder(1024)
                                             .Add(TAttributeBuilder::NonResident(
                                                 0x80, {0x11, 0x03, 0x50, 0x11, 0x01, 0x78, 0x00}, 0, 2, 5))
                                             .Build(),
                                         kExtension, extensionBase));
    }

    recover::TRecoverResult Recover() {
        platform::TMemoryVolume volume(builder.Bytes());
        return recover::RecoverFileFromRecord(volume, builder.RecordOffset(kBase), kGeometry,
                                              dir.Path("out.bin"));
    }

    Bytes Expected(bool withExtension) {
        Bytes out;
        for (std::uint64_t lcn : {30, 31, 80, 81, 82, 200}) {
            const bool inBase = lcn < 80;
            const Bytes c = inBase || withExtension ? Bytes(builder.Bytes().begin() + lcn * kCluster,
                                                            builder.Bytes().begin() + (lcn + 1) * kCluster)
                                                    : Bytes(kCluster, 0);
            out.insert(out.end(), c.begin(), c.end());
        }
        out.resize(kDataSize);
        return out;
    }

    testing_support::TVolumeBuilder builder;
    testing_support::TScratchDir dir;
};

TEST_F(AttributeListFile, JoinsTheExtensionRecordsRuns) {
    Build();
    const auto r = Recover();
    ASSERT_EQ(r.Status, TRecoverStatus::Written);
    EXPECT_EQ(r.MissingBytes, 0u);
    EXPECT_EQ(testing_support::ReadFileBytes(dir.Path("out.bin")), Expected(true));
}

TEST_F(AttributeListFile, LostExtensionLeavesZerosOnlyThere) {
    struct TCase {
        const char* what;
        std::function<void(AttributeListFile&)> damage;
    };
    const std::vector<TCase> cases = {
        {"extension record given to another file", [](AttributeListFile& t) { t.Build(7); }},
        {"extension record torn",
         [](AttributeListFile& t) {
             t.Build();
             t.builder.Bytes()[t.builder.RecordOffset(kExtension) + 1022] ^= 0xFF;
         }},
        {"boot sector unreadable: the MFT cannot be located",
         [](AttributeListFile& t) {
             t.Build();
             std::fill_n(t.builder.Bytes().begin(), 512, 0);
         }},
    };
    for (const auto& c : cases) {
        c.damage(*this);
        const auto r = Recover();
        ASSERT_EQ(r.Status, TRecoverStatus::Written) << c.what;
        EXPECT_EQ(r.MissingBytes, static_cast<std::uint64_t>(kDataSize) - 2 * kCluster) << c.what;
        EXPECT_EQ(testing_support::ReadFileBytes(dir.Path("out.bin")), Expected(false)) << c.what;
    }
}

}  // namespace
