// SPDX-License-Identifier: GPL-3.0-or-later
// dirlstDLB: the folder list. Its rules (levels from the drive's root down to
// the current folder, then the sub-folders sorted; which entries enter; a
// folder that cannot be listed is never entered) are form::TFolderList's;
// this control lists folders on disk and draws the entries.
#pragma once

#include <string>

#include "app/win32/controls.h"
#include "form/folder_list.h"

namespace win32app {

class TFolderList : public TListBox {
public:
    // Shows folder (absolute). False, and nothing changes, when it cannot
    // be listed.
    bool SetDirectory(const std::wstring& folder);
    const std::wstring& Directory() const { return m_folder; }
    // The folder of the highlighted entry; empty when none is.
    std::wstring SelectedFolder() const;
    // The user's input on the highlighted entry: true when it entered it.
    bool EnterSelected(form::TFolderInput input);

private:
    form::TFolderList m_rules;
    std::wstring m_folder;
};

}  // namespace win32app
