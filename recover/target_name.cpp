// SPDX-License-Identifier: GPL-3.0-or-later
#include "recover/target_name.h"

#include <array>

#include "ntfs/text.h"

namespace recover {

namespace {

constexpr std::size_t kMaxNameLength = 255;  // bytes of UTF-8 on Linux, UTF-16 units on Windows

std::u32string FromUtf8(std::string_view text) {
    return ntfs::Utf16ToUtf32(ntfs::Utf8ToUtf16(text));
}

// The length of a code point as the rules count it.
std::size_t Units(char32_t c, TNameRules rules) {
    if (rules == TNameRules::Windows) return c >= 0x10000 ? 2 : 1;
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

std::size_t Length(std::u32string_view text, TNameRules rules) {
    std::size_t n = 0;
    for (const char32_t c : text) n += Units(c, rules);
    return n;
}

bool Forbidden(char32_t c, TNameRules rules) {
    // Everywhere: NUL, both slashes and control characters, so that a name
    // never reads as a path on either system and never hides in a listing.
    if (c < 0x20 || c == 0x7F || c == U'/' || c == U'\\') return true;
    if (rules == TNameRules::Windows) {
        for (const char32_t f : std::u32string_view(U"<>:\"|?*"))
            if (c == f) return true;
    }
    return false;
}

char32_t FoldCase(char32_t c) {
    // Upper case for the alphabets that NTFS's case-blind names fold most
    // often: ASCII, Latin-1, Greek and Cyrillic.
    if (c >= U'a' && c <= U'z') return c - 0x20;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 0x20;
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    return c;
}

// Whether a name opens a device on Windows: the part before the first dot,
// without trailing blanks, is one of the reserved names, in any case.
bool IsDeviceName(std::u32string_view name) {
    std::u32string base(name.substr(0, name.find(U'.')));
    while (!base.empty() && base.back() == U' ') base.pop_back();
    for (char32_t& c : base) c = FoldCase(c);
    static constexpr std::array<std::u32string_view, 6> kPlain = {U"CON", U"PRN",    U"AUX",
                                                                  U"NUL", U"CONIN$", U"CONOUT$"};
    for (const auto d : kPlain)
        if (base == d) return true;
    if (base.size() == 4 && (base.starts_with(U"COM") || base.starts_with(U"LPT"))) {
        const char32_t digit = base[3];
        // Windows counts the superscript digits 1 to 3 as digits here.
        return (digit >= U'0' && digit <= U'9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    }
    return false;
}

// Where the extension begins (at its dot), or npos: a dot at the start
// ("".profile") does not begin an extension.
std::size_t ExtensionStart(std::u32string_view name) {
    const std::size_t dot = name.rfind(U'.');
    return dot == 0 || dot == std::u32string_view::npos ? std::u32string_view::npos : dot;
}

// name with `suffix` before its extension, the stem shortened so that the
// whole fits the length limit. An extension too long to keep whole is
// treated as part of the stem.
std::u32string Compose(std::u32string_view name, std::u32string_view suffix, TNameRules rules) {
    std::size_t split = ExtensionStart(name);
    if (split != std::u32string_view::npos && Length(name.substr(split), rules) > kMaxNameLength / 4)
        split = std::u32string_view::npos;
    if (split == std::u32string_view::npos) split = name.size();
    std::u32string stem(name.substr(0, split));
    const std::u32string_view extension = name.substr(split);
    const std::size_t room = kMaxNameLength - Length(suffix, rules) - Length(extension, rules);
    std::size_t used = 0;
    std::size_t keep = 0;
    while (keep < stem.size() && used + Units(stem[keep], rules) <= room) used += Units(stem[keep++], rules);
    stem.resize(keep);
    std::u32string out = stem;
    out += suffix;
    out += extension;
    if (rules == TNameRules::Windows)
        for (std::size_t i = out.size(); i > 0 && (out[i - 1] == U'.' || out[i - 1] == U' '); --i)
            out[i - 1] = U'_';
    return out;
}

std::u32string SafeName(std::u32string name, std::uint64_t rowIndex, TNameRules rules) {
    for (char32_t& c : name)
        if (Forbidden(c, rules)) c = U'_';
    if (rules == TNameRules::Windows) {
        // Windows drops trailing dots and blanks when it opens a name, so
        // "a." would be written as "a".
        while (!name.empty() && (name.back() == U'.' || name.back() == U' ')) name.pop_back();
        if (IsDeviceName(name)) name.insert(name.begin(), U'_');
    }
    if (name.empty() || name == U"." || name == U"..") return FromUtf8("File_" + std::to_string(rowIndex));
    return Compose(name, U"", rules);
}

std::string Unique(const std::u32string& safe, TNameRules rules, const TWrittenNames& written) {
    std::string candidate = ntfs::Utf32ToUtf8(safe);
    for (std::uint64_t n = 2; written.Contains(candidate); ++n) {
        const std::string suffix = " (" + std::to_string(n) + ")";
        candidate = ntfs::Utf32ToUtf8(Compose(safe, FromUtf8(suffix), rules));
    }
    return candidate;
}

}  // namespace

bool TWrittenNames::Contains(std::string_view name) const {
    if (m_rules == TNameRules::Posix) return m_keys.count(std::string(name)) != 0;
    std::u32string folded = FromUtf8(name);
    for (char32_t& c : folded) c = FoldCase(c);
    return m_keys.count(ntfs::Utf32ToUtf8(folded)) != 0;
}

void TWrittenNames::Add(std::string_view name) {
    if (m_rules == TNameRules::Posix) {
        m_keys.emplace(name);
        return;
    }
    std::u32string folded = FromUtf8(name);
    for (char32_t& c : folded) c = FoldCase(c);
    m_keys.insert(ntfs::Utf32ToUtf8(folded));
}

std::string SafeFileName(std::string_view utf8Name, std::uint64_t rowIndex, TNameRules rules) {
    return ntfs::Utf32ToUtf8(SafeName(FromUtf8(utf8Name), rowIndex, rules));
}

std::string TargetFileName(std::u16string_view name, std::uint64_t rowIndex, TNamingChoice choice,
                           TNameRules rules, const TWrittenNames& written) {
    const std::u32string chosen = choice == TNamingChoice::AutoName
                                      ? FromUtf8("File_" + std::to_string(rowIndex))
                                      : SafeName(ntfs::Utf16ToUtf32(name), rowIndex, rules);
    return Unique(chosen, rules, written);
}

std::string TargetFileName(std::string_view utf8Name, std::uint64_t rowIndex, TNamingChoice choice,
                           TNameRules rules, const TWrittenNames& written) {
    return TargetFileName(ntfs::Utf8ToUtf16(utf8Name), rowIndex, choice, rules, written);
}

std::string FallbackFileName(std::u16string_view name, std::uint64_t rowIndex, TNameRules rules) {
    const std::u32string safe = SafeName(ntfs::Utf16ToUtf32(name), rowIndex, rules);
    std::u32string out = FromUtf8("File_" + std::to_string(rowIndex));
    const std::size_t split = ExtensionStart(safe);
    if (split != std::u32string::npos && safe.size() - split <= 16) out += safe.substr(split);
    return ntfs::Utf32ToUtf8(out);
}

TRunTargets::TFolder& TRunTargets::FolderState(const std::string& folder) {
    auto it = m_folders.find(folder);
    if (it == m_folders.end()) {
        const TNameRules rules = m_fixed ? *m_fixed : FolderNameRules(folder);
        it = m_folders.emplace(folder, TFolder{rules, TWrittenNames(rules)}).first;
    }
    return it->second;
}

TNameRules TRunTargets::RulesOf(const std::string& folder) {
    return FolderState(folder).Rules;
}

namespace {
std::string IdentityKey(const std::pair<std::uint64_t, std::uint64_t>& id) {
    return std::to_string(id.first) + ":" + std::to_string(id.second);
}
}  // namespace

// `name` if its path holds no file this run wrote, else the next " (n)" form.
std::string TRunTargets::Free(const std::string& folder, TFolder& state, const std::string& name) {
    std::string candidate = name;
    const std::u32string wide = FromUtf8(name);
    for (std::uint64_t n = 2;; ++n) {
        if (!state.Names.Contains(candidate)) {
            const std::string path = JoinTargetPath(folder, candidate, HostNameRules());
            const auto id = FileIdentity(path);
            if (!id || m_identities.count(IdentityKey(*id)) == 0) return path;
            // The file system took this name for one the run wrote: keep it apart.
            state.Names.Add(candidate);
        }
        candidate = ntfs::Utf32ToUtf8(Compose(wide, FromUtf8(" (" + std::to_string(n) + ")"), state.Rules));
    }
}

std::string TRunTargets::Target(const std::string& folder, std::u16string_view name, std::uint64_t rowIndex,
                                TNamingChoice choice) {
    TFolder& state = FolderState(folder);
    const std::string chosen = TargetFileName(name, rowIndex, choice, state.Rules, state.Names);
    return Free(folder, state, chosen);
}

std::string TRunTargets::FallbackTarget(const std::string& folder, std::u16string_view name,
                                        std::uint64_t rowIndex) {
    TFolder& state = FolderState(folder);
    const std::string fallback = FallbackFileName(name, rowIndex, state.Rules);
    return Free(folder, state,
                TargetFileName(fallback, rowIndex, TNamingChoice::OldName, state.Rules, state.Names));
}

void TRunTargets::Wrote(const std::string& folder, const std::string& path) {
    TFolder& state = FolderState(folder);
    // Target paths are the folder's prefix and the name.
    state.Names.Add(path.substr(JoinTargetPath(folder, "", HostNameRules()).size()));
    if (const auto id = FileIdentity(path)) m_identities.insert(IdentityKey(*id));
}

std::string JoinTargetPath(std::string_view folder, std::string_view name, TNameRules rules) {
    const char separator = rules == TNameRules::Windows ? '\\' : '/';
    std::string path(folder);
    const bool endsWithSeparator =
        !path.empty() && (path.back() == '/' || (rules == TNameRules::Windows && path.back() == '\\'));
    if (!path.empty() && !endsWithSeparator) path.push_back(separator);
    path += name;
    return path;
}

}  // namespace recover
