// SPDX-License-Identifier: GPL-3.0-or-later
// The file version an executable carries: four 16-bit numbers, shown as
// "a.b.c.d". The update check compares the running program's with the
// published one.
//
// Windows keeps it in the version resource (the fixed file information).
// Linux has no such resource, so the build embeds an ELF note of its own
// (owner kVersionNoteOwner, type kVersionNoteType, four 16-bit numbers in the
// file's byte order) and ReadFileVersion finds it in the file again.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

namespace platform {

using TFileVersion = std::array<std::uint16_t, 4>;

inline constexpr char kVersionNoteOwner[] = "Lumbra";      // with its NUL: 7 bytes
inline constexpr std::uint32_t kVersionNoteType = 0x4C56;  // "VL"

// The version recorded in the file at `path`; nothing when the file cannot be
// read or carries no version.
std::optional<TFileVersion> ReadFileVersion(const std::filesystem::path& path);

// Pure: the version note of an ELF image (32 or 64 bit, either byte order),
// looked for in its note sections and, when the section table is gone, in its
// note segments. Nothing for anything else or for a malformed image.
std::optional<TFileVersion> FindElfVersionNote(std::span<const std::byte> image);

}  // namespace platform
