// SPDX-License-Identifier: GPL-3.0-or-later
// The update check's settings and fixed texts. The check itself is part of
// TMainForm (FormShow, CheckForUpdate, DownloadUpdate, ShowWaitHint,
// HideWaitHint, in update_check.cpp).
//
// It runs once, on the UI thread, while the window is being shown and before
// it is first drawn: fetch the version file, keep it as "ver.txt", compare
// the second line with the running executable's file version, and on the
// user's consent download the new executable and swap it in as "Lumbra.exe",
// keeping the old one as "Lumbra.old". All names are relative to the working
// directory. No failure is ever shown.
//
// The executable comes only over https with the server's certificate checked,
// and, when the version file's third line publishes "sha256=<hex>", only with
// that digest; anything else leaves the current executable as it is.
// On Linux the file swapped is the program's own executable, the current one
// kept beside it with ".old" appended: "Lumbra.exe" is nothing there.
#pragma once

#include <QString>
#include <chrono>

#include "form/texts.h"

namespace app {

struct TUpdateSettings {
    // Where "/update/ver.txt" and "/update/Lumbra.exe" live, without a
    // trailing slash; empty for the URL built in (LUMBRA_UPDATE_URL).
    QString BaseUrl;
    // The version file is small: the whole request must end within this.
    std::chrono::milliseconds VersionLimit{10'000};
    // The download may take long, but not this long without a byte.
    std::chrono::milliseconds DownloadStallLimit{30'000};
    // Whose version counts as the running one; empty for this executable.
    QString ExecutablePath;
    // The file the download replaces; empty for "Lumbra.exe" in the working
    // directory on Windows and the program's own executable on Linux.
    QString TargetPath;
    // The certificates the https server must lead to; empty for the system's.
    QString CaFile;
};

// The update URL this build was configured with.
QString BuiltInUpdateUrl();

inline constexpr const char16_t* kUpdateQuestion = form::texts::kUpdateQuestion.data();
inline constexpr const char16_t* kWaitCaption = form::texts::kWaitCaption.data();
inline constexpr const char16_t* kWaitMessage = form::texts::kWaitMessage.data();

}  // namespace app
