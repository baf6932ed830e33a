// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/win32/single_instance.h"

#include "app/win32/win_api.h"

#include <string>

namespace win32app {

bool ClaimSingleInstance(std::wstring_view name) {
    // Not owned, no security attributes. The handle is never closed: the
    // mutex is the token, and it goes when the process goes.
    const std::wstring copy(name);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, copy.c_str());
    const DWORD error = GetLastError();
    (void)mutex;
    return error != ERROR_ALREADY_EXISTS;
}

bool IsSingleInstanceHeld(std::wstring_view name) {
    const std::wstring copy(name);
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, copy.c_str());
    if (mutex == nullptr) return false;
    CloseHandle(mutex);
    return true;
}

}  // namespace win32app
