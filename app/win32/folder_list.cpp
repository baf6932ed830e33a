// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/win32/folder_list.h"

#include "app/win32/win_api.h"

#include <algorithm>

namespace win32app {

std::wstring NormalFolder(std::wstring folder) {
    while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
    return folder;
}

std::vector<std::wstring> PathLevels(const std::wstring& folder) {
    const std::wstring path = NormalFolder(folder);
    std::vector<std::wstring> levels;
    if (path.size() < 3) return levels;
    levels.push_back(path.substr(0, 3));
    for (std::size_t i = 3; i <= path.size(); ++i)
        if (i == path.size() || path[i] == L'\\')
            if (i > levels.back().size()) levels.push_back(path.substr(0, i));
    return levels;
}

bool TFolderList::SetDirectory(const std::wstring& folder) {
    const std::wstring path = NormalFolder(folder);
    const std::wstring pattern = path + (path.back() == L'\\' ? L"*" : L"\\*");
    WIN32_FIND_DATAW found{};
    HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchLimitToDirectories,
                                   nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return false;
    std::vector<std::wstring> subFolders;
    do {
        const std::wstring name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || name == L"." || name == L"..")
            continue;
        subFolders.push_back(name);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    std::sort(subFolders.begin(), subFolders.end(), [](const std::wstring& a, const std::wstring& b) {
        return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
    });

    m_folder = path;
    m_paths.clear();
    Send(WM_SETREDRAW, FALSE);
    Clear();
    const std::vector<std::wstring> levels = PathLevels(path);
    for (std::size_t i = 0; i < levels.size(); ++i) {
        const std::wstring& level = levels[i];
        const std::wstring shown = i == 0 ? level : level.substr(level.find_last_of(L'\\') + 1);
        Add(std::wstring(2 * i, L' ') + shown);
        m_paths.push_back(level);
    }
    const std::wstring indent(2 * levels.size(), L' ');
    for (const std::wstring& name : subFolders) {
        Add(indent + name);
        m_paths.push_back(path + (path.back() == L'\\' ? L"" : L"\\") + name);
    }
    // The current folder is the highlighted entry.
    Select(static_cast<int>(levels.size()) - 1);
    Send(WM_SETREDRAW, TRUE);
    InvalidateRect(Handle(), nullptr, TRUE);
    return true;
}

std::wstring TFolderList::SelectedFolder() const {
    const int index = Selected();
    if (index < 0 || static_cast<std::size_t>(index) >= m_paths.size()) return {};
    return m_paths[static_cast<std::size_t>(index)];
}

}  // namespace win32app
