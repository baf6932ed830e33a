// SPDX-License-Identifier: GPL-3.0-or-later
// A volume shared by several threads when it does not allow concurrent
// reads itself: one read at a time (a Windows device's sector reader keeps a
// buffer; a test's volume counts its reads).
#pragma once

#include <mutex>

#include "platform/raw_volume.h"

namespace platform {

class TLockedVolume : public TRawVolume {
public:
    explicit TLockedVolume(TRawVolume& inner) : m_inner(inner) {}
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_inner.ReadAt(offset, out);
    }
    std::uint64_t Size() const override { return m_inner.Size(); }
    bool AllowsConcurrentReads() const override { return true; }

private:
    TRawVolume& m_inner;
    std::mutex m_mutex;
};

}  // namespace platform
