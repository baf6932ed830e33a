// SPDX-License-Identifier: GPL-3.0-or-later
// One scan of one volume, as every front end runs it.
//
// A session opens the source once (scan/volume_source.h), reads the boot
// sector, the geometry and the MFT's layout, then walks the records with a stop flag into a sink. The
// facts about the drive are reported as data as soon as they are known (the
// window shows them step by step); turning them into label texts is the
// front end's business. What the session learnt stays in its result: the
// source as it was resolved when the scan opened it, the geometry, the MFT
// map and the rows, each with its numeric byte offset and record number. A
// recovery reads the volume of its rows through that result, never through
// whatever the drive list shows at the time of the click.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ntfs/boot_sector.h"
#include "ntfs/mft_map.h"
#include "platform/raw_volume.h"
#include "scan/deep_pass.h"
#include "scan/deleted_file_entry.h"
#include "scan/scan_engine.h"
#include "scan/volume_source.h"

namespace scan {

// The drive's facts, as numbers. Each group is valid once the session has
// reported the stage that fills it.
struct TDriveFacts {
    // TScanStage::BootSector
    std::string Label;               // UTF-8; empty when there is none
    std::uint64_t SerialNumber = 0;  // the boot sector's volume serial
    std::string Oem;                 // the OEM identifier's first four characters
    // TScanStage::Geometry
    std::uint64_t VolumeBytes = 0;  // total sectors times bytes per sector, as the boot sector claims
    std::uint64_t MftByteOffset = 0;
    bool MftByteOffsetValid = false;
    // TScanStage::MftLayout
    std::uint64_t MftBytes = 0;
    std::uint64_t RecordCount = 0;
    // Bit n: MFT record n (0 to 3) was damaged and read from the $MFTMirr.
    std::uint8_t MirroredRecords = 0;
};

enum class TScanStage { BootSector, Geometry, MftLayout };

// Why a source did not open, as the platform layer tells it: Kind, Error
// (errno or GetLastError, 0 when unknown), Path and a short English Reason
// ("permission denied", "no such device", ...); a front end adds its advice.
using TOpenFailure = platform::TOpenFailure;

class TScanSessionSink {
public:
    virtual ~TScanSessionSink() = default;
    // A group of facts is known (in stage order; a run that ends early stops reporting).
    virtual void OnFacts(TScanStage stage, const TDriveFacts& facts) = 0;
    // The walk is about to begin over this many records.
    virtual void OnWalkStart(std::uint64_t walkLength) = 0;
    virtual void OnProgress(std::uint64_t recordsDone) = 0;
    // A found row; the session also keeps it in its result when asked to.
    virtual void OnFound(const DeletedFileEntry& entry) = 0;
    // A deep scan's rows are known once its read is over. A sink that
    // shows rows meanwhile wants previews: the files found so far, as the
    // read finds them, with no details and no place in the result. Once the
    // read is over OnPreviewsEnd comes, and then the rows that count, by
    // OnFound as for any scan.
    virtual bool WantsPreviews() const { return false; }
    virtual void OnPreview(const DeletedFileEntry& entry) { (void)entry; }
    virtual void OnPreviewsEnd() {}
    // After the walk: the original path and verdict of the row OnFound gave
    // as number `row` (from 0), for every row in order; the result's kept
    // rows already carry them.
    virtual void OnDetails(std::size_t row, const TRowDetails& details) {
        (void)row;
        (void)details;
    }
};

// A sink for a front end that wants only the result.
class TQuietScanSink : public TScanSessionSink {
public:
    void OnFacts(TScanStage, const TDriveFacts&) override {}
    void OnWalkStart(std::uint64_t) override {}
    void OnProgress(std::uint64_t) override {}
    void OnFound(const DeletedFileEntry&) override {}
};

struct TScanResult {
    TScanSource Source;
    // A source with a partition table: what it holds, and why no partition
    // was scanned (Outcome NotNtfs then) when none was chosen and there is
    // not exactly one NTFS partition, or the one chosen does not exist.
    TSourceLayout Partitions;
    TSourceError SourceError = TSourceError::None;
    TScanOutcome Outcome = TScanOutcome::VolumeDidNotOpen;
    std::optional<TOpenFailure> OpenFailure;  // set when Outcome is VolumeDidNotOpen
    TDriveFacts Facts;
    ntfs::TDISK_INFORMATION Geometry{};
    ntfs::TMftLayout Layout;
    std::vector<DeletedFileEntry> Rows;  // in record order; empty unless kept
    TScanCounters Counters;

