// SPDX-License-Identifier: GPL-3.0-or-later
// dirlstDLB: the folder list. One entry per level from the drive's root down
// to the current folder, then the current folder's sub-folders in sorted
// order. Entering an entry (double-click, Enter) makes it the current folder;
// a single click only highlights it.
#pragma once

#include <string>
#include <vector>

#include "app/win32/controls.h"

namespace win32app {

// The levels of an absolute path: "C:\", "C:\a", "C:\a\b" for "C:\a\b".
// Roots keep their backslash; other folders have none at the end.
std::vector<std::wstring> PathLevels(const std::wstring& folder);

// The folder in its shown form: a drive root "C:\", any other folder
// without a trailing backslash.
std::wstring NormalFolder(std::wstring folder);

class TFolderList : public TListBox {
public:
    // Shows folder (absolute). False, and nothing changes, when it cannot
    // be listed.
    bool SetDirectory(const std::wstring& folder);
    const std::wstring& Directory() const { return m_folder; }
    // The folder of the highlighted entry; empty when none is.
    std::wstring SelectedFolder() const;

private:
    std::wstring m_folder;
    std::vector<std::wstring> m_paths;  // per entry
};

}  // namespace win32app
