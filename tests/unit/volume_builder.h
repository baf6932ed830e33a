// SPDX-License-Identifier: GPL-3.0-or-later
// Builds small NTFS-shaped volumes in memory for the scan tests: a boot
// sector, an MFT laid out by a run list of our choosing, and records built
// with TRecordBuilder. Real images cover the sound cases; these cover the
// geometry and damage real tools never produce.
#pragma once

#include <cstdint>
#include <vector>

#include "unit/record_builder.h"

namespace testing_support {

struct TVolumeLayout {
    std::uint16_t bytesPerSector = 512;
    std::uint8_t sectorsPerCluster = 8;  // 4096-byte clusters
    std::uint32_t clustersPerRecord = 0xF6;
    std::uint32_t recordSize = 1024;
    std::uint64_t totalClusters = 256;
    // The MFT's extents: {lcn, clusters}, in VCN order; empty means one
    // extent of 8 clusters at LCN 4.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> mftRuns;
    std::uint64_t serial = 0x1122334455667788ull;
    std::uint16_t mftDataFlags = 0;
};

// Run list bytes for (lcn, clusters) extents: 8-byte fields, signed deltas.
inline std::vector<std::uint8_t> RunListBytes(
    const std::vector<std::pair<std::uint64_t, std::uint64_t>>& runs) {
    std::vector<std::uint8_t> out;
    std::int64_t previous = 0;
    for (const auto& [lcn, clusters] : runs) {
        out.push_back(0x88);
        for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(clusters >> (8 * i)));
        const std::int64_t delta = static_cast<std::int64_t>(lcn) - previous;
        for (int i = 0; i < 8; ++i)
            out.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(delta) >> (8 * i)));
        previous = static_cast<std::int64_t>(lcn);
    }
    out.push_back(0);
    return out;
}

class TVolumeBuilder {
public:
    explicit TVolumeBuilder(TVolumeLayout layout = {}) : m_layout(std::move(layout)) {
        if (m_layout.mftRuns.empty()) m_layout.mftRuns.emplace_back(4, 8);
        m_bytes.assign(static_cast<std::size_t>(m_layout.totalClusters * ClusterSize()), 0);
        std::vector<std::uint8_t> boot(512, 0);
        const char oem[] = "NTFS    ";
        for (int i = 0; i < 8; ++i) boot[3 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(oem[i]);
        PutLe(boot, 0x0B, m_layout.bytesPerSector, 2);
        boot[0x0D] = m_layout.sectorsPerCluster;
        PutLe(boot, 0x28, m_layout.totalClusters * m_layout.sectorsPerCluster - 1, 8);
        PutLe(boot, 0x30, m_layout.mftRuns.front().first, 8);
        PutLe(boot, 0x40, m_layout.clustersPerRecord, 4);
        PutLe(boot, 0x48, m_layout.serial, 8);
        std::copy(boot.begin(), boot.end(), m_bytes.begin());
        // Record 0: the $MFT with its run list.
        std::uint64_t clusters = 0;
        for (const auto& run : m_layout.mftRuns) clusters += run.second;
        const auto runList = RunListBytes(m_layout.mftRuns);
        const std::int64_t size = static_cast<std::int64_t>(clusters * ClusterSize());
        Put(0,
            TRecordBuilder(m_layout.recordSize)
                .Flags(1)
                .Add(TAttributeBuilder::StandardInformation(0, 0))
                .Add(TAttributeBuilder::FileName(u"$MFT", 3))
                .Add(TAttributeBuilder::NonResident(
                    0x80, runList, size, 0, static_cast<std::int64_t>(clusters) - 1, m_layout.mftDataFlags))
                .Build());
    }

    std::uint64_t ClusterSize() const {
        return std::uint64_t{m_layout.bytesPerSector} * m_layout.sectorsPerCluster;
    }

    // Byte offset of record n through the MFT's runs.
    std::uint64_t RecordOffset(std::uint64_t n) const {
        std::uint64_t pos = n * m_layout.recordSize;
        for (const auto& [lcn, clusters] : m_layout.mftRuns) {
            const std::uint64_t len = clusters * ClusterSize();
            if (pos < len) return lcn * ClusterSize() + pos;
            pos -= len;
        }
        return UINT64_MAX;
    }

    TVolumeBuilder& Put(std::uint64_t n, const std::vector<std::uint8_t>& record) {
        const std::uint64_t at = RecordOffset(n);
        std::copy(record.begin(), record.end(), m_bytes.begin() + static_cast<std::ptrdiff_t>(at));
        return *this;
    }

    // A deleted file's record: SI, a Win32 name, and resident data (or, past
    // 512 bytes, a non-resident $DATA of that size at LCN 0x40).
    static std::vector<std::uint8_t> DeletedFile(const std::u16string& name, std::size_t dataBytes,
                                                 std::uint32_t recordSize = 1024) {
        const auto data = dataBytes <= 512
                              ? TAttributeBuilder::Resident(0x80, std::vector<std::uint8_t>(dataBytes, 0x5A))
                              : TAttributeBuilder::NonResident(0x80, {0x11, 0x01, 0x40, 0x00},
                                                               static_cast<std::int64_t>(dataBytes), 0, 0);
        return TRecordBuilder(recordSize)
            .Add(TAttributeBuilder::StandardInformation(133000000000000000ull, 133000000000000000ull))
            .Add(TAttributeBuilder::FileName(name, 1))
            .Add(data)
            .Build();
    }

    std::vector<std::uint8_t>& Bytes() { return m_bytes; }

private:
    TVolumeLayout m_layout;
    std::vector<std::uint8_t> m_bytes;
};

}  // namespace testing_support
