// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <random>

#include "platform/memory_volume.h"
#include "scan/scan_session.h"
#include "unit/volume_builder.h"

using testing_support::TAttributeBuilder;
using testing_support::TRecordBuilder;
using testing_support::TVolumeBuilder;
using testing_support::TVolumeLayout;

namespace {

// The engine's walk as the session reports it.
struct TCollect : scan::TQuietScanSink {
    std::vector<scan::DeletedFileEntry> rows;
    std::uint64_t progress = 0;
    std::atomic<bool>* stopAfter = nullptr;
    std::uint64_t stopAt = 0;
    void OnProgress(std::uint64_t done) override {
        EXPECT_EQ(done, progress + 1);  // once per record, in order
        progress = done;
        if (stopAfter && done == stopAt) stopAfter->store(true);
    }
    void OnFound(const scan::DeletedFileEntry& e) override { rows.push_back(e); }
};

struct TScanResult {
    scan::TScanOutcome outcome;
    std::vector<scan::DeletedFileEntry> rows;
    std::uint64_t records = 0;
    std::uint64_t progress = 0;
    std::string mftSize;
};

TScanResult Scan(std::vector<std::uint8_t> bytes, std::atomic<bool>* stop = nullptr,
                 std::uint64_t stopAt = 0) {
    scan::TScanOptions options;
    options.KeepRows = false;
    scan::TScanSession session(std::make_unique<platform::TMemoryVolume>(std::move(bytes)), options);
    TCollect sink;
    std::atomic<bool> never{false};
    sink.stopAfter = stop;
    sink.stopAt = stopAt;
    TScanResult r;
    const auto result = session.Run(stop ? *stop : never, sink);
    r.outcome = result->Outcome;
    r.rows = std::move(sink.rows);
    r.records = result->Facts.RecordCount;
    r.progress = sink.progress;
    r.mftSize = "MFT大小 : " + std::to_string(result->Facts.MftBytes) + " Byte";
    return r;
}

std::vector<std::string> Names(const TScanResult& r) {
    std::vector<std::string> names;
    for (const auto& row : r.rows) names.push_back(row.NameText);
    return names;
}

class ScanEngine : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
};

TEST_F(ScanEngine, ListsOnlyDeletedFilesWithAllThreeAttributes) {
    TVolumeBuilder v;
    v.Put(16, TVolumeBuilder::DeletedFile(u"report.docx", 100));
    v.Put(17, TRecordBuilder()
                  .Flags(1)  // in use
                  .Add(TAttributeBuilder::StandardInformation(1, 1))
                  .Add(TAttributeBuilder::FileName(u"live.txt", 1))
                  .Add(TAttributeBuilder::Resident(0x80, {1}))
                  .Build());
    v.Put(18, TRecordBuilder()
                  .Flags(2)  // deleted directory
                  .Add(TAttributeBuilder::StandardInformation(1, 1))
                  .Add(TAttributeBuilder::FileName(u"olddir", 1))
                  .Add(TAttributeBuilder::Resident(0x80, {1}))
                  .Build());
    v.Put(19, TRecordBuilder()  // only a DOS name
                  .Add(TAttributeBuilder::StandardInformation(1, 1))
                  .Add(TAttributeBuilder::FileName(u"SHORT~1.TXT", 2))
                  .Add(TAttributeBuilder::Resident(0x80, {1}))
                  .Build());
    v.Put(20, TRecordBuilder()  // DOS name first, then the long name
                  .Add(TAttributeBuilder::StandardInformation(1, 1))
                  .Add(TAttributeBuilder::FileName(u"ARCHIV~1.GZ", 2))
                  .Add(TAttributeBuilder::FileName(u"archive.tar.gz", 1))
                  .Add(TAttributeBuilder::NonResident(0x80, {0x11, 0x01, 0x40, 0x00}, 2048, 0, 0))
                  .Build());
    v.Put(21, TRecordBuilder()  // no $DATA
                  .Add(TAttributeBuilder::StandardInformation(1, 1))
                  .Add(TAttributeBuilder::FileName(u"nodata", 1))
                  .Build());
    v.Put(22, TRecordBuilder()  // no $STANDARD_INFORMATION
                  .Add(TAttributeBuilder::FileName(u"nosi", 1))
                  .Add(TAttributeBuilder::Resident(0x80, {1}))
                  .Build());
    auto torn = TVolumeBuilder::DeletedFile(u"torn.txt", 10);
    torn[1023] ^= 0xFF;
    v.Put(23, torn);
    v.Put(24, TVolumeBuilder::DeletedFile(u".profile", 0));
    v.Put(25, TVolumeBuilder::DeletedFile(u"noext", 2047));
    // The MFT's last cluster holds records 28..31: they count too.
    v.Put(31, TVolumeBuilder::DeletedFile(u"last.bin", 1048575));

    const auto r = Scan(v.Bytes());
    EXPECT_EQ(r.outcome, scan::TScanOutcome::Completed);
    EXPECT_EQ(r.records, 32u);
    EXPECT_EQ(r.progress, 16u);
    EXPECT_EQ(r.mftSize, "MFT大小 : 32768 Byte");
    ASSERT_EQ(Names(r),
              (std::vector<std::string>{"report.docx", "archive.tar.gz", ".profile", "noext", "last.bin"}));
    EXPECT_EQ(r.rows[0].Caption, "0x8000");  // 4 * 4096 + 16 * 1024
    EXPECT_EQ(r.rows[0].Extension, ".docx");
    EXPECT_EQ(r.rows[0].SizeText, "1 KB");
    EXPECT_EQ(r.rows[1].Extension, ".gz");
    EXPECT_EQ(r.rows[1].Size, 2048);
    EXPECT_EQ(r.rows[1].SizeText, "2 KB");
    EXPECT_EQ(r.rows[2].Extension, ".profile");
    EXPECT_EQ(r.rows[2].SizeText, "1 KB");
    EXPECT_EQ(r.rows[3].Extension, "");
    EXPECT_EQ(r.rows[4].Caption, "0xBC00");  // 4 * 4096 + 31 * 1024
    EXPECT_EQ(r.rows[4].Record, 31u);
    EXPECT_EQ(r.rows[4].SizeText, "1023 KB");
    EXPECT_EQ(r.rows[3].SizeText, "1 KB");  // 2047 bytes
}

