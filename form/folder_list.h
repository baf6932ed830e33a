// SPDX-License-Identifier: GPL-3.0-or-later
// The folder list's rules, shared by both windows: the list shows the path
// from the root down to the current folder, one entry per level, then the
// current folder's sub-folders in sorted order. A single click only
// highlights an entry; a double click or Enter enters it. A folder that
// cannot be listed is never entered, so the current folder (where the
// recovery writes) is always one that opened.
//
// Paths are either "/"-rooted (Linux) or drive-rooted ("C:\", Windows); each
// function follows the form of the path it is given. The window lists the
// folder on disk and hands the result in; nothing here touches a disk.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace form {

// The folder in the form the list reports it: "." and ".." resolved,
// repeated separators folded, "/" read as "\" on a drive-rooted path; a root
// is "/" or "C:\", any other folder has no separator at its end. Empty when
// the path is not absolute (neither "/"-rooted nor drive-rooted).
std::u16string NormalFolder(std::u16string_view path);

// The levels of a normal folder from its root down: "/", "/a", "/a/b" for
// "/a/b"; "C:\", "C:\a" for "C:\a". Empty for a path that is not absolute.
std::vector<std::u16string> PathLevels(std::u16string_view folder);

// The path of a sub-folder `name` of a normal folder.
std::u16string SubFolderPath(std::u16string_view folder, std::u16string_view name);

// Sorts sub-folder names as the list shows them: letters a to z folded to
// upper case, then by UTF-16 code units, so that the order is the same
// on every machine.
void SortSubFolders(std::vector<std::u16string>& names);

// What the user did to an entry.
enum class TFolderInput { Click, DoubleClick, EnterKey };
// Whether the input enters the entry's folder (a click only highlights it).
bool EntersFolder(TFolderInput input);

// What the window found when it listed a folder.
struct TFolderListing {
    bool Listed = false;                     // the folder exists and may be read
    std::vector<std::u16string> SubFolders;  // names, in any order
};

struct TFolderEntry {
    std::u16string Text;  // the level's or sub-folder's own name ("/" or "C:\" for the root)
    std::u16string Path;  // the folder the entry enters
    int Depth = 0;        // indentation steps
    bool Level = false;   // a level of the current path (true) or a sub-folder
};

// The list's entries for the current folder.
class TFolderList {
public:
    // Makes `folder` (normal) the current folder with the entries `listing`
    // gives. False, and nothing changes, when it was not listed or is not
    // absolute. True also when it is already the current folder (the
    // entries are refreshed).
    bool Enter(std::u16string_view folder, const TFolderListing& listing);

    const std::u16string& Directory() const { return m_directory; }
    const std::vector<TFolderEntry>& Entries() const { return m_entries; }
    // The entry of the current folder: the last level, highlighted after each Enter.
    std::size_t CurrentEntry() const { return m_current; }
    // The folder that entry `index` enters; empty for no such entry.
    std::optional<std::u16string> FolderOf(std::size_t index) const;

private:
    std::u16string m_directory;
    std::vector<TFolderEntry> m_entries;
    std::size_t m_current = 0;
};

}  // namespace form
