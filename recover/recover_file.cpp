// SPDX-License-Identifier: GPL-3.0-or-later
#include "recover/recover_file.h"

#include "recover/content_plan.h"
#include "recover/output_file.h"

namespace recover {

bool IsIoFailure(TRecoverStatus status) {
    return status == TRecoverStatus::VolumeNotOpened || status == TRecoverStatus::RecordUnreadable ||
           status == TRecoverStatus::OutputFailed;
}

std::optional<std::uint64_t> ParseCaption(std::string_view caption) {
    // The scan writes "0x"; the two characters are dropped whatever they are.
    if (caption.size() < 3) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : caption.substr(2)) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return std::nullopt;
        if (value > UINT64_MAX >> 4) return std::nullopt;  // more than 64 bits
        value = value << 4 | digit;
    }
    return value;
}

TRecoverResult RecoverFileFromRecord(platform::TRawVolume& volume, std::uint64_t recordOffset,
                                     const ntfs::TDISK_INFORMATION& geometry, const std::string& targetPath) {
    return WritePlannedFile(volume, PlanContent(volume, recordOffset, geometry), targetPath);
}

TRecoverResult WritePlannedFile(platform::TRawVolume& volume, const TContentPlan& plan,
                                const std::string& targetPath) {
    TRecoverResult result = plan.Result;
    if (result.Status != TRecoverStatus::Written) return result;

    // Every check passed: only now is a file created. Until Commit it is a
    // temporary file, removed again on any failure.
    const auto output = CreateOutputFile(targetPath);
    if (!output) {
        result.Status = TRecoverStatus::OutputFailed;
        result.OutputError = LastSystemError();
        return result;
    }
    const TWalkStats stats = WriteContent(volume, plan, *output);
    result.UnreadBytes = stats.UnreadBytes;
    result.MissingBytes = stats.MissingBytes;
    result.DamagedUnits = stats.DamagedUnits;
    result.ReusedBytes = stats.ReusedBytes;
    if (stats.WriteFailed || !output->Commit(plan.Size)) {
        result.Status = TRecoverStatus::OutputFailed;
        result.OutputError = output->Error();
        return result;
    }
    result.Bytes = plan.Size;
    return result;
}

TRecoverResult RecoverFileFromRecord(const std::string& drive, const std::string& caption,
                                     const ntfs::TDISK_INFORMATION& geometry, const std::string& targetPath) {
    TRecoverResult result;
    const auto offset = ParseCaption(caption);
    if (!offset) {
        result.Status = TRecoverStatus::BadCaption;
        return result;
    }
    const auto volume = platform::OpenRawVolume(drive);
    if (!volume) {
        result.Status = TRecoverStatus::VolumeNotOpened;
        return result;
    }
    return RecoverFileFromRecord(*volume, *offset, geometry, targetPath);
}

}  // namespace recover
