// SPDX-License-Identifier: GPL-3.0-or-later
// One found deleted file: the row the scan hands to its front end, and the
// pure rules that turn a record's fields into the row's texts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "scan/recoverability.h"

namespace scan {

// What only the whole walk tells about a row (see row_details.h).
struct TRowDetails {
    std::string Path;                  // "\Docs\plan.txt"; "?\deep\plan.txt" where the chain broke
    std::vector<std::string> Folders;  // the folders of Path, outermost first, UTF-8
    bool PathBroken = false;
    TRecoverability Recoverability;
};

struct DeletedFileEntry {
    std::string Caption;       // "0x" + the record's byte offset on the volume, upper-case hex
    std::uint64_t Record = 0;  // MFT record number
    std::uint64_t ByteOffset = 0;
    std::u16string Name;             // as stored: UTF-16 units
    std::string NameText;            // UTF-8 (lone surrogates as U+FFFD)
    std::string Extension;           // UTF-8, dot included, or empty
    std::int64_t Size = 0;           // bytes, as the $DATA attribute reports them
    std::string SizeText;            // "k KB"
    std::uint64_t CreationTime = 0;  // file times (UTC)
    std::uint64_t ModificationTime = 0;
    std::string CreateTime;  // local texts; empty when the time does not convert
    std::string LastTime;
    TRowDetails Details;  // filled once the walk is over (TScanSink::OnDetails)
};

// "0x" + upper-case hex, at least two digits.
std::string CaptionText(std::uint64_t byteOffset);

// From the name's last "." to its end, dot included, unless a "\" or ":"
// follows that dot; otherwise empty.
std::u16string ExtensionOf(std::u16string_view name);

// size / 1024 (truncating toward zero) followed by " KB", with 1 for a
// quotient of 0.
std::string SizeText(std::int64_t size);

// A file time as ISO 8601 UTC with milliseconds ("2026-12-09T06:47:43.478Z");
// empty for 2^63 and above or a year past 9999.
std::string FileTimeToUtcIso(std::uint64_t fileTime);

}  // namespace scan
