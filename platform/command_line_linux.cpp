// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/command_line.h"

namespace platform {

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    if (argc < 1) return {};
    return {argv + 1, argv + argc};
}

void PrepareConsole() {}

}  // namespace platform
