// SPDX-License-Identifier: GPL-3.0-or-later
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "platform/command_line.h"
#include "platform/win_text.h"

namespace platform {

std::vector<std::string> CommandLineArguments(int, char**) {
    // The same splitting and quoting rules as the C runtime's, on the UTF-16
    // text of the command line.
    int count = 0;
    LPWSTR* args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> out;
    if (args == nullptr) return out;
    for (int i = 1; i < count; ++i) out.push_back(Narrow(args[i]));
    ::LocalFree(args);
    return out;
}

void PrepareConsole() {
    ::SetConsoleOutputCP(CP_UTF8);
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (err != INVALID_HANDLE_VALUE && ::GetConsoleMode(err, &mode))
        ::SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

}  // namespace platform
