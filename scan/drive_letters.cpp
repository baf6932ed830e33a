// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/drive_letters.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <mutex>

#include "scan/volume_source.h"

namespace scan {

namespace {

constexpr std::size_t kLetters = 26;

// Callers pass 'A' to 'Z' only.
std::size_t Index(char letter) {
    return static_cast<std::size_t>(letter - 'A');
}

bool SamePiece(const TDriveLetter& a, const TDriveLetter& b) {
    return a.TableLetter == b.TableLetter && a.Path == b.Path && a.Partition == b.Partition;
}

// Disks opened for a look at their tables, by path, while a split runs.
using TOpenDisks = std::map<std::string, std::unique_ptr<platform::TRawVolume>>;

// The NTFS partitions of the disk at `path`, opened exactly as named (a
// table's path is never read as a letter); the disk stays open in `*kept`
// when that is given.
std::vector<std::uint32_t> NtfsPartitionsOnDisk(const std::string& path, TOpenDisks* kept) {
    std::vector<std::uint32_t> numbers;
    TScanSource whole;
    whole.Drive = whole.Resolved = path;
    TOpenedSource disk = OpenSource(whole);
    if (!disk.Volume) return numbers;
    for (const TPartitionInfo& info : ReadSourceLayout(*disk.Volume).Partitions)
        if (info.Ntfs) numbers.push_back(info.Partition.Number);
    if (kept != nullptr) (*kept)[path] = std::move(disk.Volume);
    return numbers;
}

struct TLetterState {
    std::mutex Mutex;
    bool Resolved = false;
    std::vector<platform::TDriveEntry> Base;  // the drive table the letters were split from
    std::vector<TDriveLetter> Letters;
};

TLetterState& State() {
    static TLetterState state;
    return state;
}

bool SameTable(const std::vector<platform::TDriveEntry>& a, const std::vector<platform::TDriveEntry>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const auto& x, const auto& y) { return x.Letter == y.Letter && x.Path == y.Path; });
}

// Under the state's lock: splits `base`, keeping the letters already given
// when asked to; the disks looked at stay open in `*opened` when given.
std::vector<TDriveLetter> Split(TLetterState& state, const std::vector<platform::TDriveEntry>& base,
                                bool keep, TOpenDisks* opened = nullptr) {
    const auto partitionsOf = [opened](const std::string& path) {
        return NtfsPartitionsOnDisk(path, opened);
    };
    state.Letters = SplitDriveTable(base, partitionsOf, keep ? state.Letters : std::vector<TDriveLetter>{});
    state.Base = base;
    state.Resolved = true;
    return state.Letters;
}

}  // namespace

std::vector<TDriveLetter> SplitDriveTable(const std::vector<platform::TDriveEntry>& table,
                                          const TNtfsPartitionsOf& ntfsPartitionsOf,
                                          const std::vector<TDriveLetter>& kept) {
    std::vector<platform::TDriveEntry> entries;
    for (const platform::TDriveEntry& e : table)
        if (e.Letter >= 'A' && e.Letter <= 'Z') entries.push_back(e);
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.Letter < b.Letter; });

    // Every entry's pieces, in letter order, then table order within an entry.
    std::vector<TDriveLetter> pieces;
    for (const platform::TDriveEntry& e : entries) {
        const std::vector<std::uint32_t> partitions = ntfsPartitionsOf(e.Path);
        if (partitions.empty()) pieces.push_back({0, e.Path, std::nullopt, e.Letter});
        for (const std::uint32_t number : partitions) pieces.push_back({0, e.Path, number, e.Letter});
    }

    std::array<bool, kLetters> given{};     // a piece holds the letter
    std::array<bool, kLetters> reserved{};  // an entry's own letter
    // Letters already given stay where they are. A partition that went away
    // from a disk still in the table keeps its letter too, as a device that
    // went away keeps its own: no other volume may turn up under it.
    std::vector<TDriveLetter> gone;
    for (const TDriveLetter& old : kept) {
        if (old.Letter < 'A' || old.Letter > 'Z' || given[Index(old.Letter)]) continue;
        const auto same = std::find_if(pieces.begin(), pieces.end(), [&](const TDriveLetter& piece) {
            return piece.Letter == 0 && SamePiece(piece, old);
        });
        if (same != pieces.end()) {
            same->Letter = old.Letter;
        } else {
            const bool entryStays = std::any_of(entries.begin(), entries.end(), [&](const auto& e) {
                return e.Letter == old.TableLetter && e.Path == old.Path;
            });
            if (!entryStays) continue;
            gone.push_back(old);
        }
        given[Index(old.Letter)] = true;
    }
    pieces.insert(pieces.end(), gone.begin(), gone.end());
    for (const platform::TDriveEntry& e : entries) reserved[Index(e.Letter)] = true;
    // New pieces: the entry's own letter when it is still free, otherwise
    // the next letter above it that nobody holds or is owed.
    for (TDriveLetter& piece : pieces) {
        if (piece.Letter != 0) continue;
        char letter = piece.TableLetter;
        if (given[Index(letter)]) {
            ++letter;
            while (letter <= 'Z' && (given[Index(letter)] || reserved[Index(letter)])) ++letter;
        }
        if (letter > 'Z') continue;
        piece.Letter = letter;
        given[Index(letter)] = true;
    }
    std::vector<TDriveLetter> letters;
    for (const TDriveLetter& piece : pieces)
        if (piece.Letter != 0) letters.push_back(piece);
    std::sort(letters.begin(), letters.end(),
              [](const auto& a, const auto& b) { return a.Letter < b.Letter; });
    return letters;
}

namespace {

// The process's letters; a split made now leaves the disks it looked at open
// in `*opened` when given.
std::vector<TDriveLetter> Letters(TOpenDisks* opened) {
    TLetterState& state = State();
    const std::lock_guard<std::mutex> lock(state.Mutex);
    const auto base = platform::DriveTable();
    // The drive table changes here only when it was made anew (a changed
    // LUMBRA_DRIVES, as tests do): then so are the letters.
    if (state.Resolved && SameTable(base, state.Base)) return state.Letters;
    return Split(state, base, false, opened);
}

}  // namespace

std::vector<TDriveLetter> DriveLetters() {
    return Letters(nullptr);
}

std::vector<TDriveLetter> RefreshDriveLetters() {
    TLetterState& state = State();
    const std::lock_guard<std::mutex> lock(state.Mutex);
    // Look at the disks again, whether the drive table changed or not: a
    // disk's table may have gained a partition.
    return Split(state, platform::RefreshDriveTable(), state.Resolved);
}

std::uint32_t DriveLettersMask() {
    std::uint32_t mask = 0;
    for (const TDriveLetter& d : DriveLetters()) mask |= std::uint32_t{1} << Index(d.Letter);
    return mask;
}

std::optional<TDriveLetter> ResolveDriveLetter(const std::string& drive,
                                               std::unique_ptr<platform::TRawVolume>* opened) {
    if (!platform::IsDriveString(drive)) return std::nullopt;
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(drive[0])));
    // The disks a first split opens are closed when this returns, all but
    // the one the caller is about to read.
    TOpenDisks disks;
    for (const TDriveLetter& d : Letters(opened != nullptr ? &disks : nullptr)) {
        if (d.Letter != letter) continue;
        const auto it = disks.find(d.Path);
        if (it != disks.end() && it->second) *opened = std::move(it->second);
        return d;
    }
    return std::nullopt;
}

}  // namespace scan