TEST_F(ScanEngine, FragmentedMftIsWalkedWhereItLies) {
    TVolumeLayout layout;
    layout.mftRuns.emplace_back(4, 4);   // records 0..15
    layout.mftRuns.emplace_back(40, 2);  // 16..23
    layout.mftRuns.emplace_back(20, 2);  // 24..31
    TVolumeBuilder v(layout);
    v.Put(16, TVolumeBuilder::DeletedFile(u"second-extent.txt", 5));
    v.Put(25, TVolumeBuilder::DeletedFile(u"third-extent.txt", 5));
    // Where a contiguous reading would look for record 16: a decoy.
    std::vector<std::uint8_t>& bytes = v.Bytes();
    const auto decoy = TVolumeBuilder::DeletedFile(u"decoy.txt", 5);
    std::copy(decoy.begin(), decoy.end(), bytes.begin() + 4 * 4096 + 16 * 1024);
    const auto r = Scan(bytes);
    ASSERT_EQ(Names(r), (std::vector<std::string>{"second-extent.txt", "third-extent.txt"}));
    EXPECT_EQ(r.records, 32u);
    EXPECT_EQ(r.rows[0].Caption, "0x28000");  // LCN 40
    EXPECT_EQ(r.rows[1].Caption, "0x14400");  // LCN 20 + 1024: the second record of that extent
}

