// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/open_error.h"

namespace platform {

std::string OpenErrorText(TOpenError kind, int error) {
    switch (kind) {
        case TOpenError::NoSuchDrive:
            return "no such drive";
        case TOpenError::NoSuchDevice:
            return "no such device";
        case TOpenError::PermissionDenied:
            return "permission denied";
        case TOpenError::IsFolder:
            return "a folder, not a device or image";
        case TOpenError::Busy:
            return "device busy";
        case TOpenError::Other:
            break;
    }
    if (error == 0) return "does not open";
    return SystemErrorText(error);
}

std::unique_ptr<TRawVolume> OpenFailed(TOpenFailure* why, const std::string& path, TOpenError kind,
                                       int error) {
    if (why != nullptr) *why = {kind, error, path, OpenErrorText(kind, error)};
    return nullptr;
}

}  // namespace platform
