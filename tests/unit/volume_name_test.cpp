// SPDX-License-Identifier: GPL-3.0-or-later
// The $VOLUME_NAME decoder on hostile bytes: each case is one field of a
// sound attribute changed.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "ntfs/volume_name.h"

namespace {

// An attribute run (no FILE header: the walk starts at byte 0) holding one
// resident $VOLUME_NAME "Data", then the end marker.
std::vector<std::uint8_t> SoundRun() {
    std::vector<std::uint8_t> b(0x18 + 8 + 8, 0);
    const auto put32 = [&](std::size_t off, std::uint32_t v) {
        for (std::size_t i = 0; i < 4; ++i) b[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    put32(0x00, 0x60);      // type
    put32(0x04, 0x18 + 8);  // length
    put32(0x10, 8);         // value length: four UTF-16 units
    b[0x14] = 0x18;         // value offset
    const char16_t name[] = u"Data";
    for (std::size_t i = 0; i < 4; ++i) b[0x18 + 2 * i] = static_cast<std::uint8_t>(name[i]);
    put32(0x18 + 8, 0xFFFFFFFF);
    return b;
}

TEST(VolumeName, DecodesOnlyAWholeResidentValue) {
    struct TCase {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> change;
        std::optional<std::u16string> want;
    };
    const TCase cases[] = {
        {"sound", [](auto&) {}, u"Data"},
        {"empty label", [](auto& b) { b[0x10] = 0; }, u""},
        {"odd length", [](auto& b) { b[0x10] = 7; }, std::nullopt},
        {"value past the attribute", [](auto& b) { b[0x10] = 0x40; }, std::nullopt},
        {"huge length", [](auto& b) { b[0x13] = 0x80; }, std::nullopt},
        {"offset past the end", [](auto& b) { b[0x14] = 0xF0; }, std::nullopt},
        {"non-resident", [](auto& b) { b[0x08] = 1; }, std::nullopt},
        {"no $VOLUME_NAME", [](auto& b) { b[0x00] = 0x70; }, std::nullopt},
        {"cut short", [](auto& b) { b.resize(0x1C); }, std::nullopt},
    };
    for (const TCase& c : cases) {
        auto bytes = SoundRun();
        c.change(bytes);
        EXPECT_EQ(ntfs::DecodeVolumeName({bytes.data(), bytes.size()}), c.want) << c.what;
    }
}

}  // namespace
