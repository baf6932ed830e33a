// SPDX-License-Identifier: GPL-3.0-or-later
// What lumbra-cli says about the engine's outcomes, in English.
#include <cstdio>

#include "cli/commands.h"

namespace cli {

const char* OutcomeText(scan::TScanOutcome outcome) {
    switch (outcome) {
        case scan::TScanOutcome::Completed:
            return "completed";
        case scan::TScanOutcome::Stopped:
            return "stopped";
        case scan::TScanOutcome::VolumeDidNotOpen:
            return "the volume does not open";
        case scan::TScanOutcome::NotNtfs:
            return "not an NTFS volume";
        case scan::TScanOutcome::Record0Unusable:
            return "MFT record 0 cannot be read or is damaged";
        case scan::TScanOutcome::NoMftData:
            return "MFT record 0 has no usable data attribute";
        case scan::TScanOutcome::MftDataFlagged:
            return "the MFT's data attribute is flagged compressed, encrypted or sparse";
    }
    return "unknown";
}

std::string MirroredRecordsText(std::uint8_t mirrored) {
    if (mirrored == 0) return {};
    std::string text = "MFT records read from $MFTMirr:";
    const char* separator = " ";
    for (unsigned n = 0; n < 8; ++n) {
        if ((mirrored & (1u << n)) == 0) continue;
        text += separator + std::to_string(n);
        separator = ", ";
    }
    return text;
}

const char* StatusText(recover::TRecoverStatus status) {
    switch (status) {
        case recover::TRecoverStatus::Written:
            return "written";
        case recover::TRecoverStatus::BadGeometry:
            return "volume geometry is unusable";
        case recover::TRecoverStatus::RecordUnreadable:
            return "record could not be read";
        case recover::TRecoverStatus::FixupsFailed:
            return "record is damaged (fixups failed)";
        case recover::TRecoverStatus::InUse:
            return "record is in use again";
        case recover::TRecoverStatus::NoData:
            return "record has no data attribute";
        case recover::TRecoverStatus::BadData:
            return "data attribute is damaged";
        case recover::TRecoverStatus::OutputFailed:
            return "output file could not be written";
    }
    return "unknown";
}

std::string OpenFailureText(const scan::TOpenFailure& failure) {
    std::string text = failure.Reason;
    if (failure.Kind == platform::TOpenError::PermissionDenied) {
#ifdef _WIN32
        text += ": run as administrator";
#else
        text += ": run with sudo or as a member of the disk group";
#endif
    }
    return text;
}

bool ScanReachedTheWalk(const scan::TScanResult& result, const std::string& source) {
    if (result.Outcome == scan::TScanOutcome::Completed || result.Outcome == scan::TScanOutcome::Stopped)
        return true;
    std::string why = OutcomeText(result.Outcome);
    if (result.SourceError != scan::TSourceError::None) {
        // A whole disk whose partition was not chosen, or does not exist: list them.
        std::fprintf(stderr, "lumbra-cli: %s: %s\n", source.c_str(),
                     scan::SourceErrorText(result.SourceError).c_str());
        for (const scan::TPartitionInfo& info : result.Partitions.Partitions)
            std::fprintf(stderr, "  %s\n", scan::PartitionLine(info).c_str());
        return false;
    }
    if (result.OpenFailure) {
        why = OpenFailureText(*result.OpenFailure);
        if (result.OpenFailure->Path != source) why += " (" + result.OpenFailure->Path + ")";
    }
    std::fprintf(stderr, "lumbra-cli: %s: %s\n", source.c_str(), why.c_str());
    return false;
}

void PrintCounters(const scan::TScanCounters& c) {
    std::fprintf(stderr,
                 "lumbra-cli: %llu records walked, %llu deleted files found, %llu records unreadable, "
                 "%llu records failing their fixups\n",
                 static_cast<unsigned long long>(c.RecordsWalked), static_cast<unsigned long long>(c.Found),
                 static_cast<unsigned long long>(c.ReadFailures),
                 static_cast<unsigned long long>(c.FixupFailures));
}

}  // namespace cli
