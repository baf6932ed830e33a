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
#include <string>
#include <string_view>
#include <unordered_set>

namespace recover {

enum class TNameRules {
    Posix,    // forbids "/" and NUL; names are at most 255 bytes of UTF-8
    Windows,  // also < > : " | ? *, device names, trailing dots and blanks; 255 UTF-16 units; case-blind
};

// The rules of the file system this program writes to by default.
TNameRules HostNameRules();

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

// folder + separator + name, with no doubled separator after a folder that
// already ends with one (a root). The separator is "\" on Windows.
std::string JoinTargetPath(std::string_view folder, std::string_view name, TNameRules rules);

}  // namespace recover
