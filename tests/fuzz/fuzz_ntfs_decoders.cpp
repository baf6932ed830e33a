// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the record decoders as a FILE record image: the
// fixups, the attribute walk with every type the program looks up, and each
// decoder on what the walk returns; and to the attribute-list and run-list
// decoders and the MFT map built from those runs. None may read outside its
// buffer, hang or allocate without bound. A record the fixups accept has one
// update sequence entry per 512 bytes, and one more.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "ntfs/attribute.h"
#include "ntfs/attribute_list.h"
#include "ntfs/boot_sector.h"
#include "ntfs/data_runs.h"
#include "ntfs/file_record.h"
#include "ntfs/mft_map.h"
#include "ntfs/volume_name.h"
#include "platform/memory_volume.h"
#include "scan/original_path.h"
#include "scan/recoverability.h"

namespace {

void DecodeAll(const ntfs::TDynamicCharArray& attr) {
    const ntfs::TByteView v = attr.View();
    (void)ntfs::DecodeAttributeHeader(v);
    (void)ntfs::DecodeResident(v);
    (void)ntfs::DecodeNonResident(v);
    (void)ntfs::DecodeStandardInformation(v);
    (void)ntfs::DecodeFileName(v);
    (void)ntfs::ReportedDataSize(v);
    if (const auto nr = ntfs::DecodeNonResident(v))
        (void)ntfs::DecodeRunList(v.Sub(nr->RunListOffset, v.Size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ntfs::TDISK_INFORMATION geometry{1024, 4096, 512, 8};

    // The bytes as a boot sector.
    const ntfs::TBOOT_SECTOR boot = ntfs::DecodeBootSector({data, size});
    (void)ntfs::DeriveGeometry(boot);
    (void)ntfs::MftByteOffset(boot);

    // The bytes as a record image, raw and after fixups (whatever the outcome).
    std::vector<std::uint8_t> image(data, data + size);
    const auto header = ntfs::DecodeRecordHeader({data, size});
    if (ntfs::ApplyFixups({image.data(), image.size()}, geometry) &&
        (!header || size % 512 != 0 || header->UsaCount != size / 512 + 1))
        std::abort();  // a record taken whole with stretches left unchecked
    const ntfs::TByteView view(image.data(), image.size());
    (void)ntfs::DecodeRecordHeader(view);
    (void)ntfs::DecodeVolumeName(view);
    for (std::uint32_t type : {0x10u, 0x20u, 0x30u, 0x80u}) {
        DecodeAll(ntfs::FindAttribute(view, type, false));
        DecodeAll(ntfs::FindAttribute(view, type, true));
    }
    // The record as a folder of the path table, and as a row's claim and the
    // volume's bitmap (the bytes themselves standing in for the volume).
    scan::TDirectoryTable folders;
    folders.NoteRecord(16, view, 0x0002);
    folders.Link();
    (void)folders.Resolve(16);
    const ntfs::TByteView dataAttribute = ntfs::LocateAttribute(view, 0x80, false);
    // The engine bounds claims by the clusters the volume really has.
    const std::uint64_t clusters = std::uint64_t{size} * 8 + 64;
    std::vector<scan::TRowClaim> claims = {{1, scan::ClaimOf(dataAttribute, 4096, clusters)},
                                           {1, scan::ClaimOf(dataAttribute, 512, clusters)}};
    platform::TMemoryVolume volume(std::vector<std::uint8_t>(data, data + size));
    auto bitmap = scan::TClusterBitmap::FromRecord(view, 512);
    (void)scan::Judge(claims, bitmap ? &*bitmap : nullptr, volume);
    // The bytes as a volume whose label is asked for.
    (void)ntfs::ReadVolumeName(volume);

    // The bytes as an attribute list value.
    (void)ntfs::DecodeAttributeList({data, size});

    // The bytes as a run list, and as the MFT's: the map's extents lie in
    // VCN order inside its length, and reads through it stay in the volume.
    const ntfs::TRunList runs = ntfs::DecodeRunList({data, size});
    if (const auto map = ntfs::TMftMap::FromRuns(runs.Runs, 512)) {
        std::uint64_t end = 0;
        for (const ntfs::TMftExtent& e : map->Extents()) {
            if (e.MftOffset < end || e.Length == 0 || e.Length > map->ByteLength() - e.MftOffset)
                std::abort();
            end = e.MftOffset + e.Length;
        }
        std::vector<std::uint8_t> record(1024);
        for (std::uint64_t n = 0; n < 4; ++n) {
            (void)map->VolumeOffset(n * 1024);
            (void)map->Read(volume, n * 1024, record);
            (void)ntfs::ReadMftRecord(*map, volume, n, geometry);
        }
    }
    return 0;
}
