// SPDX-License-Identifier: GPL-3.0-or-later
// A deep scan's result kept in a file, so that a recovery hours later needs
// no second pass over the source.
//
// The file ("catalogue") holds what a recovery needs and what the rows show:
// the source as resolved, every file system the pass found (geometry, MFT
// map, span), every row with its record's fields, folders and verdict, and
// the counters. It also holds what the source looked like when the catalogue
// was made (TSourceSeen): its size, and what the first sector of each found
// file system held. A recovery from the catalogue looks again and refuses
// another source: one of another size, or one where a file system's first
// sector is now another volume's boot sector (another serial), a boot
// sector where there was none, or none where there was one. Any of these
// means the clusters the rows name may no longer be the ones the scan saw.
//
// Layout, all integers little-endian:
//   header   "LUMBRCAT" (8 bytes), u32 version, u64 file length
//   records  u8 kind, varint body length, body; in this order: Source,
//            Seen, Volume (one per file system), then Folder (one per
//            folder name, just before the first row naming it) and Row
//            (one per row) mixed, Counters, End
//   trailer  u32 CRC-32 (IEEE, ntfs::Crc32 as GPT uses it) of every byte before it
// Inside the bodies numbers are LEB128 varints (signed ones zigzagged),
// texts a varint length and their bytes, names a varint count and UTF-16
// units. A row keeps only its record's fields; its texts (caption, name
// text, extension, size text, time texts, path) are made again from them by
// the rules the scan made them by, and its folders are indexes into the
// Folder records (a disk's rows share few folders). A file that is short
// of its length is "truncated", one whose CRC fails or that does not
// decode whole "damaged"; one of a later version is refused by its version
// number before anything else.
//
// Every count is checked against the bytes left before anything is
// reserved for it, so a crafted file costs no more memory than its own
// size would honestly hold. The decoder lives here rather than among the
// pure decoders of ntfs/: what it builds is the scan's own result.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ntfs/byte_view.h"
#include "platform/raw_volume.h"
#include "scan/scan_session.h"

namespace scan {

namespace catalogue {
constexpr char kMagic[8] = {'L', 'U', 'M', 'B', 'R', 'C', 'A', 'T'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeaderSize = 8 + 4 + 8;  // magic, u32 version, u64 file length
constexpr std::size_t kTrailerSize = 4;         // u32 CRC-32 of all that precedes it
}  // namespace catalogue

// What the first sector of one found file system held.
struct TSeenVolume {
    bool Ntfs = false;         // an NTFS boot sector
    std::uint64_t Serial = 0;  // its volume serial, when Ntfs
    bool operator==(const TSeenVolume&) const = default;
};

// What the source looked like: its size and, per DeepVolumes entry, its first sector.
struct TSourceSeen {
    std::uint64_t Bytes = 0;
    std::vector<TSeenVolume> Volumes;
};

// Looks at source (opened as the result's Source says) for each of the
// result's file systems.
TSourceSeen LookAtSource(platform::TRawVolume& source, const TScanResult& result);

// Empty when `now` is the source `then` saw; otherwise why not, in words
// ("its size is 16777216 bytes, the catalogue's source had 33554432").
std::string SourceMismatch(const TSourceSeen& then, const TSourceSeen& now, const TScanResult& result);

// The catalogue of a deep scan's result.
std::vector<std::uint8_t> EncodeCatalogue(const TScanResult& result, const TSourceSeen& seen);

struct TDecodedCatalogue {
    std::shared_ptr<TScanResult> Result;  // null on an error
    TSourceSeen Seen;
    std::string Error;  // why it was refused, in words
};

// Decodes a catalogue; every field is checked, and a file that does not
// decode whole is refused with Error set. The result is a deep scan's
// (Deep set) whose Source has no volume given open.
TDecodedCatalogue DecodeCatalogue(ntfs::TByteView bytes);

// The source of a decoded catalogue opened again, and looked at: the one
// its Source names, or the one `name` names when not empty (a disk that
// came back under another device path; opened as a deep scan opens it).
// On success the result's Source is the one opened; otherwise Error says
// why (it did not open, or it is another source) and the result is left
// as it was.
struct TCatalogueSourceCheck {
    bool Ok = false;
    bool OtherSource = false;  // it opened, and is not the source the catalogue was made of
    std::optional<platform::TOpenFailure> OpenFailure;
    std::string Error;
};
TCatalogueSourceCheck ReopenCatalogueSource(TDecodedCatalogue& catalogue, const std::string& name);

// Writes bytes to path through a temporary file beside it and a rename: a
// catalogue already at path stays whole until the new one is. False and
// error set when it could not be written (the temporary file is removed).
bool SaveCatalogueFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes,
                       std::string& error);
// The catalogue of a deep scan's result, written to path as above: the
// source is opened again (as the result's Source says) to see what it
// holds. False and error set when it did not open, the file was not
// written, or the result is not a deep scan's.
bool SaveCatalogue(const TScanResult& result, const std::filesystem::path& path, std::string& error);
// Reads and decodes the file at path.
TDecodedCatalogue LoadCatalogueFile(const std::filesystem::path& path);

}  // namespace scan