TEST_F(ScanEngine, MftRunsContinuedInAnExtensionRecord) {
    // Record 0's own $DATA covers VCNs 0..7 (records 0..31); its attribute
    // list names record 17, whose $DATA piece maps VCNs 8..9 to LCN 40.
    TVolumeBuilder v;
    std::vector<std::uint8_t> list;
    auto entry = [&](std::uint64_t vcn, std::uint64_t record) {
        std::vector<std::uint8_t> e(0x20, 0);
        testing_support::PutLe(e, 0x00, 0x80, 4);
        testing_support::PutLe(e, 0x04, 0x20, 2);
        e[0x07] = 0x1A;
        testing_support::PutLe(e, 0x08, vcn, 8);
        testing_support::PutLe(e, 0x10, record, 8);
        list.insert(list.end(), e.begin(), e.end());
    };
    entry(0, 0);
    entry(8, 17);
    v.Put(0, TRecordBuilder(1024)
                 .Flags(1)
                 .Add(TAttributeBuilder::StandardInformation(0, 0))
                 .Add(TAttributeBuilder::Resident(0x20, list))
                 .Add(TAttributeBuilder::FileName(u"$MFT", 3))
                 .Add(TAttributeBuilder::NonResident(0x80, testing_support::RunListBytes({{4, 8}}), 40 * 1024,
                                                     0, 7))
                 .Build());
    v.Put(17, TRecordBuilder(1024)
                  .Flags(1)
                  .Add(TAttributeBuilder::NonResident(0x80, testing_support::RunListBytes({{40, 2}}),
                                                      40 * 1024, 8, 9))
                  .Build());
    auto deleted = TVolumeBuilder::DeletedFile(u"beyond-the-base-runs.txt", 9);
    std::copy(deleted.begin(), deleted.end(), v.Bytes().begin() + 40 * 4096 + 1024);  // record 33
    const auto r = Scan(v.Bytes());
    EXPECT_EQ(r.records, 40u);
    ASSERT_EQ(Names(r), (std::vector<std::string>{"beyond-the-base-runs.txt"}));
    EXPECT_EQ(r.rows[0].Caption, "0x28400");
    EXPECT_EQ(r.rows[0].Record, 33u);
}

TEST_F(ScanEngine, QuietEnds) {
    {
        TVolumeBuilder v;
        v.Bytes()[3] = 'n';
        EXPECT_EQ(Scan(v.Bytes()).outcome, scan::TScanOutcome::NotNtfs);
    }
    {
        TVolumeBuilder v;
        v.Bytes()[4 * 4096 + 1023] ^= 0xFF;  // record 0 torn
        EXPECT_EQ(Scan(v.Bytes()).outcome, scan::TScanOutcome::Record0Unusable);
    }
    {
        TVolumeBuilder v;
        v.Put(0, TRecordBuilder().Flags(1).Add(TAttributeBuilder::StandardInformation(0, 0)).Build());
        EXPECT_EQ(Scan(v.Bytes()).outcome, scan::TScanOutcome::NoMftData);
    }
    for (std::uint16_t flags : {std::uint16_t{0x0001}, std::uint16_t{0x4000}, std::uint16_t{0x8000}}) {
        TVolumeLayout layout;
        layout.mftDataFlags = flags;
        TVolumeBuilder v(layout);
        EXPECT_EQ(Scan(v.Bytes()).outcome, scan::TScanOutcome::MftDataFlagged) << flags;
    }
    for (std::uint16_t flags : {std::uint16_t{0x4001}, std::uint16_t{0x8001}}) {
        TVolumeLayout layout;
        layout.mftDataFlags = flags;
        TVolumeBuilder v(layout);
        v.Put(16, TVolumeBuilder::DeletedFile(u"a", 1));
        EXPECT_EQ(Scan(v.Bytes()).rows.size(), 1u) << flags;
    }
    {
        // A record size that is no record size: refused before any allocation.
        TVolumeLayout layout;
        layout.clustersPerRecord = 0xE2;  // 2^30 bytes
        TVolumeBuilder v(layout);
        EXPECT_EQ(Scan(v.Bytes()).outcome, scan::TScanOutcome::Record0Unusable);
    }
}

TEST_F(ScanEngine, StopIsObeyedBeforeTheNextRecord) {
    TVolumeBuilder v;
    for (std::uint64_t n = 16; n < 32; ++n)
        v.Put(n, TVolumeBuilder::DeletedFile(u"f" + std::u16string(1, char16_t(u'a' + n - 16)), 1));
    std::atomic<bool> stop{false};
    auto r = Scan(v.Bytes(), &stop, 3);
    EXPECT_EQ(r.outcome, scan::TScanOutcome::Stopped);
    EXPECT_EQ(r.progress, 3u);
    EXPECT_EQ(r.rows.size(), 3u);  // the third record was finished, no fourth begun

    stop = true;  // requested before the walk: nothing is read
    r = Scan(v.Bytes(), &stop);
    EXPECT_EQ(r.outcome, scan::TScanOutcome::Stopped);
    EXPECT_TRUE(r.rows.empty());
    EXPECT_EQ(r.progress, 0u);
}

