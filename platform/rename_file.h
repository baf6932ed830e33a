// SPDX-License-Identifier: GPL-3.0-or-later
// The renames of the self-update. Both work on names relative to the working
// directory as well as on full paths.
#pragma once

#include <filesystem>

namespace platform {

// Renames `from` to `to`; fails, changing nothing, when `to` exists.
bool RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

// True when `path` is the image of the running process. Windows refuses to
// replace such a file on its own; Linux would let it be swapped, so the
// update asks first and behaves the same on both.
bool IsRunningImage(const std::filesystem::path& path);

}  // namespace platform
