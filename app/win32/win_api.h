// SPDX-License-Identifier: GPL-3.0-or-later
// The Win32 headers, as every file of the window includes them.
#pragma once

#include <windows.h>

#include <commctrl.h>

// <dlgs.h>, which <windows.h> pulls in, names the common dialogs' controls
// with macros; one of them is the name of our search box.
#ifdef edt1
#undef edt1
#endif
