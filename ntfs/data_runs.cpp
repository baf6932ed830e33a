// SPDX-License-Identifier: GPL-3.0-or-later
#include "ntfs/data_runs.h"

namespace ntfs {

namespace {

// The low-order 8 bytes of a little-endian field of `width` bytes, sign
// extended from the field's top bit when `isSigned` (only fields of at most
// 8 bytes are extended; a wider field's low 8 bytes are taken as they are).
std::uint64_t ReadField(TByteView bytes, std::size_t off, std::size_t width, bool isSigned) {
    if (width == 0) return 0;
    const std::size_t used = width < 8 ? width : 8;
    std::uint64_t v = bytes.LoadLe(off, used);
    if (isSigned && width < 8 && (bytes.Data()[off + width - 1] & 0x80) != 0)
        v |= ~std::uint64_t{0} << (8 * width);
    return v;
}

}  // namespace

TRunList DecodeRunList(TByteView runList, std::uint64_t startingVcn) {
    TRunList out;
    std::size_t pos = 0;
    std::uint64_t vcn = startingVcn;
    std::uint64_t lcn = 0;  // unsigned so that adding deltas wraps instead of overflowing
    bool first = true;
    for (;;) {
        const auto header = runList.U8(pos);
        if (!header) {
            out.Truncated = true;  // no end byte
            break;
        }
        if (*header == 0) break;
        const std::size_t lengthBytes = *header & 0x0F;
        const std::size_t offsetBytes = *header >> 4;
        if (!runList.Has(pos + 1, lengthBytes + offsetBytes)) {
            out.Truncated = true;
            break;
        }
        const std::uint64_t length = ReadField(runList, pos + 1, lengthBytes, false);
        const std::uint64_t offset = ReadField(runList, pos + 1 + lengthBytes, offsetBytes, !first);
        lcn += offset;
        TDataRun run;
        run.Vcn = vcn;
        run.Length = length;
        run.Lcn = static_cast<std::int64_t>(lcn);
        run.Sparse = offset == 0;
        const auto next = AddChecked(vcn, length);
        if (!next || *next > static_cast<std::uint64_t>(INT64_MAX)) {
            out.Truncated = true;
            break;
        }
        vcn = *next;
        out.Runs.push_back(run);
        pos += 1 + lengthBytes + offsetBytes;
        first = false;
    }
    return out;
}

}  // namespace ntfs
