// SPDX-License-Identifier: GPL-3.0-or-later
// The executable's download and swap: the new file is written beside the
// target under a temporary name, checked, and only then takes the target's
// name, the current one kept under the old name. Whatever fails leaves the
// current executable where and as it was.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>

#include "update/http_client.h"

namespace update {

struct TSwapPlan {
    // Fetched only over https; an http URL changes nothing.
    TRequest Request;
    // The file replaced, and the name the current one keeps. The current one
    // moves only when nothing has that name yet, so an older copy stays.
    std::filesystem::path Target;
    std::filesystem::path Old;
    // The digest the download must have, when one is published.
    std::optional<std::array<std::uint8_t, 32>> Sha256;
    // When set, a target that is the running process's image is left alone
    // (Windows cannot replace it, and the update behaves the same everywhere
    // it swaps a file other than its own).
    bool RefuseRunningImage = true;
};

enum class TSwapResult {
    Swapped,
    NotHttps,        // the URL is not https: nothing fetched
    DownloadFailed,  // no complete 2xx answer over a trusted connection
    DigestMismatch,  // the bytes are not the published ones: thrown away
    NotWritten,      // the temporary file could not be written
    TargetInUse,     // the target is the running image
    RenameFailed,
};

TSwapResult DownloadAndSwap(THttpClient& client, const TSwapPlan& plan);

}  // namespace update
