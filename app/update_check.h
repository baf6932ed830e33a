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
#pragma once

#include <QString>
#include <chrono>

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
};

// The update URL this build was configured with.
QString BuiltInUpdateUrl();

inline constexpr const char* kVersionFileName = "ver.txt";
inline constexpr const char* kExecutableName = "Lumbra.exe";
inline constexpr const char* kOldExecutableName = "Lumbra.old";
inline constexpr const char16_t* kUpdateQuestion =
    u"New version, update version does not affect the software license,can be assured to upgrade."
    u"Whether to update to the latest version\uFF1F";
inline constexpr const char16_t* kWaitCaption = u"Now Wait...";
inline constexpr const char16_t* kWaitMessage = u"Updating version\uFF0CPlease wait a moment...";

}  // namespace app
