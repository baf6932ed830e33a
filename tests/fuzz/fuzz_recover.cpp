// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to file extraction: to LZNT1 decompression as one
// compression unit's clusters, and as a deleted file's record on a small
// in-memory volume whose other bytes are the input too (boot sector and
// clusters), through the record checks and the run walk into a sink that
// only checks where it is written. Nothing may read or write outside a
// buffer, write past the file's size, hang or allocate without bound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/memory_volume.h"
#include "recover/content_plan.h"
#include "recover/lznt1.h"

namespace {

constexpr std::uint32_t kCluster = 4096;
constexpr std::uint64_t kRecordAt = 4 * kCluster;
constexpr std::size_t kRecordSize = 1024;

class TCheckingSink : public recover::TContentSink {
public:
    explicit TCheckingSink(std::uint64_t size) : m_size(size) {}
    bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
        if (offset > m_size || bytes.size() > m_size - offset) std::abort();
        if (bytes.size() > recover::run_walk::kMaxUnitBytes) std::abort();  // bounded buffers
        return true;
    }

private:
    std::uint64_t m_size;
};

// Makes the record pass its fixups when the input asks for it, so that the
// fuzzer spends its time on the attributes rather than on the header.
void ForceSoundHeader(std::vector<std::uint8_t>& record) {
    record[0] = 'F';
    record[1] = 'I';
    record[2] = 'L';
    record[3] = 'E';
    record[4] = 0x30;  // update sequence array at 0x30
    record[5] = 0;
    record[6] = 3;  // the number and one entry per 512 bytes
    record[7] = 0;
    for (std::size_t end = 510; end < kRecordSize; end += 512) {
        record[end] = record[0x30];
        record[end + 1] = record[0x31];
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The bytes as one compression unit's stream.
    std::vector<std::uint8_t> unit(16 * kCluster);
    (void)recover::DecompressLznt1({data, size}, unit);
    if (size == 0) return 0;

    // The bytes as a volume of 16 clusters: repeated from its start, the
    // record (forced sound when the first byte is odd) at cluster 4.
    std::vector<std::uint8_t> bytes(16 * kCluster);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = data[i % size];
    std::vector<std::uint8_t> record(data, data + std::min(size, kRecordSize));
    record.resize(kRecordSize, 0);
    if (data[0] & 1) ForceSoundHeader(record);
    std::copy(record.begin(), record.end(), bytes.begin() + kRecordAt);
    platform::TMemoryVolume volume(std::move(bytes));

    const ntfs::TDISK_INFORMATION geometry{kRecordSize, kCluster, 512, 8};
    const recover::TContentPlan plan = recover::PlanContent(volume, kRecordAt, geometry);
    if (plan.Result.Status != recover::TRecoverStatus::Written) return 0;
    TCheckingSink sink(plan.Size);
    (void)recover::WriteContent(volume, plan, sink);
    return 0;
}