// The walk decodes on several threads when it is long enough; what the
// front end sees must not depend on it: the same rows, progress, counters
// and details in the same order, and a stop honoured before the next
// record, on whichever thread that record was decoded.
TEST_F(ScanEngine, ThreadedWalkMatchesTheSingleThreadedOne) {
    TVolumeLayout layout;
    layout.totalClusters = 700;
    layout.mftRuns = {{4, 300}, {400, 200}};  // 2,000 records in two extents
    TVolumeBuilder v(layout);
    const auto nameWithParent = [](const std::u16string& name, std::uint64_t parentReference) {
        auto attribute = TAttributeBuilder::FileName(name, 1);
        testing_support::PutLe(attribute, 0x18, parentReference, 8);
        return attribute;
    };
    for (std::uint64_t n = 16; n < 2000; ++n) {
        const std::u16string name = u"f" + std::u16string(1, char16_t(u'a' + n % 26)) +
                                    std::u16string(1, char16_t(u'a' + n / 26 % 26));
        if (n % 97 == 0) {  // a folder, in use, that the files below name as parent
            v.Put(n, TRecordBuilder()
                         .Flags(0x0003)
                         .Add(TAttributeBuilder::StandardInformation(0, 0))
                         .Add(nameWithParent(u"dir" + name, 5))
                         .Build());
        } else if (n % 53 == 0) {  // torn: fails its fixups
            auto record = TVolumeBuilder::DeletedFile(name, 10);
            record[510] ^= 0xFF;
            v.Put(n, record);
        } else if (n % 3 == 0) {
            const std::uint64_t folder = n / 97 * 97;
            v.Put(n, TRecordBuilder()
                         .Add(TAttributeBuilder::StandardInformation(133000000000000000ull + n,
                                                                     133000000000000000ull))
                         .Add(nameWithParent(name, folder >= 97 ? folder : 5))
                         .Add(TAttributeBuilder::Resident(0x80, std::vector<std::uint8_t>(n % 40, 0x5A)))
                         .Build());
        }
    }
    struct TRun {
        scan::TScanOutcome Outcome;
        std::vector<std::string> Rows;  // caption, name, times, path
        scan::TScanCounters Counters;
        std::uint64_t Progress = 0;
    };
    struct TDetailSink : TCollect {
        std::vector<std::string> paths;
        void OnDetails(std::size_t row, const scan::TRowDetails& d) override {
            EXPECT_EQ(row, paths.size());
            paths.push_back(d.Path + " " + std::to_string(static_cast<int>(d.Recoverability.Verdict)));
        }
    };
    // Read by the walking thread (a volume that allows one read at a time)
    // or by the workers themselves.
    struct TSharedBytes : platform::TMemoryVolume {
        using TMemoryVolume::TMemoryVolume;
        std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
            if (offset >= Bytes().size()) return 0;
            const auto n =
                static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), Bytes().size() - offset));
            std::copy_n(Bytes().begin() + static_cast<std::ptrdiff_t>(offset), n, out.begin());
            return n;
        }
        bool AllowsConcurrentReads() const override { return true; }
    };
    const auto run = [&](unsigned threads, std::uint64_t stopAt, bool concurrent = false) {
        scan::TScanOptions options;
        options.KeepRows = false;
        options.WalkThreads = threads;
        scan::TScanSession session(concurrent ? std::make_unique<TSharedBytes>(v.Bytes())
                                              : std::make_unique<platform::TMemoryVolume>(v.Bytes()),
                                   options);
        TDetailSink sink;
        std::atomic<bool> stop{false};
        if (stopAt != 0) {
            sink.stopAfter = &stop;
            sink.stopAt = stopAt;
        }
        TRun r;
        const auto result = session.Run(stop, sink);
        r.Outcome = result->Outcome;
        for (std::size_t i = 0; i < sink.rows.size(); ++i) {
            const auto& e = sink.rows[i];
            r.Rows.push_back(e.Caption + " " + e.NameText + " " + e.CreateTime + " " + e.LastTime + " " +
                             (i < sink.paths.size() ? sink.paths[i] : "-"));
        }
        r.Counters = result->Counters;
        r.Progress = sink.progress;
        return r;
    };

    for (const std::uint64_t stopAt :
         {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{300}, std::uint64_t{1500}}) {
        const TRun alone = run(1, stopAt);
        EXPECT_EQ(alone.Outcome, stopAt == 0 ? scan::TScanOutcome::Completed : scan::TScanOutcome::Stopped);
        if (stopAt == 0) {
            EXPECT_EQ(alone.Progress, 1984u);
            EXPECT_GT(alone.Rows.size(), 550u);
            EXPECT_GT(alone.Counters.FixupFailures, 10u);
        }
        for (const auto& [threads, concurrent] :
             {std::pair{2u, false}, {3u, false}, {2u, true}, {4u, true}}) {
            SCOPED_TRACE("threads " + std::to_string(threads) + (concurrent ? " reading" : "") +
                         ", stop at " + std::to_string(stopAt));
            const TRun many = run(threads, stopAt, concurrent);
            EXPECT_EQ(many.Outcome, alone.Outcome);
            EXPECT_EQ(many.Progress, alone.Progress);
            EXPECT_EQ(many.Rows, alone.Rows);
            EXPECT_EQ(many.Counters.RecordsWalked, alone.Counters.RecordsWalked);
            EXPECT_EQ(many.Counters.FixupFailures, alone.Counters.FixupFailures);
            EXPECT_EQ(many.Counters.InUseOrDirectory, alone.Counters.InUseOrDirectory);
            EXPECT_EQ(many.Counters.MissingAttributes, alone.Counters.MissingAttributes);
            EXPECT_EQ(many.Counters.Found, alone.Counters.Found);
        }
    }
}

