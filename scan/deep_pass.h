// SPDX-License-Identifier: GPL-3.0-or-later
// The deep pass: every MFT record on a whole source, found by its bytes.
//
// A quick format writes a new MFT over the first records of the old one and
// leaves the rest where they lay; a damaged MFT or a lost partition table
// leaves no MFT to walk at all. The pass therefore reads the whole source
// front to back in large sequential reads (the read is the cost, so the
// matching must keep up with it), finds every FILE record and every NTFS
// boot sector on the way, and keeps of each record only its place and
// header (TFoundRecord below: a few dozen bytes, whatever the source's size).
// Then it infers the file systems (ntfs/geometry_inference.h), keeps of the
// copies of one record (the mirror, an MFT that was moved) the one written
// last, leaves out the records the live MFT uses, and decodes the rest as
// the normal walk does, through attribute lists, into rows. Each row's path
// comes from the directory records of its own volume, the live MFT's and the
// found ones alike, read back once the copies are known.
//
// The pass works on an open source (a volume, a partition or a whole disk)
// and reads it only; it knows nothing of how the source was opened.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "ntfs/boot_sector.h"
#include "ntfs/geometry_inference.h"
#include "ntfs/mft_map.h"
#include "platform/raw_volume.h"
#include "scan/deleted_file_entry.h"
#include "scan/recoverability.h"

namespace scan {

// How a row's record was found.
enum class TDeepHow : std::uint8_t {
    LiveMft,    // a free record of its volume's live MFT, as the normal scan finds it
    OldMft,     // outside the live MFT: an older file system's (quick format, moved MFT)
    NoLiveMft,  // its volume has no MFT that can be walked
};

struct TDeepRow {
    // Caption and ByteOffset give the record's byte on the source; Record
    // its number in its own MFT; Details its Path, Folders and PathBroken
    // (its verdict is not judged).
    DeletedFileEntry Entry;
    std::uint32_t Volume = 0;  // index into TDeepResult::Volumes
    TDeepHow How = TDeepHow::OldMft;
    bool Lost = false;  // in use when last written ("lost"); false: "deleted"
};

struct TDeepCounters {
    std::uint64_t BytesRead = 0;
    std::uint64_t ReadFailures = 0;   // reads the source did not deliver whole (read as zeros)
    std::uint64_t RecordsFound = 0;   // FILE records that passed the matcher
    std::uint64_t BootSectors = 0;    // NTFS boot sectors found
    std::uint64_t Duplicates = 0;     // copies of a record that another copy outdated
    std::uint64_t LiveInUse = 0;      // in use in the live MFT: the normal file system's
    std::uint64_t Unplaced = 0;       // in no volume the pass could infer
    std::uint64_t SystemRecords = 0;  // records 0 to 15 of some MFT
    std::uint64_t NotFiles = 0;       // directories, extension records, no name or no $DATA
    std::uint64_t Rows = 0;
};

class TDeepSink {
public:
    virtual ~TDeepSink() = default;
    // After each read: bytes of the source done so far, of total.
    virtual void OnProgress(std::uint64_t bytesDone, std::uint64_t bytesTotal) = 0;
    // A sink that shows rows while the read goes on wants previews: after
    // each read, the files its records describe as they are found, decoded
    // in the geometry of the last boot sector before them (records in use
    // in that volume's live MFT left out). They are provisional: once the
    // read is over (OnVolumes) the rows that count come through OnRow, with
    // the copies weighed, each in the file system it belongs to.
    virtual bool WantsPreviews() const { return false; }
    virtual void OnPreview(const DeletedFileEntry& entry, bool lost) {
        (void)entry;
        (void)lost;
    }
    // Once the read is over: the file systems the rows' Volume indexes name.
    virtual void OnVolumes(const std::vector<ntfs::TInferredVolume>& volumes) { (void)volumes; }
    virtual void OnRow(TDeepRow&& row) = 0;
    // After the last row: the verdict of the row OnRow gave as number `row`
    // (from 0), judged against its volume's allocation bitmap now (none when
    // its MFT cannot be walked: "unknown") and the other rows of its volume.
    virtual void OnVerdict(std::size_t row, const TRecoverability& verdict) {
        (void)row;
        (void)verdict;
    }
};

// What a recovery needs of one inferred file system: its geometry, and the
// map its records' extension records are found through (the live MFT's
// when it can be walked, else the one its old record 0 describes).
struct TDeepVolume {
    ntfs::TDISK_INFORMATION Geometry{};
    ntfs::TMftMap Map;
    bool LiveMft = false;
    // The bytes of the source it spans from its start (to its backup boot
    // sector, or to the end of the source when its size is not known).
    std::uint64_t SpanBytes = 0;
};

struct TDeepResult {
    bool Stopped = false;  // the stop flag was seen; no rows were given
    std::vector<ntfs::TInferredVolume> Volumes;
    std::vector<TDeepVolume> Maps;  // one per volume
    TDeepCounters Counters;
    // What the found records took while the pass ran, at its peak: their
    // compact form with the larger of inference's and the copies' sort's
    // lists, the folders kept for the paths and the rows' cluster claims.
    // The pass's memory beyond its fixed buffers.
    std::uint64_t FoundRecordBytes = 0;
};

class TDeepPass {
public:
    // Bytes read at once: large enough that the device streams, small
    // enough to stay a fixed buffer.
    static constexpr std::size_t kReadBytes = 8u << 20;
    static constexpr std::uint64_t kFirstUserRecord = 16;
    // The rows' records are read again this many bytes at a time.
    static constexpr std::size_t kDecodeWindowBytes = 1u << 20;

    explicit TDeepPass(platform::TRawVolume& source) : m_source(source) {}

    // Reads the whole source; the stop flag is read before each read.
    TDeepResult Run(const std::atomic<bool>& stop, TDeepSink& sink);

private:
    platform::TRawVolume& m_source;
};

// "lost" or "deleted".
const char* DeepStateText(bool lost);
// "live MFT", "old MFT" or "no MFT".
const char* DeepHowText(TDeepHow how);

}  // namespace scan
