// SPDX-License-Identifier: GPL-3.0-or-later
// The program's file version as an ELF note, the Linux stand-in for the
// version resource of the Windows build. platform::ReadFileVersion finds it
// in the executable file; the numbers come from the project's version.
#include <cstdint>

#include "lumbra_version.h"
#include "platform/file_version.h"

namespace {

struct alignas(4) TVersionNote {
    std::uint32_t NameSize;
    std::uint32_t DescSize;
    std::uint32_t Type;
    char Name[8];  // "Lumbra", NUL, padding to 4
    std::uint16_t Version[4];
};
static_assert(sizeof(TVersionNote) == 28);
static_assert(sizeof platform::kVersionNoteOwner == 7);

// A section whose name starts with ".note" becomes SHT_NOTE, and the linker
// gathers it into a PT_NOTE segment, so a stripped file keeps it too.
// Aligned to 4 exactly: a note section aligned more is read as malformed.
[[gnu::used, gnu::section(".note.lumbra.version")]] alignas(4) const TVersionNote kVersionNote = {
    sizeof platform::kVersionNoteOwner,
    8,
    platform::kVersionNoteType,
    {'L', 'u', 'm', 'b', 'r', 'a', '\0', '\0'},
    {LUMBRA_VERSION_MAJOR, LUMBRA_VERSION_MINOR, LUMBRA_VERSION_PATCH, LUMBRA_VERSION_TWEAK},
};

}  // namespace
