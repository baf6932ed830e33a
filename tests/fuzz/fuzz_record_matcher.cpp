// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the record matcher as a stretch of disk, once
// whole and once in overlapping reads of a size the input picks. Both must
// find the same records, each inside the stretch, on a 512-byte boundary,
// of a known size; nothing may read outside its buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "ntfs/record_matcher.h"

namespace {

std::vector<ntfs::TFoundRecord> Match(const std::uint8_t* data, std::size_t size, std::uint64_t base,
                                      std::size_t readSize) {
    std::vector<ntfs::TFoundRecord> found;
    const auto sink = [&](const ntfs::TFoundRecord& r) { found.push_back(r); };
    std::size_t pos = 0;
    for (;;) {
        const std::size_t n = readSize < size - pos ? readSize : size - pos;
        const bool last = pos + n == size;
        // Each read on a buffer of its own, so a read past it is seen.
        const std::vector<std::uint8_t> buffer(data + pos, data + pos + n);
        const std::size_t done =
            ntfs::MatchRecords(ntfs::TByteView(buffer.data(), buffer.size()), base + pos, last, sink);
        if (last) break;
        if (done == 0 || done > n) std::abort();
        pos += done;
    }
    return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint64_t base = std::uint64_t{data[0]} * 97;  // also off a boundary
    const std::size_t readSize = ntfs::record_matcher::kMaxRecordSize + 1 + std::size_t{data[1]} * 61;
    data += 2;
    size -= 2;
    const auto whole = Match(data, size, base, size == 0 ? 1 : size);
    const auto split = Match(data, size, base, readSize);
    if (whole.size() != split.size()) std::abort();
    for (std::size_t i = 0; i < whole.size(); ++i) {
        const auto& r = whole[i];
        if (r.ByteOffset != split[i].ByteOffset || r.RecordSize != split[i].RecordSize) std::abort();
        if (r.ByteOffset % ntfs::record_matcher::kBoundary != 0 || r.ByteOffset < base) std::abort();
        if (r.RecordSize != 1024 && r.RecordSize != 4096) std::abort();
        if (r.ByteOffset - base + r.RecordSize > size) std::abort();
    }
    return 0;
}
