// SPDX-License-Identifier: GPL-3.0-or-later
// Whether an output folder lies on the volume a recovery reads.
//
// Files written to the volume being recovered take free clusters, and the
// clusters of deleted files are exactly the free ones: each file written
// there can overwrite the content of files still to be recovered. The
// recovery asks before it writes into such a folder.
#pragma once

#include <string>

namespace platform {

// True when `folder` (UTF-8) lies on the file system held by `source`: the
// device or image file a scan opened (scan::TScanSource::Resolved; Windows: a
// drive's raw device "\\.\D:", or its drive string).
// Windows: the folder's volume is the drive's volume. Linux: the folder's
// file system sits on the drive's block device, or on a loop device (or a
// partition of one) whose backing file is the drive's image. False when
// either cannot be examined: the answer is a warning, never a refusal.
bool FolderIsOnDrive(const std::string& folder, const std::string& source);

}  // namespace platform
