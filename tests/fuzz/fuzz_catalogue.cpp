// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the catalogue decoder twice: as they are, and
// with the header's length and the trailing checksum made right, so that
// the records behind them are reached. Nothing may read outside its buffer,
// hang or reserve what a count claims; a file that decodes must encode to
// bytes that decode to the same result again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "ntfs/partition_table.h"
#include "scan/catalogue.h"

namespace {

void Check(const std::vector<std::uint8_t>& bytes) {
    const scan::TDecodedCatalogue decoded = scan::DecodeCatalogue({bytes.data(), bytes.size()});
    if (!decoded.Result) {
        if (decoded.Error.empty()) std::abort();
        return;
    }
    const std::vector<std::uint8_t> again = scan::EncodeCatalogue(*decoded.Result, decoded.Seen);
    const scan::TDecodedCatalogue second = scan::DecodeCatalogue({again.data(), again.size()});
    if (!second.Result) std::abort();
    if (scan::EncodeCatalogue(*second.Result, second.Seen) != again) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> bytes(data, data + size);
    Check(bytes);
    // The same with a sound header and checksum: magic, version, length.
    using namespace scan::catalogue;
    if (bytes.size() < kHeaderSize) bytes.resize(kHeaderSize, 0);
    for (std::size_t i = 0; i < sizeof kMagic; ++i) bytes[i] = static_cast<std::uint8_t>(kMagic[i]);
    for (std::size_t i = 0; i < 4; ++i) bytes[8 + i] = static_cast<std::uint8_t>(kVersion >> (8 * i));
    const std::uint64_t length = bytes.size() + kTrailerSize;
    for (std::size_t i = 0; i < 8; ++i) bytes[12 + i] = static_cast<std::uint8_t>(length >> (8 * i));
    const std::uint32_t crc = ntfs::Crc32({bytes.data(), bytes.size()});
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
    Check(bytes);
    return 0;
}
