// SPDX-License-Identifier: GPL-3.0-or-later
// Attribute lists on hand-built bytes: entries that are empty, cut short or
// run past the value, and lists whose extension records are lost, taken by
// another file, listed over and over, or overlap what is already covered.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ntfs/attribute.h"
#include "ntfs/attribute_list.h"
#include "platform/memory_volume.h"
#include "unit/record_builder.h"

namespace {

using testing_support::PutLe;
using testing_support::TAttributeBuilder;
using testing_support::TRecordBuilder;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kCluster = 4096;
constexpr ntfs::TDISK_INFORMATION kGeometry{1024, kCluster, 512, 8};

Bytes Entry(std::uint32_t type, std::uint64_t vcn, std::uint64_t record, std::uint16_t length = 0x20,
            std::uint8_t nameLength = 0, std::uint16_t sequence = 1) {
    Bytes e(length < 0x20 ? 0x20 : length, 0);
    PutLe(e, 0x00, type, 4);
    PutLe(e, 0x04, length, 2);
    e[0x06] = nameLength;
    e[0x07] = 0x1A;
    PutLe(e, 0x08, vcn, 8);
    PutLe(e, 0x10, record | (std::uint64_t{sequence} << 48), 8);
    return e;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(AttributeList, DecodeStopsAtTheFirstEntryThatCannotBeOne) {
    struct TWant {
        std::uint32_t type;
        std::uint64_t record;
    };
    struct TCase {
        const char* what;
        Bytes value;
        std::vector<TWant> entries;
    };
    const Bytes a = Entry(0x10, 0, 5);
    const Bytes b = Entry(0x80, 0, 9);
    const std::vector<TCase> cases = {
        {"nothing", {}, {}},
        {"two entries", Join({a, b}), {{0x10, 5}, {0x80, 9}}},
        {"an entry of length 0 ends the list", Join({a, Entry(0x30, 0, 6, 0), b}), {{0x10, 5}}},
        {"an entry shorter than its own fields", Join({a, Entry(0x30, 0, 6, 0x19), b}), {{0x10, 5}}},
        {"a value shorter than one entry", Bytes(a.begin(), a.begin() + 0x19), {}},
        {"trailing bytes shorter than an entry", Join({a, Bytes(b.begin(), b.begin() + 0x19)}), {{0x10, 5}}},
        // Its fields are all there; nothing past the value is read for it.
        {"an entry that claims bytes past the value",
         Join({a, Entry(0x80, 0, 9, 0x400)}),
         {{0x10, 5}, {0x80, 9}}},
        {"lengths that are no multiple of 8 still advance",
         Join({Entry(0x10, 0, 5, 0x21), b}),
         {{0x10, 5}, {0x80, 9}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        const auto got = ntfs::DecodeAttributeList({c.value.data(), c.value.size()});
        ASSERT_EQ(got.size(), c.entries.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].Type, c.entries[i].type) << i;
            EXPECT_EQ(got[i].Record, c.entries[i].record) << i;
        }
    }
    // The reference splits into 48 bits of record and 16 of sequence.
    const Bytes named = Entry(0x80, 0x1122334455667788ull, 0xABCDEF012345ull, 0x20, 4, 0xBEEF);
    const auto e = ntfs::DecodeAttributeList({named.data(), named.size()});
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].NameLength, 4);
    EXPECT_EQ(e[0].StartingVcn, 0x1122334455667788ull);
    EXPECT_EQ(e[0].Record, 0xABCDEF012345ull);
    EXPECT_EQ(e[0].Sequence, 0xBEEF);
}

constexpr std::uint64_t kBase = 3;
constexpr std::uint64_t kListLcn = 50;  // where a non-resident list lies

// An extension record of base record kBase (or of `base`) holding the run
// list piece from `vcn`; its $DATA may be resident instead.
Bytes Extension(const Bytes& runList, std::int64_t vcn, std::uint64_t base = kBase, bool resident = false) {
    Bytes r = TRecordBuilder(1024)
                  .Add(resident ? TAttributeBuilder::Resident(0x80, {'x'})
                                : TAttributeBuilder::NonResident(0x80, runList, 0, vcn, vcn + 1))
                  .Build();
    PutLe(r, 0x20, base | (std::uint64_t{1} << 48), 8);
    return r;
}

struct TCollectCase {
    const char* what;
    Bytes list;
    std::map<std::uint64_t, Bytes> records;                    // what the MFT holds
    std::vector<std::pair<std::uint64_t, std::int64_t>> runs;  // (VCN, LCN) of the joined runs
    std::map<std::uint64_t, int> reads;                        // records read, and how often
    bool residentList = true;
};

