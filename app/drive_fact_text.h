// The drive-fact label texts of the window, from the engine's numbers.
// (Until the window's logic moves into form/, where these texts belong.)
#pragma once

#include <cstdint>
#include <string>

namespace app {

std::string DriveNameText(const std::string& label);       // "Driver Name: " + label
std::string DriveSerialText(std::uint64_t serial);         // "SN" + at least 8 upper-case hex digits
std::string DriveSizeText(std::uint64_t volumeBytes);      // "Size : N MB"
std::string MftLocationText(std::uint64_t mftByteOffset);  // "MFT位置 : 0x..."
std::string MftSizeText(std::uint64_t mftBytes);           // "MFT大小 : N Byte"
std::string RecordCountText(std::uint64_t records);        // "File QTY : N"
std::string ProbeNameText(const std::string& label);       // "Name: " + label
std::string ProbeSerialText(std::uint64_t serial);         // "SN: " + at least 8 upper-case hex digits

}  // namespace app
