// SPDX-License-Identifier: GPL-3.0-or-later
// The scan engine: one NTFS volume's deleted files, as the MFT still
// describes them.
//
// The engine runs in steps over a volume already open, so that a front end
// can show each fact as soon as it is known (the window updates its labels
// between the steps): read the boot sector, test the OEM identifier, derive the geometry,
// read MFT record 0, locate the MFT, then walk records 16 onward. Every way
// the run can end early is a distinct outcome.
//
// The walk reads the MFT extent by extent in large chunks (reading one record
// at a time costs about three times as much), on one thread per core for a
// long walk, and decodes the records from the buffer one by one: fixups,
// flags, then the standard-information, file-name and data attributes. Records are located through the $MFT's
// own run list, so a fragmented MFT is walked where it really lies, and each row's caption is the record's
// true byte offset.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "ntfs/boot_sector.h"
#include "ntfs/dynamic_char_array.h"
#include "ntfs/mft_map.h"
#include "platform/local_time.h"
#include "platform/raw_volume.h"
#include "scan/deleted_file_entry.h"
#include "scan/record_decoder.h"
#include "scan/row_details.h"

namespace scan {

enum class TScanOutcome {
    Completed,         // the walk reached the last record
    Stopped,           // a stop request was seen before a record
    VolumeDidNotOpen,  // quiet end: the device or image does not open
    NotNtfs,           // quiet end: the OEM identifier is not "NTFS"
    Record0Unusable,   // quiet end: MFT record 0 unreadable, or it fails its fixups
    NoMftData,         // quiet end: record 0 has no usable $DATA attribute
    MftDataFlagged,    // quiet end: record 0's $DATA is flagged exactly compressed, encrypted or sparse
};

// Counters of the walk: what was passed over and why. Damage ("corrupt") is
// kept apart from failed reads ("I/O").
struct TScanCounters {
    std::uint64_t RecordsWalked = 0;
    std::uint64_t ReadFailures = 0;   // records the volume did not deliver whole
    std::uint64_t FixupFailures = 0;  // not a FILE record, or torn
    std::uint64_t InUseOrDirectory = 0;
    std::uint64_t MissingAttributes = 0;
    std::uint64_t Found = 0;
};

// What the walk reports to its front end, in record order and never from
// two threads at once; a long walk shares its records among threads, so the
// calls may come from any of them (the one that called Walk among them).
class TScanSink {
public:
    virtual ~TScanSink() = default;
    // After each record: how many records of the walk are done.
    virtual void OnProgress(std::uint64_t recordsDone) = 0;
    virtual void OnFound(DeletedFileEntry&& entry) = 0;
    // After the walk, also a stopped one: the original path and the verdict
    // of the row that OnFound gave as number `row` (counting from 0), for
    // every row in order. The walk alone cannot tell them: a parent folder
    // may lie further on, and a later record may claim the same clusters.
    virtual void OnDetails(std::size_t row, TRowDetails&& details) {
        (void)row;
        (void)details;
    }
};

class TScanEngine {
public:
    // Scans `volume`, opened read-only by the caller (scan/volume_source.h),
    // which keeps it open for the engine's life.
    explicit TScanEngine(platform::TRawVolume& volume);
    ~TScanEngine();
    TScanEngine(const TScanEngine&) = delete;
    TScanEngine& operator=(const TScanEngine&) = delete;

    const ntfs::TBOOT_SECTOR& Boot() const { return m_boot; }
    bool MftByteOffsetValid() const { return m_mftOffsetValid; }
    // Reads the boot sector (a zero-filled buffer; bytes not read stay zero).
    void ReadBootSector();
    bool IsNtfs() const;
    // Geometry and the MFT's position from the boot sector.
    void DeriveGeometry();
    const ntfs::TDISK_INFORMATION& Geometry() const { return m_geometry; }
    // Reads record 0 and locates the MFT through its $DATA. On failure the
    // outcome says why (Record0Unusable, NoMftData, MftDataFlagged).
    std::optional<TScanOutcome> ReadMftLayout();
    std::uint64_t RecordCount() const { return m_recordCount; }
    std::uint64_t MftByteLength() const { return m_layout.Map.ByteLength(); }
    // The MFT's size as shown: no more than the volume can hold.
    std::uint64_t MftShownLength() const { return m_mftShownLength; }
    std::uint64_t MftByteOffset() const { return m_mftByteOffset; }
    const ntfs::TMftLayout& Layout() const { return m_layout; }
    // The number of records the walk visits (records 16 .. count - 1).
    std::uint64_t WalkLength() const {
        return m_recordCount > kFirstUserRecord ? m_recordCount - kFirstUserRecord : 0;
    }
    // Walks records 16 .. count - 1; the stop flag is read before each record.
    // Then gives every row found its details (TScanSink::OnDetails).
    // details false: no TScanSink::OnDetails, and none of their cost.
    TScanOutcome Walk(const std::atomic<bool>& stop, TScanSink& sink, bool details = true);
    // Threads that decode the walk's records while the walking thread reads
    // and hands them on: 0 (the default) one per core, at most four; 1
    // decodes on the walking thread alone. Rows, counters and details are
    // the same either way.
    void SetWalkThreads(unsigned threads) { m_walkThreads = threads; }
    const TScanCounters& Counters() const { return m_counters; }

    static constexpr std::uint64_t kFirstUserRecord = 16;
    // Bytes of the MFT read at once by the walk: many records per read, yet
    // few enough that the kernel's copy and the decoding that follows stay
    // in the CPU's cache (4 MiB chunks made the whole scan 1.5x slower).
    static constexpr std::size_t kChunkBytes = 64u << 10;
    // A walk shared among threads hands this many chunks from one thread to
    // the next at a time, so that the hand-overs cost little beside the
    // decoding.
    static constexpr std::size_t kChunksPerTurn = 8;
    // How long a walk thread watches for its turn before it sleeps.
    static constexpr std::chrono::microseconds kTurnSpin{200};

private:
    // details: null when the walk collects none.
    TScanOutcome WalkRecords(const std::atomic<bool>& stop, TScanSink& sink, TRowDetailsCollector* details);
    // Hands a decoded stretch on: counters, progress, rows, details. False
    // when the stop flag was seen first.
    bool Deliver(TDecodedStretch& stretch, const std::atomic<bool>& stop, TScanSink& sink,
                 TRowDetailsCollector* details);

    platform::TRawVolume& m_volume;
    ntfs::TDynamicCharArray m_bootSector;
    ntfs::TBOOT_SECTOR m_boot;
    ntfs::TDISK_INFORMATION m_geometry;
    std::uint64_t m_mftByteOffset = 0;
    bool m_mftOffsetValid = false;
    ntfs::TMftLayout m_layout;
    std::uint64_t m_recordCount = 0;
    std::uint64_t m_mftShownLength = 0;  // MftByteLength, no more than the volume holds
    TScanCounters m_counters;
    unsigned m_walkThreads = 0;
};

}  // namespace scan
