// SPDX-License-Identifier: GPL-3.0-or-later
#include <pthread.h>
#include <sched.h>

#include <cstring>

#include "platform/core_pin.h"

namespace platform {

static_assert(sizeof(cpu_set_t) <= sizeof(std::array<std::uint64_t, 16>));

TCorePin::TCorePin(unsigned index) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (pthread_getaffinity_np(pthread_self(), sizeof allowed, &allowed) != 0) return;
    const int count = CPU_COUNT(&allowed);
    if (count <= 0) return;
    index %= static_cast<unsigned>(count);
    unsigned seen = 0;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed)) continue;
        if (seen++ != index) continue;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        if (pthread_setaffinity_np(pthread_self(), sizeof one, &one) != 0) return;
        std::memcpy(m_saved.data(), &allowed, sizeof allowed);
        m_pinned = true;
        return;
    }
}

unsigned CurrentCoreIndex() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    const int now = sched_getcpu();
    if (now < 0 || pthread_getaffinity_np(pthread_self(), sizeof allowed, &allowed) != 0) return 0;
    unsigned place = 0;
    for (int cpu = 0; cpu < now && cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &allowed)) ++place;
    return place;
}

TCorePin::~TCorePin() {
    if (!m_pinned) return;
    cpu_set_t allowed;
    std::memcpy(&allowed, m_saved.data(), sizeof allowed);
    pthread_setaffinity_np(pthread_self(), sizeof allowed, &allowed);
}

}  // namespace platform