TEST(AttributeList, CollectJoinsOnlyTheRunsTheListTrulyOwns) {
    const Bytes at80 = {0x11, 0x02, 0x50, 0x00};
    const Bytes at200 = {0x11, 0x02, 0xC8, 0x00, 0x00};
    const Bytes base = Entry(0x80, 0, kBase);
    std::vector<TCollectCase> cases = {
        {"pieces in VCN order whatever the list's",
         Join({base, Entry(0x80, 4, 21), Entry(0x80, 2, 20)}),
         {{20, Extension(at80, 2)}, {21, Extension(at200, 4)}},
         {{0, 30}, {2, 80}, {4, 200}},
         {{20, 1}, {21, 1}}},
        {"a list kept outside the record",
         Join({base, Entry(0x80, 2, 20)}),
         {{20, Extension(at80, 2)}},
         {{0, 30}, {2, 80}},
         {{20, 1}},
         false},
        {"an extension record that cannot be read (or lies beyond the MFT) leaves its VCNs out",
         Join({base, Entry(0x80, 2, 20), Entry(0x80, 4, 0xFFFFFFFFFFFFull)}),
         {{20, Extension(at80, 2)}},
         {{0, 30}, {2, 80}},
         {{20, 1}, {0xFFFFFFFFFFFFull, 1}}},
        {"an extension record now another file's",
         Join({base, Entry(0x80, 2, 20), Entry(0x80, 4, 21)}),
         {{20, Extension(at80, 2)}, {21, Extension(at200, 4, 7)}},
         {{0, 30}, {2, 80}},
         {{20, 1}, {21, 1}}},
        {"one record listed again and again is read once",
         Join({base, Entry(0x80, 2, 20), Entry(0x80, 2, 20), Entry(0x80, 4, 20), Entry(0x80, 2, 20)}),
         {{20, Extension(at80, 2)}},
         {{0, 30}, {2, 80}},
         {{20, 1}}},
        {"the base record naming itself adds nothing",
         Join({base, Entry(0x80, 2, kBase)}),
         {},
         {{0, 30}},
         {{kBase, 1}}},
        {"a piece overlapping what is covered is dropped",
         Join({base, Entry(0x80, 1, 20), Entry(0x80, 4, 21)}),
         {{20, Extension(at80, 1)}, {21, Extension(at200, 4)}},
         {{0, 30}, {4, 200}},
         {{20, 1}, {21, 1}}},
        {"a piece claiming VCN 0 or less is no later piece",
         Join({base, Entry(0x80, 2, 20), Entry(0x80, 4, 21)}),
         {{20, Extension(at80, 0)}, {21, Extension(at200, -4)}},
         {{0, 30}},
         {{20, 1}, {21, 1}}},
        {"a resident $DATA in an extension record",
         Join({base, Entry(0x80, 2, 20)}),
         {{20, Extension(at80, 2, kBase, true)}},
         {{0, 30}},
         {{20, 1}}},
        {"named streams and other types are not followed",
         Join({base, Entry(0x80, 2, 20, 0x20, 3), Entry(0x30, 2, 21), Entry(0x10, 4, 22)}),
         {{20, Extension(at80, 2)}, {21, Extension(at80, 2)}, {22, Extension(at200, 4)}},
         {{0, 30}},
         {}},
    };
    for (const TCollectCase& c : cases) {
        SCOPED_TRACE(c.what);
        platform::TMemoryVolume volume(Bytes(64 * kCluster, 0));
        const Bytes listAttribute = c.residentList
                                        ? TAttributeBuilder::Resident(0x20, c.list)
                                        : TAttributeBuilder::NonResident(
                                              0x20, {0x11, 0x01, static_cast<std::uint8_t>(kListLcn), 0x00},
                                              static_cast<std::int64_t>(c.list.size()), 0, 0);
        if (!c.residentList)
            std::copy(c.list.begin(), c.list.end(), volume.Bytes().begin() + kListLcn * kCluster);
        Bytes baseRecord =
            TRecordBuilder(1024)
                .Add(TAttributeBuilder::StandardInformation(0, 0))
                .Add(listAttribute)
                .Add(TAttributeBuilder::NonResident(0x80, {0x11, 0x02, 0x1E, 0x00}, 6 * kCluster, 0, 1))
                .Build();
        PutLe(baseRecord, 0x2C, kBase, 4);
        std::map<std::uint64_t, Bytes> records = c.records;
        records[kBase] = baseRecord;

        std::map<std::uint64_t, int> reads;
        const ntfs::TRecordReader reader = [&](std::uint64_t n) -> std::optional<ntfs::TDynamicCharArray> {
            ++reads[n];
            const auto it = records.find(n);
            if (it == records.end()) return std::nullopt;
            return ntfs::TDynamicCharArray(it->second.data(), it->second.size());
        };
        const ntfs::TByteView view(baseRecord.data(), baseRecord.size());
        const ntfs::TByteView data = ntfs::LocateAttribute(view, 0x80, false);
        const ntfs::TRunList got = ntfs::CollectDataRuns(volume, baseRecord, data, kGeometry, reader);
        std::vector<std::pair<std::uint64_t, std::int64_t>> runs;
        for (const ntfs::TDataRun& run : got.Runs) runs.emplace_back(run.Vcn, run.Lcn);
        EXPECT_EQ(runs, c.runs);
        EXPECT_EQ(reads, c.reads);
    }
}

}  // namespace
