// SPDX-License-Identifier: GPL-3.0-or-later
// What both platforms' volume openers share when an open fails: the failure
// record and its short text. Only the system's own text for an error the
// kinds do not name differs by platform (SystemErrorText).
#pragma once

#include <memory>
#include <string>

#include "platform/raw_volume.h"

namespace platform {

// The system's text for errno (Linux) or GetLastError (Windows), lower-case
// first letter.
std::string SystemErrorText(int error);

// Fills *why (when given) and returns no volume.
std::unique_ptr<TRawVolume> OpenFailed(TOpenFailure* why, const std::string& path, TOpenError kind,
                                       int error);

}  // namespace platform
