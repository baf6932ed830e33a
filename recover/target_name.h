// SPDX-License-Identifier: GPL-3.0-or-later
// Target names: the name a recovered file gets in the output folder.
//
// A file name read from a deleted record is untrusted: a damaged or crafted
// volume can put "/", "\", "..", NUL or control characters in it, or a name
// that Windows takes for a device. The name is made safe for the output
// file system so that the target always lies directly in the output folder,
// and made unique within one recovery run so that two rows with the same
// name give two files. A file that was in the folder before the run is still
// replaced: only names this run wrote count as taken.
//
// The rules of both platforms are plain functions of their arguments, so
// Windows naming is tested on Linux too.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_set>
#include <utility>

namespace recover {

enum class TNameRules {
    Posix,    // forbids "/" and NUL; names are at most 255 bytes of UTF-8
    Windows,  // also < > : " | ? *, device names, trailing dots and blanks; 255 UTF-16 units; case-blind
};

// The rules of the file system this program writes to by default.
TNameRules HostNameRules();

// The rules of the file system that holds `folder` (UTF-8). On Linux a FAT,
// exFAT or NTFS folder, or any folder that compares names case-blind or
// refuses a character Windows forbids (found by creating and removing two
// probe files), gets the Windows rules: otherwise Report.doc and REPORT.DOC
// would land on one file and "what?.txt" would not be written at all. A
// folder that cannot be probed keeps the host's rules.
TNameRules FolderNameRules(const std::string& folder);

// Whether an output error (errno, or GetLastError on Windows) may come from
// the name itself, so that writing under a safe name could succeed: not for a
// full disk, a file size limit, a read-only medium or an I/O error.
bool OutputErrorMayBeTheName(int error);

// An identity of the file at `path` that survives renames (device and inode
// on Linux); empty where the platform or the file gives none.
std::optional<std::pair<std::uint64_t, std::uint64_t>> FileIdentity(const std::string& path);

enum class TNamingChoice {
    OldName,   // the row's file name, made safe
    AutoName,  // "File_" and the row's index
};

// Names written by one recovery run, compared as the output file system
// compares names (case-blind on Windows).
class TWrittenNames {
public:
    explicit TWrittenNames(TNameRules rules) : m_rules(rules) {}
    bool Contains(std::string_view name) const;
    void Add(std::string_view name);

private:
    TNameRules m_rules;
    std::unordered_set<std::string> m_keys;
};

// The row's name made safe: characters the rules forbid, "\" and control
// characters (everywhere, so that a name never reads as a path) become "_";
// on Windows trailing dots and blanks are dropped and device names ("CON",
// "nul.txt", "COM1.tar.gz") get a leading "_"; a name then empty, "." or ".."
// becomes "File_" + rowIndex; a name too long is shortened before its
// extension. Malformed UTF-8 or lone surrogates become U+FFFD.
std::string SafeFileName(std::string_view utf8Name, std::uint64_t rowIndex, TNameRules rules);

// The name to write a row's file under: by the naming choice, made safe,
// and, when this run already wrote that name, with " (2)", " (3)", ... put
// before the extension. The caller adds the name to `written` once the file
// is written.
std::string TargetFileName(std::string_view utf8Name, std::uint64_t rowIndex, TNamingChoice choice,
                           TNameRules rules, const TWrittenNames& written);
std::string TargetFileName(std::u16string_view name, std::uint64_t rowIndex, TNamingChoice choice,
                           TNameRules rules, const TWrittenNames& written);

// The safe name a file falls back to when its own name cannot be written:
// "File_" + rowIndex + the extension of its safe name (at most 16 units).
std::string FallbackFileName(std::u16string_view name, std::uint64_t rowIndex, TNameRules rules);

// Target names for one recovery run, folder by folder: the folder's rules are
// found once, names are made unique as that folder compares them, and a file
// this run wrote is never replaced by a later one, even where the file system
// folds names in a way the rules do not foresee.
class TRunTargets {
public:
    // `rules` fixes the rules for every folder (tests); empty: each folder's own.
    explicit TRunTargets(std::optional<TNameRules> rules = std::nullopt) : m_fixed(rules) {}

    // What a write under one name came to.
    enum class TWriteOutcome {
        Written,
        OutputFailed,  // the folder did not take the file under this name
        Skipped,       // for the record's sake: another name would not help
    };

    // Writes a row's file through `write` (target path -> TWriteOutcome and
    // the caller's result): under its chosen name and, when the output fails
    // there, once more under FallbackFileName, so that a name the folder
    // refuses never costs the file. `target` is the last path tried.
    template <typename TWrite>
    auto Write(const std::string& folder, std::u16string_view name, std::uint64_t rowIndex,
               TNamingChoice choice, const TWrite& write, std::string& target)
        -> decltype(write(target).second) {
        target = Target(folder, name, rowIndex, choice);
        auto [outcome, result] = write(target);
        if (outcome == TWriteOutcome::OutputFailed && choice == TNamingChoice::OldName) {
            const std::string fallback = FallbackTarget(folder, name, rowIndex);
            if (fallback != target) {
                target = fallback;
                std::tie(outcome, result) = write(target);
            }
        }
        if (outcome == TWriteOutcome::Written) Wrote(folder, target);
        return result;
    }

    // The path for a row, unique among the files this run wrote to `folder`;
    // joined with the host's separator whatever rules the folder names by.
    std::string Target(const std::string& folder, std::u16string_view name, std::uint64_t rowIndex,
                       TNamingChoice choice);
    std::string FallbackTarget(const std::string& folder, std::u16string_view name, std::uint64_t rowIndex);
    // Records that the run wrote `path` (a path Target returned).
    void Wrote(const std::string& folder, const std::string& path);
    TNameRules RulesOf(const std::string& folder);

private:
    struct TFolder {
        TNameRules Rules;
        TWrittenNames Names;
    };
    TFolder& FolderState(const std::string& folder);
    std::string Free(const std::string& folder, TFolder& state, const std::string& name);

    std::optional<TNameRules> m_fixed;
    std::map<std::string, TFolder> m_folders;
    std::unordered_set<std::string> m_identities;  // of the files written, as text
};

// folder + separator + name, with no doubled separator after a folder that
// already ends with one (a root). The separator is "\" on Windows.
std::string JoinTargetPath(std::string_view folder, std::string_view name, TNameRules rules);

}  // namespace recover
