// Feeds arbitrary bytes to the record decoders as a FILE record image: the
// fixups, the attribute walk with every type the program looks up, and each
// decoder on what the walk returns. None may read outside its buffer, hang or
// allocate without bound.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ntfs/attribute.h"
#include "ntfs/boot_sector.h"
#include "ntfs/data_runs.h"
#include "ntfs/file_record.h"

namespace {

void DecodeAll(const ntfs::TDynamicCharArray& attr) {
    const ntfs::TByteView v = attr.View();
    (void)ntfs::DecodeAttributeHeader(v);
    (void)ntfs::DecodeResident(v);
    (void)ntfs::DecodeNonResident(v);
    (void)ntfs::DecodeStandardInformation(v);
    (void)ntfs::DecodeFileName(v);
    (void)ntfs::ReportedDataSize(v);
    if (const auto nr = ntfs::DecodeNonResident(v)) (void)ntfs::DecodeRunList(v.Sub(nr->RunListOffset, v.Size()));
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
    (void)ntfs::ApplyFixups({image.data(), image.size()}, geometry);
    const ntfs::TByteView view(image.data(), image.size());
    (void)ntfs::DecodeRecordHeader(view);
    for (std::uint32_t type : {0x10u, 0x20u, 0x30u, 0x80u}) {
        DecodeAll(ntfs::FindAttribute(view, type, false));
        DecodeAll(ntfs::FindAttribute(view, type, true));
    }
    // The bytes as a run list.
    (void)ntfs::DecodeRunList({data, size});
    return 0;
}
