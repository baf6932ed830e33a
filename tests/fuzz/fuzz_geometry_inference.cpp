// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary findings to the geometry inference: boot sectors, record
// 0s with their runs, and record places, all taken from the input. Every
// volume given must have a cluster size the inference allows, a start its
// findings imply, and be given once; nothing may overflow, hang or allocate
// without bound.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "ntfs/byte_view.h"
#include "ntfs/geometry_inference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ntfs::TByteView in(data, size);
    std::size_t at = 0;
    const auto u64 = [&] {
        const std::uint64_t v = in.U64(at).value_or(0);
        at += 8;
        return v;
    };
    std::vector<ntfs::TFoundBootSector> boots;
    std::vector<ntfs::TFoundMftRecord0> records0;
    std::vector<ntfs::TRecordPlace> places;
    for (int i = 0; i < 6 && at + 8 <= size; ++i) {
        const std::uint64_t kind = u64();
        if (kind % 3 == 0) {
            ntfs::TFoundBootSector b;
            b.ByteOffset = u64();
            b.Boot.BytesPerSector = static_cast<std::uint16_t>(u64());
            b.Boot.SectorsPerCluster = static_cast<std::uint8_t>(kind >> 8);
            b.Boot.TotalSectors = u64();
            b.Boot.MftStartLcn = u64();
            b.Boot.MftMirrStartLcn = u64();
            b.Boot.ClustersPerFileRecord = static_cast<std::uint32_t>(kind >> 16);
            boots.push_back(b);
        } else if (kind % 3 == 1) {
            ntfs::TFoundMftRecord0 r;
            r.ByteOffset = u64();
            r.RecordSize = (kind & 8) ? 4096 : 1024;
            const std::size_t runs = (kind >> 8) % 4;
            std::uint64_t vcn = 0;
            for (std::size_t k = 0; k < runs; ++k) {
                const std::uint64_t length = u64() % 1024 + 1;
                r.MftRuns.push_back(
                    {vcn, length, static_cast<std::int64_t>(u64()), ((kind >> (16 + k)) & 1) != 0});
                vcn += length;
            }
            r.MirrorLcn = u64();
            records0.push_back(r);
        } else {
            places.push_back({u64(), static_cast<std::uint32_t>(kind >> 32)});
        }
    }
    std::sort(places.begin(), places.end());
    const auto volumes = ntfs::InferVolumes(boots, records0, places);
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        const auto& v = volumes[i];
        const std::uint32_t c = v.BytesPerCluster;
        if (c < ntfs::geometry_inference::kMinCluster || c > ntfs::geometry_inference::kMaxCluster ||
            (c & (c - 1)) != 0)
            std::abort();
        if (i > 0 && volumes[i - 1].StartByte > v.StartByte) std::abort();
        for (std::size_t j = 0; j < i; ++j) {
            const auto& w = volumes[j];
            if (w.StartByte == v.StartByte && w.BytesPerCluster == c && w.MftLcn == v.MftLcn) std::abort();
        }
        if (v.Source == ntfs::TGeometrySource::MftRecord0 && !v.MftByte()) std::abort();
    }
    for (const auto& p : places)
        if (ntfs::VolumeOf(volumes, p.ByteOffset) > volumes.size()) std::abort();
    return 0;
}
