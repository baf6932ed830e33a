// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>

#include "platform/rename_file.h"

namespace platform {

bool RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
    return MoveFileW(from.c_str(), to.c_str()) != 0;  // never replaces an existing file
}

bool IsRunningImage(const std::filesystem::path&) {
    return false;  // the system itself refuses to replace a running image
}

}  // namespace platform
