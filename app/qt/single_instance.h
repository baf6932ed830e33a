// SPDX-License-Identifier: GPL-3.0-or-later
// Only one copy of the program runs at a time.
//
// The token is a kernel object that lives exactly as long as the process that
// made it, an abstract-namespace Unix socket: it leaves nothing behind when a
// process dies, so a crash never locks the user out (a lock file would). The
// Win32 window has its own, a named mutex (app/win32/single_instance.h).
#pragma once

#include <string>

namespace app {

// The program's single-instance name.
inline constexpr const char* kInstanceName = "Tovelmark";

// Takes the token `name` for the rest of this process's life. False when
// another holder exists (another copy runs, or this process took it already).
// True when the token is ours, and also when it could not be made for any
// other reason: then the program runs without the single-instance rule.
bool ClaimSingleInstance(const std::string& name);

// Whether some process holds the token `name` now, without taking it.
bool IsSingleInstanceHeld(const std::string& name);

}  // namespace app
