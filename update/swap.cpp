// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/swap.h"

#include <cstdio>
#include <fstream>
#include <random>
#include <system_error>

#include "platform/rename_file.h"
#include "update/sha256.h"

namespace update {

namespace {

namespace fs = std::filesystem;

// A fresh name beside the target, so the rename stays on one volume.
fs::path TemporaryBeside(const fs::path& target) {
    std::random_device random;
    fs::path name = target;
    name += ".new-" + std::to_string(random() % 1000000);
    return name;
}

TSwapResult Swap(THttpClient& client, const TSwapPlan& plan) {
    if (SchemeOf(plan.Request.Url) != TScheme::Https) return TSwapResult::NotHttps;
    TRequest request = plan.Request;
    request.AllowHttp = false;

    const fs::path temporary = TemporaryBeside(plan.Target);
    std::error_code ignored;
    TSha256 digest;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return TSwapResult::NotWritten;
        std::size_t total = 0;
        const bool fetched = client.Get(request, [&](std::span<const std::byte> bytes) {
            total += bytes.size();
            if (total > kMaxBody) return false;
            digest.Add({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
            out.write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<std::streamsize>(bytes.size()));
            return static_cast<bool>(out);
        });
        client.Disconnect();
        out.close();
        if (!fetched || !out) {
            fs::remove(temporary, ignored);
            return fetched ? TSwapResult::NotWritten : TSwapResult::DownloadFailed;
        }
    }
    if (plan.Sha256 && digest.Finish() != *plan.Sha256) {
        fs::remove(temporary, ignored);
        return TSwapResult::DigestMismatch;
    }
    fs::permissions(temporary,
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::owner_exec |
                        fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                        fs::perms::others_exec,
                    ignored);

    // Fails when there is no current one, or an old one already: both fine.
    platform::RenameNoReplace(plan.Target, plan.Old);
    TSwapResult result = TSwapResult::Swapped;
    if (plan.RefuseRunningImage && platform::IsRunningImage(plan.Target)) {
        result = TSwapResult::TargetInUse;
    } else {
        std::error_code error;
        fs::rename(temporary, plan.Target, error);
        if (error) result = TSwapResult::RenameFailed;
    }
    if (result != TSwapResult::Swapped) fs::remove(temporary, ignored);
    return result;
}

}  // namespace

TSwapResult DownloadAndSwap(THttpClient& client, const TSwapPlan& plan) {
    const TSwapResult result = Swap(client, plan);
    // Whatever failed, an old one with no current one beside it is put back
    // (this fails, harmlessly, while the target exists).
    if (result != TSwapResult::Swapped) platform::RenameNoReplace(plan.Old, plan.Target);
    return result;
}

}  // namespace update
