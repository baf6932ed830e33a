// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>

#include "app/single_instance.h"

namespace app {

namespace {

std::wstring Wide(const std::string& name) {
    return std::wstring(name.begin(), name.end());
}

}  // namespace

bool ClaimSingleInstance(const std::string& name) {
    // Not owned, no security attributes. The handle is never closed: the
    // mutex is the token, and it goes when the process goes.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, Wide(name).c_str());
    const DWORD error = GetLastError();
    (void)mutex;
    return error != ERROR_ALREADY_EXISTS;
}

bool IsSingleInstanceHeld(const std::string& name) {
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, Wide(name).c_str());
    if (mutex == nullptr) return false;
    CloseHandle(mutex);
    return true;
}

}  // namespace app
