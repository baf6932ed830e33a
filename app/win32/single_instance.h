// SPDX-License-Identifier: GPL-3.0-or-later
// Only one copy of the Windows program runs at a time.
//
// The token is a named mutex, a kernel object that lives exactly as long as
// the process that made it: a crash never locks the user out, as a lock file
// would. wWinMain claims it before any window exists; the Windows tests claim
// it under names of their own.
#pragma once

#include <string_view>

namespace win32app {

// The program's single-instance name.
inline constexpr std::wstring_view kInstanceName = L"Tovelmark";

// Takes the token `name` for the rest of this process's life. False when
// another holder exists (another copy runs, or this process took it already).
// True when the token is ours, and also when it could not be made for any
// other reason: then the program runs without the single-instance rule.
bool ClaimSingleInstance(std::wstring_view name);

// Whether some process holds the token `name` now, without taking it.
bool IsSingleInstanceHeld(std::wstring_view name);

}  // namespace win32app