    // A deep scan (TScanOptions::Deep): Source is the whole source as it
    // lies, each row's Caption and ByteOffset are its record's byte there,
    // and DeepRows (one per kept row) says in which of the file systems the
    // pass found (DeepVolumes) the row lives, and how it was found.
    struct TDeepRowFacts {
        std::uint32_t Volume = 0;  // into DeepVolumes
        TDeepHow How = TDeepHow::OldMft;
        bool Lost = false;
    };
    struct TFoundVolume {
        ntfs::TInferredVolume Found;
        TDeepVolume Read;
    };
    bool Deep = false;
    std::vector<TFoundVolume> DeepVolumes;
    std::vector<TDeepRowFacts> DeepRows;
    TDeepCounters DeepCounters;
};

struct TScanOptions {
    bool KeepRows = true;   // false: rows only reach the sink (a streaming command line)
    bool ReadLabel = true;  // false: the label is not read (it costs reads of the volume)
    // false: no row gets its path and verdict (OnDetails is never called);
    // output that shows neither skips the directory table and the bitmap.
    bool Details = true;
    // A whole disk with a partition table: the partition to scan, by its
    // number in the table; without one, its only NTFS partition.
    std::optional<std::uint32_t> Partition;
    // Threads that decode the walk's records (TScanEngine::SetWalkThreads):
    // 0, one per core.
    unsigned WalkThreads = 0;
    // The deep pass (scan/deep_pass.h) instead of the walk: the whole source
    // as it lies (a whole disk whole) is read for records by their bytes.
    // OnWalkStart and OnProgress then count MiB of the source, not records;
    // the facts are those of the source's first sector when it is an NTFS
    // boot sector (Geometry: VolumeBytes is the source's size) and rows come
    // once the read is over, their verdicts through OnDetails.
    bool Deep = false;
};

class TScanSession {
public:
    using TOptions = TScanOptions;
    // source: a drive string ("D:") or the path of an image file or device.
    explicit TScanSession(std::string source, TOptions options);
    TScanSession(std::string source) : TScanSession(std::move(source), TOptions{}) {}
    // An already open volume (tests, fuzzing), read as the volume itself.
    explicit TScanSession(std::unique_ptr<platform::TRawVolume> volume, TOptions options = TOptions{});
    // A source the caller opened already (to look at it first): the scan
    // reads that volume and takes its facts and label as they were found.
    // A second run opens the same source again.
    TScanSession(TOpenedSource opened, TOptions options);
    ~TScanSession();
    TScanSession(const TScanSession&) = delete;
    TScanSession& operator=(const TScanSession&) = delete;

    // Runs the whole scan; the stop flag is read before each record. The
    // result is shared so that a recovery can hold on to it while the window
    // starts the next scan.
    std::shared_ptr<const TScanResult> Run(const std::atomic<bool>& stop, TScanSessionSink& sink);

private:
    std::shared_ptr<const TScanResult> RunDeep(const std::atomic<bool>& stop, TScanSessionSink& sink,
                                               TOpenedSource opened, std::shared_ptr<TScanResult> result);

    TSourceRequest m_request;
    std::optional<TOpenedSource> m_opened;
    TOptions m_options;
};

}  // namespace scan
