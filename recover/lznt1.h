// SPDX-License-Identifier: GPL-3.0-or-later
// LZNT1, the compression NTFS applies to the data of compressed files.
//
// A compression unit's clusters hold a stream of chunks laid end to end. Each
// chunk stands for (at most) 4096 bytes of the file and begins with a 16-bit
// header: bits 0-11 the chunk's stored size minus 3 (header included), bits
// 12-14 the signature 3, bit 15 set when the chunk is compressed. A header of
// 0 (or the end of the input) ends the stream.
//
// An uncompressed chunk carries its bytes as they are. A compressed chunk is a
// sequence of groups: a flag byte, then eight items, one per flag bit from
// the lowest up: a clear bit is one literal byte, a set bit a 16-bit
// back-reference (copy `length` bytes from `offset` bytes back). The split of
// that 16-bit value between offset and length depends on how far into the
// chunk the output is: the further in, the more offset bits (4 at the start
// of a chunk, 12 at its end) and the fewer length bits.
//
// The input is the raw content of disk clusters and may be anything; nothing
// outside either buffer is ever read or written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace recover {

namespace lznt1 {
constexpr std::size_t kChunkBytes = 4096;         // uncompressed bytes a chunk stands for
constexpr std::uint16_t kSizeMask = 0x0FFF;       // stored chunk size minus 3
constexpr std::uint16_t kSignatureMask = 0x7000;  // always 3 << 12
constexpr std::uint16_t kSignature = 0x3000;
constexpr std::uint16_t kCompressed = 0x8000;
}  // namespace lznt1

struct TLznt1Result {
    // Bytes of `out` that the stream filled. A chunk that decodes to fewer
    // than 4096 bytes is followed by zeros up to its 4096-byte boundary
    // before the next chunk begins; the last chunk is not padded. The caller
    // treats the rest of `out` as zeros.
    std::size_t Produced = 0;
    // False when the stream was damaged: a chunk reaching past the input, a
    // wrong signature, a back-reference before the chunk's start or past its
    // end, or more output than `out` holds. What decoded before the damage is
    // kept in out[0, Produced).
    bool Sound = true;
};

// Decompresses one compression unit's stream into `out`.
TLznt1Result DecompressLznt1(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

}  // namespace recover
