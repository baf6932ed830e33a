// SPDX-License-Identifier: GPL-3.0-or-later
#include "form/folder_list.h"

#include <algorithm>

#include "form/toolkit_free.h"

namespace form {

namespace {

bool IsLetter(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

bool DriveRooted(std::u16string_view path) {
    return path.size() >= 2 && IsLetter(path[0]) && path[1] == u':' &&
           (path.size() == 2 || path[2] == u'\\' || path[2] == u'/');
}

char16_t FoldAz(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

}  // namespace

std::u16string NormalFolder(std::u16string_view path) {
    std::u16string root;
    char16_t separator = u'/';
    std::u16string_view rest;
    if (!path.empty() && path[0] == u'/') {
        root = u"/";
        rest = path.substr(1);
    } else if (DriveRooted(path)) {
        separator = u'\\';
        root = std::u16string(path.substr(0, 2)) + u'\\';
        rest = path.substr(std::min<std::size_t>(path.size(), 3));
    } else {
        return {};
    }
    // Each name between separators; "." stays, ".." climbs, never above the root.
    std::vector<std::u16string> names;
    std::size_t pos = 0;
    while (pos <= rest.size()) {
        std::size_t end = pos;
        while (end < rest.size() && rest[end] != u'/' && !(separator == u'\\' && rest[end] == u'\\')) ++end;
        const std::u16string_view name = rest.substr(pos, end - pos);
        if (name == u"..") {
            if (!names.empty()) names.pop_back();
        } else if (!name.empty() && name != u".") {
            names.emplace_back(name);
        }
        pos = end + 1;
    }
    std::u16string folder = root;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) folder += separator;
        folder += names[i];
    }
    return folder;
}

std::vector<std::u16string> PathLevels(std::u16string_view folder) {
    const std::u16string path = NormalFolder(folder);
    std::vector<std::u16string> levels;
    if (path.empty()) return levels;
    const std::size_t rootLength = path[0] == u'/' ? 1 : 3;
    levels.push_back(path.substr(0, rootLength));
    const char16_t separator = path[0] == u'/' ? u'/' : u'\\';
    for (std::size_t i = rootLength; i <= path.size(); ++i)
        if ((i == path.size() || path[i] == separator) && i > levels.back().size())
            levels.push_back(path.substr(0, i));
    return levels;
}

std::u16string SubFolderPath(std::u16string_view folder, std::u16string_view name) {
    std::u16string path(folder);
    const char16_t separator = DriveRooted(folder) ? u'\\' : u'/';
    if (!path.empty() && path.back() != separator) path += separator;
    return path + std::u16string(name);
}

void SortSubFolders(std::vector<std::u16string>& names) {
    const auto folded = [](std::u16string name) {
        for (char16_t& c : name) c = FoldAz(c);
        return name;
    };
    std::sort(names.begin(), names.end(), [&](const std::u16string& a, const std::u16string& b) {
        const std::u16string fa = folded(a), fb = folded(b);
        return fa != fb ? fa < fb : a < b;
    });
}

bool EntersFolder(TFolderInput input) {
    return input == TFolderInput::DoubleClick || input == TFolderInput::EnterKey;
}

bool TFolderList::Enter(std::u16string_view folder, const TFolderListing& listing) {
    const std::u16string path = NormalFolder(folder);
    if (path.empty() || !listing.Listed) return false;
    std::vector<TFolderEntry> entries;
    const std::vector<std::u16string> levels = PathLevels(path);
    for (std::size_t i = 0; i < levels.size(); ++i) {
        const std::u16string& level = levels[i];
        const std::size_t cut = level.find_last_of(path[0] == u'/' ? u'/' : u'\\');
        std::u16string text = i == 0 ? level : level.substr(cut + 1);
        entries.push_back({std::move(text), level, static_cast<int>(i), true});
    }
    std::vector<std::u16string> names = listing.SubFolders;
    SortSubFolders(names);
    for (const std::u16string& name : names) {
        // Names a listing should never give: they would leave the folder.
        if (name.empty() || name == u"." || name == u".." ||
            name.find_first_of(path[0] == u'/' ? u"/" : u"\\/") != std::u16string::npos)
            continue;
        entries.push_back({name, SubFolderPath(path, name), static_cast<int>(levels.size()), false});
    }
    m_directory = path;
    m_entries = std::move(entries);
    m_current = levels.size() - 1;
    return true;
}

std::optional<std::u16string> TFolderList::FolderOf(std::size_t index) const {
    if (index >= m_entries.size()) return std::nullopt;
    return m_entries[index].Path;
}

}  // namespace form
