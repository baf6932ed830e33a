// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>

#include "platform/core_pin.h"

namespace platform {

TCorePin::TCorePin(unsigned index) {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) return;
    unsigned count = 0;
    for (DWORD core = 0; core < 8 * sizeof(DWORD_PTR); ++core)
        if ((process & (DWORD_PTR{1} << core)) != 0) ++count;
    if (count == 0) return;
    index %= count;
    unsigned seen = 0;
    for (DWORD core = 0; core < 8 * sizeof(DWORD_PTR); ++core) {
        if ((process & (DWORD_PTR{1} << core)) == 0) continue;
        if (seen++ != index) continue;
        const DWORD before = SetThreadIdealProcessor(GetCurrentThread(), core);
        if (before == static_cast<DWORD>(-1)) return;
        m_saved[0] = before;
        m_pinned = true;
        return;
    }
}

unsigned CurrentCoreIndex() {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    const DWORD now = GetCurrentProcessorNumber();
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) return 0;
    unsigned place = 0;
    for (DWORD core = 0; core < now && core < 8 * sizeof(DWORD_PTR); ++core)
        if ((process & (DWORD_PTR{1} << core)) != 0) ++place;
    return place;
}

TCorePin::~TCorePin() {
    if (m_pinned) SetThreadIdealProcessor(GetCurrentThread(), static_cast<DWORD>(m_saved[0]));
}

}  // namespace platform
