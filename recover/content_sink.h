// SPDX-License-Identifier: GPL-3.0-or-later
// Where a file's rebuilt content goes: positioned writes of the bytes that
// are known. Ranges never written read as zeros, so sparse runs and the zero
// tail of a file cost no writes (holes, where the output file system has them).
#pragma once

#include <cstdint>
#include <span>

namespace recover {

class TContentSink {
public:
    virtual ~TContentSink() = default;
    // Writes all of `bytes` at `offset` of the content; false when that failed.
    virtual bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) = 0;
};

}  // namespace recover
