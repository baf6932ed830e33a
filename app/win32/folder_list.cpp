// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/win32/folder_list.h"

#include "app/win32/win_api.h"

namespace win32app {

namespace {

// wchar_t is UTF-16 on Windows.
std::u16string U16(const std::wstring& text) {
    return std::u16string(text.begin(), text.end());
}

std::wstring Wide(const std::u16string& text) {
    return std::wstring(text.begin(), text.end());
}

form::TFolderListing ListFolder(const std::u16string& folder) {
    form::TFolderListing listing;
    if (folder.empty()) return listing;
    const std::wstring pattern = Wide(folder) + (folder.back() == u'\\' ? L"*" : L"\\*");
    WIN32_FIND_DATAW found{};
    HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchLimitToDirectories,
                                   nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return listing;
    listing.Listed = true;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            listing.SubFolders.push_back(U16(found.cFileName));
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return listing;
}

}  // namespace

bool TFolderList::SetDirectory(const std::wstring& folder) {
    const std::u16string path = form::NormalFolder(U16(folder));
    if (!m_rules.Enter(path, ListFolder(path))) return false;
    m_folder = Wide(m_rules.Directory());
    Send(WM_SETREDRAW, FALSE);
    Clear();
    for (const form::TFolderEntry& entry : m_rules.Entries())
        Add(std::wstring(2 * static_cast<std::size_t>(entry.Depth), L' ') + Wide(entry.Text));
    // The current folder is the highlighted entry.
    Select(static_cast<int>(m_rules.CurrentEntry()));
    Send(WM_SETREDRAW, TRUE);
    InvalidateRect(Handle(), nullptr, TRUE);
    return true;
}

std::wstring TFolderList::SelectedFolder() const {
    const int index = Selected();
    if (index < 0) return {};
    const auto folder = m_rules.FolderOf(static_cast<std::size_t>(index));
    return folder ? Wide(*folder) : std::wstring();
}

bool TFolderList::EnterSelected(form::TFolderInput input) {
    return form::EntersFolder(input) && SetDirectory(SelectedFolder());
}

}  // namespace win32app
