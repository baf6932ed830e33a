// From a record's byte offset to a description of the file's content: the
// checks a record must pass before anything is written, and what to write.
// No output is touched here, so the steps can be run (and fuzzed) against a
// sink of any kind.
#pragma once

#include <cstdint>
#include <vector>

#include "ntfs/boot_sector.h"
#include "ntfs/data_runs.h"
#include "platform/raw_volume.h"
#include "recover/content_sink.h"
#include "recover/recover_file.h"
#include "recover/run_walk.h"

namespace recover {

namespace content_plan {
// Larger records or clusters than NTFS has ever used are a damaged geometry,
// not something to allocate.
constexpr std::uint32_t kMaxRecordBytes = 64u << 10;
constexpr std::uint32_t kMaxClusterBytes = 2u << 20;
}  // namespace content_plan

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

// Reads the record at `recordOffset`, checks it and decodes its first $DATA
// (following its $ATTRIBUTE_LIST to extension records when it has one).
TContentPlan PlanContent(platform::TRawVolume& volume, std::uint64_t recordOffset,
                         const ntfs::TDISK_INFORMATION& geometry);

// Writes a planned content (Result.Status Written) to `sink`, up to plan.Size
// less the zero tail, which the sink's owner sets as the file's size.
TWalkStats WriteContent(platform::TRawVolume& volume, const TContentPlan& plan, TContentSink& sink);

}  // namespace recover
