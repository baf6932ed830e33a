// SPDX-License-Identifier: GPL-3.0-or-later
// The output folder's drive selector (drvcbbDCB) and folder list: which
// drives the selector offers, and the folder last entered on each of them.
#include "app/win32/main_window.h"

#include <string>

#include "form/texts.h"

namespace win32app {

void TMainForm::FillDriveSelector() {
    drvcbbDCB.Send(CB_RESETCONTENT);
    m_driveRoots.clear();
    const DWORD mask = GetLogicalDrives();
    const std::wstring current = dirlstDLB.Directory().substr(0, 3);
    for (int i = 0; i < 26; ++i) {
        if ((mask & (DWORD{1} << i)) == 0) continue;
        const std::wstring root{static_cast<wchar_t>(L'A' + i), L':', L'\\'};
        const UINT kind = GetDriveTypeW(root.c_str());
        if (kind != DRIVE_REMOVABLE && kind != DRIVE_FIXED && kind != DRIVE_REMOTE && kind != DRIVE_CDROM &&
            kind != DRIVE_RAMDISK)
            continue;
        std::wstring text{static_cast<wchar_t>(L'a' + i), L':'};
        if (kind == DRIVE_FIXED || kind == DRIVE_CDROM || kind == DRIVE_RAMDISK) {
            // Asking a CD drive without a disc for its label would wait on it.
            wchar_t label[MAX_PATH + 1] = {};
            const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
            GetVolumeInformationW(root.c_str(), label, MAX_PATH + 1, nullptr, nullptr, nullptr, nullptr, 0);
            SetErrorMode(oldMode);
            text += L" [";
            text += label;
            text += L"]";
        }
        // Network drives show the letter alone: the share's name would need
        // mpr.dll, which the program does not import.
        drvcbbDCB.Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
        if (CompareStringOrdinal(root.c_str(), -1, current.c_str(), -1, TRUE) == CSTR_EQUAL)
            drvcbbDCB.Send(CB_SETCURSEL, m_driveRoots.size());
        m_driveRoots.push_back(root);
    }
    m_driveFolders[current] = dirlstDLB.Directory();
}

void TMainForm::drvcbbDCBChange() {
    const LRESULT index = drvcbbDCB.Send(CB_GETCURSEL);
    if (index < 0 || static_cast<std::size_t>(index) >= m_driveRoots.size()) return;
    const std::wstring& root = m_driveRoots[static_cast<std::size_t>(index)];
    // The folder last entered on that drive, or its root.
    const auto known = m_driveFolders.find(root);
    const std::wstring target = known != m_driveFolders.end() ? known->second : root;
    if (dirlstDLB.SetDirectory(target) || (target != root && dirlstDLB.SetDirectory(root))) {
        dirlstDLBChange();
        return;
    }
    // Back to the drive of the folder still shown.
    FillDriveSelector();
    ShowMessage(form::texts::Fill(form::texts::kDriveCannotOpen, std::u16string(root.begin(), root.end())));
}

void TMainForm::dirlstDLBChange() {
    const std::wstring& folder = dirlstDLB.Directory();
    edtPath.SetText(folder);
    m_driveFolders[folder.substr(0, 3)] = folder;
}

}  // namespace win32app
