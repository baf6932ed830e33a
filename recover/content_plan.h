// SPDX-License-Identifier: GPL-3.0-or-later
// From a record's byte offset to a description of the file's content: the
// checks a record must pass before anything is written, and what to write.
// No output is touched here, so the steps can be run (and fuzzed) against a
// sink of any kind.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "ntfs/boot_sector.h"
#include "ntfs/data_runs.h"
#include "ntfs/mft_map.h"
#include "platform/raw_volume.h"
#include "recover/content_sink.h"
#include "recover/output_file.h"
#include "recover/recover_file.h"
#include "recover/run_walk.h"

namespace recover {

struct TContentPlan {
    // Status Written: the record passed every check and the content below is
    // to be written; any other status: nothing is to be written.
    TRecoverResult Result;
    bool Resident = false;
    std::vector<std::uint8_t> ResidentValue;  // the resident form's value
    std::vector<ntfs::TDataRun> Runs;         // the non-resident form's runs, absolute VCNs
    TContentLayout Layout;                    // how to walk them
    std::uint64_t Size = 0;                   // the file's size: the value's length, or DataSize
};

// Checks a record's image as read from the MFT (fixups not yet applied;
// they are applied in place) and decodes its first $DATA, following its
// $ATTRIBUTE_LIST to extension records through `map` when it has one.
TContentPlan PlanContent(platform::TRawVolume& volume, std::span<std::uint8_t> record,
                         const ntfs::TDISK_INFORMATION& geometry, const ntfs::TMftMap& map);

// Reads MFT record `recordNumber` through the scan's map (so a record that
// straddles two MFT extents is read whole), then plans it as above.
TContentPlan PlanMftRecord(platform::TRawVolume& volume, const ntfs::TMftMap& map, std::uint64_t recordNumber,
                           const ntfs::TDISK_INFORMATION& geometry);

// A record a deep scan found at `recordOffset` of the file system it belongs
// to (volume): read where it lies, whatever MFT now names that place, and
// planned as above, extension records through `map` (empty: none known).
// lost: it was in use when last written (a file of an older file system
// or of an MFT that cannot be walked), so its in-use flag is no sign that a
// live file holds it now.
TContentPlan PlanFoundRecord(platform::TRawVolume& volume, const ntfs::TMftMap& map,
                             std::uint64_t recordOffset, const ntfs::TDISK_INFORMATION& geometry, bool lost);

// A record found by its byte offset alone (a caption), with no scan behind
// it: the record is read contiguously there, and the MFT is located from
// the boot sector only when the record has an attribute list.
TContentPlan PlanContent(platform::TRawVolume& volume, std::uint64_t recordOffset,
                         const ntfs::TDISK_INFORMATION& geometry);

// Writes a planned content (Result.Status Written) to `sink`, up to plan.Size
// less the zero tail, which the sink's owner sets as the file's size. A
// run's grant (null: none) says which of it may be read.
TWalkStats WriteContent(platform::TRawVolume& volume, const TContentPlan& plan, TContentSink& sink,
                        const TClusterGrant* grant = nullptr);

// What a walk of the plan would read, for a run to decide on (nothing for a
// plan that writes nothing or is resident).
std::vector<TClusterSpan> ClustersToRead(const TContentPlan& plan, std::uint64_t volumeSize);

// Writes a plan whose checks passed to `targetPath` (UTF-8) through a
// temporary file that replaces the target only once complete; any other
// plan writes nothing and returns its status.
TRecoverResult WritePlannedFile(platform::TRawVolume& volume, const TContentPlan& plan,
                                const std::string& targetPath, const TClusterGrant* grant = nullptr);

// The same in two steps, so that the content can be written while earlier
// files are still being named: PrepareFile writes it to a temporary file in
// `folder`, CommitPreparedFile gives that file its name (once; the temporary
// file goes if it is never committed or the commit fails).
struct TPreparedFile {
    // Status Written: the content waits in Output; else why not (a failed
    // create or write is OutputFailed with its error).
    TRecoverResult Result;
    std::unique_ptr<TOutputFile> Output;
    std::uint64_t Size = 0;
};
TPreparedFile PrepareFile(platform::TRawVolume& volume, const TContentPlan& plan, const std::string& folder,
                          const TClusterGrant* grant = nullptr);
TRecoverResult CommitPreparedFile(TPreparedFile& file, const std::string& targetPath);

}  // namespace recover
