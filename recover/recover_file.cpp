// SPDX-License-Identifier: GPL-3.0-or-later
#include "recover/recover_file.h"

#include "recover/content_plan.h"
#include "recover/output_file.h"

namespace recover {

bool IsIoFailure(TRecoverStatus status) {
    return status == TRecoverStatus::RecordUnreadable || status == TRecoverStatus::OutputFailed;
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

namespace {

// Writes a plan whose checks passed into `output` (empty: it could not be
// made); Status OutputFailed and Output empty when that failed.
TPreparedFile Prepare(platform::TRawVolume& volume, const TContentPlan& plan,
                      std::unique_ptr<TOutputFile> output, const TClusterGrant* grant) {
    const int createError = output ? 0 : LastSystemError();
    TPreparedFile file;
    file.Result = plan.Result;
    file.Size = plan.Size;
    if (!output) {
        file.Result.Status = TRecoverStatus::OutputFailed;
        file.Result.OutputError = createError;
        return file;
    }
    const TWalkStats stats = WriteContent(volume, plan, *output, grant);
    file.Result.UnreadBytes = stats.UnreadBytes;
    file.Result.MissingBytes = stats.MissingBytes;
    file.Result.DamagedUnits = stats.DamagedUnits;
    file.Result.ReusedBytes = stats.ReusedBytes;
    file.Result.TakenBytes = stats.TakenBytes;
    file.Result.BeyondBytes = stats.BeyondBytes;
    if (stats.WriteFailed) {
        file.Result.Status = TRecoverStatus::OutputFailed;
        file.Result.OutputError = output->Error();
        return file;
    }
    file.Output = std::move(output);
    return file;
}

}  // namespace

TPreparedFile PrepareFile(platform::TRawVolume& volume, const TContentPlan& plan, const std::string& folder,
                          const TClusterGrant* grant) {
    // Every check passed: only now is a file created. Until it is committed
    // it is a temporary file, removed again on any failure.
    if (plan.Result.Status != TRecoverStatus::Written) return TPreparedFile{plan.Result, nullptr, plan.Size};
    return Prepare(volume, plan, CreateOutputFileIn(folder), grant);
}

TRecoverResult CommitPreparedFile(TPreparedFile& file, const std::string& targetPath) {
    TRecoverResult result = file.Result;
    if (result.Status != TRecoverStatus::Written) return result;
    const std::unique_ptr<TOutputFile> output = std::move(file.Output);
    if (!output || !output->CommitAs(targetPath, file.Size)) {
        result.Status = TRecoverStatus::OutputFailed;
        result.OutputError = output ? output->Error() : 0;
        return result;
    }
    result.Bytes = file.Size;
    return result;
}

TRecoverResult WritePlannedFile(platform::TRawVolume& volume, const TContentPlan& plan,
                                const std::string& targetPath, const TClusterGrant* grant) {
    if (plan.Result.Status != TRecoverStatus::Written) return plan.Result;
    TPreparedFile file = Prepare(volume, plan, CreateOutputFile(targetPath), grant);
    return CommitPreparedFile(file, targetPath);
}

}  // namespace recover
