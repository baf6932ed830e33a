// SPDX-License-Identifier: GPL-3.0-or-later
// Keeps the threads of one parallel job on distinct cores. Left alone, a
// new thread starts on its creator's core and a woken thread is often put
// beside its waker, so two threads that hand work to each other can share
// one core for a whole short job while the other core idles.
#pragma once

#include <array>
#include <cstdint>

namespace platform {

// Keeps the calling thread on the index-th core it may run on (counted
// among the cores it may use, from the first, round again past the last),
// until the pin ends; the thread's earlier cores are then given back. When
// the system refuses, nothing changes. On Windows it is the thread's ideal
// core, a hint the scheduler may pass over.
class TCorePin {
public:
    explicit TCorePin(unsigned index);
    ~TCorePin();
    TCorePin(const TCorePin&) = delete;
    TCorePin& operator=(const TCorePin&) = delete;

private:
    bool m_pinned = false;
    std::array<std::uint64_t, 16> m_saved{};  // the thread's cores before (1,024 of them at most)
};

// The calling thread's place among the cores it may use, as it runs now
// (0 when that cannot be told): a worker pinned one place on from it does
// not start beside its creator.
unsigned CurrentCoreIndex();

}  // namespace platform
