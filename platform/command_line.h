// SPDX-License-Identifier: GPL-3.0-or-later
// The program's arguments as UTF-8.
//
// Linux hands main() the bytes that were typed, UTF-8 on any current system.
// Windows hands main() its arguments converted to the ANSI code page, which
// holds few of the characters a folder name may have: "récupéré-文件" comes
// out as bytes that are not UTF-8 and "??" for what the page lacks, so the
// output folder would be wrong or unusable. There they are taken from the
// UTF-16 command line instead.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The arguments after the program's name, as UTF-8.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Makes the console show what the program writes as UTF-8, and lets the
// progress line's terminal escapes work (Windows consoles take neither by
// default; elsewhere there is nothing to do).
void PrepareConsole();

}  // namespace platform
