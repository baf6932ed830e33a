// SPDX-License-Identifier: GPL-3.0-or-later
#include "recover/lznt1.h"

#include <algorithm>

#include "ntfs/byte_view.h"

namespace recover {

namespace {

// Decodes the items of one compressed chunk, `data` (its bytes after the
// header), into `out`, which begins at the chunk's first output byte and
// ends at its 4096-byte limit or the end of the caller's buffer. Returns the
// bytes produced and whether the items were sound.
TLznt1Result DecodeCompressedChunk(ntfs::TByteView data, std::span<std::uint8_t> out) {
    std::size_t in = 0;
    std::size_t pos = 0;
    while (in < data.Size()) {
        const std::uint8_t flags = *data.U8(in++);
        for (int bit = 0; bit < 8 && in < data.Size(); ++bit) {
            if ((flags & (1u << bit)) == 0) {
                // Literal byte.
                if (pos >= out.size()) return {pos, false};
                out[pos++] = *data.U8(in++);
                continue;
            }
            const auto token = data.U16(in);
            if (!token) return {pos, false};  // half a back-reference
            in += 2;
            // A back-reference needs output to refer to.
            if (pos == 0) return {pos, false};
            unsigned lengthBits = 12;
            for (std::size_t i = pos - 1; i >= 0x10; i >>= 1) --lengthBits;
            const std::size_t offset = (std::size_t{*token} >> lengthBits) + 1;
            const std::size_t length = (std::size_t{*token} & ((1u << lengthBits) - 1)) + 3;
            if (offset > pos) return {pos, false};
            if (length > out.size() - pos) return {pos, false};
            // Byte by byte: source and destination may overlap (a run of one byte
            // repeated is a back-reference of offset 1).
            for (std::size_t i = 0; i < length; ++i, ++pos) out[pos] = out[pos - offset];
        }
    }
    return {pos, true};
}

}  // namespace

TLznt1Result DecompressLznt1(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
    const ntfs::TByteView stream(in);
    TLznt1Result result;
    std::size_t inPos = 0;
    std::size_t chunkStart = 0;  // output position of the current chunk
    for (;;) {
        const auto header = stream.U16(inPos);
        if (!header || *header == 0) break;
        if ((*header & lznt1::kSignatureMask) != lznt1::kSignature) {
            result.Sound = false;
            break;
        }
        if (chunkStart >= out.size()) {
            // More chunks than the unit can hold.
            result.Sound = false;
            break;
        }
        const std::size_t stored =
            static_cast<std::size_t>(*header & lznt1::kSizeMask) + 1;  // bytes after the header
        const ntfs::TByteView data = stream.Sub(inPos + 2, stored);
        const bool whole = data.Size() == stored;
        const std::span<std::uint8_t> chunkOut =
            out.subspan(chunkStart, std::min(lznt1::kChunkBytes, out.size() - chunkStart));

        TLznt1Result chunk;
        if ((*header & lznt1::kCompressed) != 0) {
            chunk = DecodeCompressedChunk(data, chunkOut);
        } else {
            chunk.Produced = std::min(data.Size(), chunkOut.size());
            chunk.Sound = chunk.Produced == data.Size();
            std::copy_n(data.Data(), chunk.Produced, chunkOut.begin());
        }
        result.Produced = chunkStart + chunk.Produced;
        if (!chunk.Sound || !whole) {
            result.Sound = false;
            break;
        }
        // A short chunk is followed by zeros up to its boundary: the next chunk
        // starts 4096 bytes after this one, whatever this one produced.
        std::fill(chunkOut.begin() + static_cast<std::ptrdiff_t>(chunk.Produced), chunkOut.end(), 0);
        chunkStart += chunkOut.size();
        inPos += 2 + stored;
    }
    return result;
}

}  // namespace recover
