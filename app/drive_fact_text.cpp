#include "app/drive_fact_text.h"

#include "ntfs/text.h"

namespace app {

std::string DriveNameText(const std::string& label) {
    return "Driver Name: " + label;
}

std::string DriveSerialText(std::uint64_t serial) {
    return "SN" + ntfs::HexUpper(serial, 8);
}

std::string DriveSizeText(std::uint64_t volumeBytes) {
    // Signed 64-bit arithmetic, each division truncating; a damaged sector
    // count wraps rather than overflowing.
    const std::int64_t mb = static_cast<std::int64_t>(volumeBytes) / 1024 / 1024;
    return "Size : " + std::to_string(mb) + " MB";
}

std::string MftLocationText(std::uint64_t mftByteOffset) {
    return "MFT位置 : 0x" + ntfs::HexUpper(mftByteOffset, 2);
}

std::string MftSizeText(std::uint64_t mftBytes) {
    return "MFT大小 : " + std::to_string(mftBytes) + " Byte";
}

std::string RecordCountText(std::uint64_t records) {
    return "File QTY : " + std::to_string(records);
}

std::string ProbeNameText(const std::string& label) {
    return "Name: " + label;
}

std::string ProbeSerialText(std::uint64_t serial) {
    return "SN: " + ntfs::HexUpper(serial, 8);
}

}  // namespace app
