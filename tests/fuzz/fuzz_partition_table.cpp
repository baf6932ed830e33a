// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the partition-table reader as the first bytes of a
// disk: MBR entries, chains of extended boot records (loops included) and GPT
// headers with their entry arrays. Reads beyond the input fail as a short
// disk would. Nothing may read outside its buffer, hang or allocate without bound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ntfs/partition_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t reads = 0;
    const ntfs::TReadDisk read = [&](std::uint64_t offset, std::span<std::uint8_t> out) {
        if (++reads > 4 + ntfs::partition_table::kMaxLogical + 8) std::abort();  // bounded walk
        if (out.size() >
            std::size_t{ntfs::partition_table::kMaxGptEntries} * ntfs::partition_table::kMaxGptEntrySize)
            std::abort();  // bounded buffers
        if (offset > size || size - offset < out.size()) return false;
        std::memcpy(out.data(), data + offset, out.size());
        return true;
    };
    // As a disk of its own size, and as one whose size cannot be told.
    for (const std::uint64_t diskBytes : {std::uint64_t{size}, std::uint64_t{0}}) {
        reads = 0;
        const auto table = ntfs::ReadPartitionTable(read, diskBytes);
        for (const auto& p : table.Partitions)
            if (diskBytes != 0 && (p.StartByte > diskBytes || p.Size > diskBytes - p.StartByte)) std::abort();
    }
    return 0;
}
