// SPDX-License-Identifier: GPL-3.0-or-later
// What the update check decides, with no toolkit and no network in it: the
// files it asks for and keeps, how the published version file reads, which
// version is newer, and when the user is asked at all.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace form {

// Appended to the update endpoint's base URL.
inline constexpr std::string_view kVersionFilePath = "/update/ver.txt";
inline constexpr std::string_view kExecutablePath = "/update/Lumbra.exe";
// Kept in the working directory.
inline constexpr std::string_view kVersionFileName = "ver.txt";
inline constexpr std::string_view kExecutableName = "Lumbra.exe";
inline constexpr std::string_view kOldExecutableName = "Lumbra.old";

// A version of up to four dot-separated decimal numbers; the missing ones
// are 0, so "1.1" is 1.1.0.0.
using TVersion = std::array<std::uint32_t, 4>;
using TSha256 = std::array<std::uint8_t, 32>;

// The version written in `text` after blanks at either end are trimmed;
// nothing when it is not one (empty, a letter, an empty part, a fifth part,
// a number beyond 32 bits).
std::optional<TVersion> ParseVersion(std::u16string_view text);

// The running version as text, "a.b.c.d".
std::u16string VersionText(const std::array<std::uint16_t, 4>& version);

// True only when both are versions and `published` is the greater, number by
// number: 1.0.0.10 is newer than 1.0.0.9, and "1.0.0.0 " is not newer than
// 1.0.0.0. Only then is the user asked.
bool IsNewerVersion(std::u16string_view published, std::u16string_view running);

// Whether the user is asked to update: only for a newer published version
// that could be fetched at all, so never while the executable's URL is not
// https (the answer could change nothing).
bool ShouldAskForUpdate(std::u16string_view published, std::u16string_view running,
                        std::string_view executableUrl);

// The lines of `text`, split at CR LF, CR or LF. A break at the very end
// ends the last line and starts no new one.
std::vector<std::u16string> SplitLines(std::u16string_view text);

// The published version: the file's second line, empty when it has none.
std::u16string PublishedVersionLine(std::u16string_view text);

// The digest the new executable must have: the file's third line when it is
// "sha256=" and 64 hexadecimal digits (either case, blanks at either end
// trimmed); nothing when there is no such line.
std::optional<TSha256> PublishedSha256(std::u16string_view text);

// True when the third line claims a digest ("sha256=...") at all. One that
// does but does not parse must stop the update, not be ignored.
bool ClaimsSha256(std::u16string_view text);

// True when `url` names the https scheme (in any case). The executable is
// fetched only over such a URL; the version file may come over plain http.
bool IsHttpsUrl(std::string_view url);

}  // namespace form
