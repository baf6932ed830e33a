// SPDX-License-Identifier: GPL-3.0-or-later
#include "recover/target_name.h"

namespace recover {

TNameRules HostNameRules() {
    return TNameRules::Windows;
}

// Every file system Windows writes to names files by its rules.
TNameRules FolderNameRules(const std::string&) {
    return TNameRules::Windows;
}

bool OutputErrorMayBeTheName(int error) {
    // ERROR_HANDLE_DISK_FULL, ERROR_DISK_FULL, ERROR_FILE_TOO_LARGE, ERROR_WRITE_PROTECT, ERROR_CRC
    return error != 39 && error != 112 && error != 223 && error != 19 && error != 23;
}

// Names are made unique case-blind already; no second guard is needed here.
std::optional<std::pair<std::uint64_t, std::uint64_t>> FileIdentity(const std::string&) {
    return std::nullopt;
}

}  // namespace recover
