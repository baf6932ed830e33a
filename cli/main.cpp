// lumbra-cli: the command-line front end on the same engine as the window.
#include <cstdio>
#include <string>
#include <vector>

#include "ntfs/boot_sector.h"
#include "ntfs/probe.h"
#include "ntfs/text.h"

namespace {

int Usage() {
    std::fputs(
        "usage: lumbra-cli info SOURCE\n"
        "SOURCE is a drive string (\"D:\") or the path of an image file or block device.\n",
        stderr);
    return 2;
}

// What the probe and the geometry derivation make of a volume.
int Info(const std::string& source) {
    const auto probe = ntfs::ProbeDrive(source);
    if (!probe) {
        std::fprintf(stderr, "lumbra-cli: %s does not open\n", source.c_str());
        return 2;
    }
    std::printf("Probe: %s\n%s\n%s\n", probe->Oem.c_str(), probe->NameText.c_str(), probe->SerialText.c_str());
    if (!ntfs::IsNtfsOem(probe->Boot)) {
        std::fprintf(stderr, "lumbra-cli: %s is not an NTFS volume\n", source.c_str());
        return 2;
    }
    const ntfs::TDISK_INFORMATION g = ntfs::DeriveGeometry(probe->Boot);
    const auto mft = ntfs::MftByteOffset(probe->Boot);
    std::printf("BytesPerSector: %u\nSectorsPerCluster: %u\nBytesPerCluster: %u\nBytesPerFileRecord: %u\n",
                g.BytesPerSector, g.SectorsPerCluster, g.BytesPerCluster, g.BytesPerFileRecord);
    std::printf("TotalSectors: %llu\nMftByteOffset: %s\n",
                static_cast<unsigned long long>(probe->Boot.TotalSectors),
                mft ? ("0x" + ntfs::HexUpper(*mft, 2)).c_str() : "(does not fit 64 bits)");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "info") return Info(args[1]);
    return Usage();
}
