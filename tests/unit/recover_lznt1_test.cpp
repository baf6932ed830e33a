// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recover/lznt1.h"
#include "unit/recover_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct TDecoded {
    std::string Text;  // out[0, Produced)
    recover::TLznt1Result Result;
};

TDecoded Decode(const Bytes& in, std::size_t outSize = 8192) {
    Bytes out(outSize, 0xEE);
    const auto r = recover::DecompressLznt1(in, out);
    return {std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(r.Produced)), r};
}

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(Lznt1, HandEncodedChunks) {
    struct TCase {
        const char* what;
        Bytes in;
        std::string expected;
    };
    const std::vector<TCase> cases = {
        {"literals only, two flag groups",
         {0x0C, 0xB0, 0x00, 'H', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 0x00, 'r', 'l', 'd'},
         "Hello world"},
        {"back-reference overlapping its own output",
         {0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x03, 0x20},
         "abcabcabc"},
        {"one byte repeated: offset 1", {0x03, 0xB0, 0x02, 'a', 0x06, 0x00}, "aaaaaaaaaa"},
        // At output position 20 the offset takes 5 bits: 0x8002 is offset 17,
        // length 5 (with the 4-bit split of a chunk's start it would be
        // offset 9, length 5).
        {"offset field widens past position 16",
         {0x18, 0xB0, 0x00, 'A', 'B', 'C', 'D',  'E', 'F', 'G', 'H', 0x00, 'I', 'J',
          'K',  'L',  'M',  'N', 'O', 'P', 0x10, 'Q', 'R', 'S', 'T', 0x02, 0x80},
         "ABCDEFGHIJKLMNOPQRSTDEFGH"},
        {"end marker stops the stream",
         {0x02, 0xB0, 0x00, 'x', 'y', 0x00, 0x00, 0x02, 0xB0, 0x00, 'z', 'z'},
         "xy"},
        {"empty input", {}, ""},
    };
    for (const auto& c : cases) {
        const auto d = Decode(c.in);
        EXPECT_TRUE(d.Result.Sound) << c.what;
        EXPECT_EQ(d.Text, c.expected) << c.what;
    }
}

TEST(Lznt1, ChunksStandFor4096BytesEach) {
    // A short compressed chunk, then an uncompressed one of 4096 bytes, then
    // a short one: each starts at its own 4096-byte boundary.
    Bytes raw(4096);
    for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>(i * 13);
    Bytes in = {0x03, 0xB0, 0x00, 'a', 'b', 'c', 0xFF, 0x3F};
    in = Cat(in, raw);
    in = Cat(in, {0x02, 0xB0, 0x00, 'x', 'y'});
    Bytes out(3 * 4096, 0xEE);
    const auto r = recover::DecompressLznt1(in, out);
    EXPECT_TRUE(r.Sound);
    ASSERT_EQ(r.Produced, 2 * 4096u + 2);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 3), "abc");
    EXPECT_TRUE(std::all_of(out.begin() + 3, out.begin() + 4096, [](std::uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), out.begin() + 4096));
    EXPECT_EQ(out[8192], 'x');
    EXPECT_EQ(out[8193], 'y');
}

TEST(Lznt1, RoundTripsEveryOffsetSplit) {
    // 64 KiB: one compression unit of 16 chunks, with back-references at
    // every position of a chunk and offsets up to 4000.
    const Bytes data = testing_support::CompressibleData(65536, 7);
    const Bytes packed = testing_support::EncodeLznt1(data);
    ASSERT_LT(packed.size(), data.size() / 2);
    Bytes out(65536);
    const auto r = recover::DecompressLznt1(packed, out);
    EXPECT_TRUE(r.Sound);
    EXPECT_EQ(r.Produced, data.size());
    EXPECT_EQ(out, data);
}

TEST(Lznt1, DamagedStreamsStopInsideTheirBuffers) {
    struct TCase {
        const char* what;
        Bytes in;
        std::size_t outSize;
        std::size_t produced;
    };
    const std::vector<TCase> cases = {
        {"back-reference before any output", {0x02, 0xB0, 0x01, 0x00, 0x00}, 4096, 0},
        {"offset reaching before the chunk", {0x03, 0xB0, 0x02, 'a', 0x00, 0x10}, 4096, 1},
        {"length past the chunk's 4096 bytes", {0x03, 0xB0, 0x02, 'a', 0xFF, 0x0F}, 8192, 1},
        {"half a back-reference", {0x02, 0xB0, 0x02, 'a', 0x00}, 4096, 1},
        {"chunk size past the input", {0x10, 0xB0, 0x00, 'a', 'b'}, 4096, 2},
        {"wrong signature", {0x02, 0x80, 0x00, 'a', 'b'}, 4096, 0},
        {"literals past the output", {0x04, 0xB0, 0x00, 'a', 'b', 'c', 'd'}, 2, 2},
        {"uncompressed chunk past the output", {0x03, 0x30, 'a', 'b', 'c', 'd'}, 3, 3},
        {"more chunks than the output holds", {0x00, 0xB0, 0x00, 0x00, 0xB0, 0x00}, 4096, 0},
    };
    for (const auto& c : cases) {
        const auto d = Decode(c.in, c.outSize);
        EXPECT_FALSE(d.Result.Sound) << c.what;
        EXPECT_EQ(d.Result.Produced, c.produced) << c.what;
    }
}

}  // namespace