TEST_F(ScanEngine, SixtyFourKiBClusters) {
    TVolumeLayout layout;
    layout.sectorsPerCluster = 128;
    layout.totalClusters = 16;
    layout.mftRuns.emplace_back(2, 1);  // 64 records in one 64 KiB cluster
    TVolumeBuilder v(layout);
    v.Put(63, TVolumeBuilder::DeletedFile(u"big-cluster.txt", 3));
    const auto r = Scan(v.Bytes());
    EXPECT_EQ(r.records, 64u);
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(r.rows[0].Caption, "0x2FC00");  // 2 * 65536 + 63 * 1024
}

TEST_F(ScanEngine, FourKiBSectorsWithNineFixupEntries) {
    TVolumeLayout layout;
    layout.bytesPerSector = 4096;
    layout.sectorsPerCluster = 1;
    layout.clustersPerRecord = 1;
    layout.recordSize = 4096;
    layout.mftRuns.emplace_back(4, 24);
    TVolumeBuilder v(layout);
    v.Put(20, TVolumeBuilder::DeletedFile(u"4k.txt", 3, 4096));
    const auto r = Scan(v.Bytes());
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(r.rows[0].Caption, "0x18000");
}

TEST_F(ScanEngine, DamagedMftExtentsNeverOutgrowTheVolume) {
    TVolumeBuilder v;
    // Record 0's run list claims 2^40 clusters.
    auto record0 =
        TRecordBuilder(1024)
            .Flags(1)
            .Add(TAttributeBuilder::StandardInformation(0, 0))
            .Add(TAttributeBuilder::NonResident(
                0x80,
                testing_support::RunListBytes({std::make_pair(std::uint64_t{4}, std::uint64_t{1} << 40)}), 1,
                0, (1ll << 40) - 1))
            .Build();
    v.Put(0, record0);
    const auto r = Scan(v.Bytes());
    EXPECT_EQ(r.outcome, scan::TScanOutcome::Completed);
    EXPECT_LE(r.records, v.Bytes().size() / 1024);
}

TEST_F(ScanEngine, RandomDamageNeverCrashesOrHangs) {
    TVolumeBuilder v;
    for (std::uint64_t n = 16; n < 32; ++n)
        v.Put(n, TRecordBuilder()
                     .Add(TAttributeBuilder::StandardInformation(n, n))
                     .Add(TAttributeBuilder::FileName(u"n", 1))
                     .Add(TAttributeBuilder::NonResident(0x80, {0x11, 0x02, 0x30, 0x00}, 8000, 0, 1))
                     .Build());
    std::mt19937 rng(12345);
    const auto sound = v.Bytes();
    const std::size_t mftStart = 4 * 4096, mftEnd = mftStart + 32 * 1024;
    for (int round = 0; round < 300; ++round) {
        auto bytes = sound;
        const int flips = 1 + static_cast<int>(rng() % 64);
        for (int i = 0; i < flips; ++i) {
            // Mostly inside the MFT and the boot sector, where decoding happens.
            const std::size_t at = (rng() % 4 == 0) ? rng() % 512 : mftStart + rng() % (mftEnd - mftStart);
            bytes[at] = static_cast<std::uint8_t>(rng());
        }
        const auto r = Scan(bytes);
        EXPECT_LE(r.rows.size(), 32u);
    }
}

}  // namespace
