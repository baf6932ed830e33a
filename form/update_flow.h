// SPDX-License-Identifier: GPL-3.0-or-later
// The update check's run, as the Win32 window takes it: fetch the version file,
// keep it as "ver.txt", read it back and show it, compare its second line
// with the running version, ask, and on consent download the new executable
// under the wait box. The window lends its network, files, memo, wait box
// and question box through TUpdateSteps; what is asked, what is decided,
// and in which order, is decided here. No failure is ever shown: any step that fails ends the
// check quietly.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "form/main_view.h"
#include "form/update_rules.h"

namespace form {

class TUpdateSteps {
public:
    virtual ~TUpdateSteps() = default;
    // The version file's bytes as the server sent them; nothing on any
    // failure (no answer, an error status, a time-out).
    virtual std::optional<std::string> FetchVersionFile() = 0;
    // Keeps the bytes as "ver.txt" (created or replaced) and reads the file
    // back, decoded as the memo would load it (DecodeVersionFile); nothing
    // when either fails.
    virtual std::optional<std::u16string> KeepVersionFile(const std::string& bytes) = 0;
    // The memo shows the file, line by line.
    virtual void ShowVersionFile(const std::vector<std::u16string>& lines) = 0;
    // The running executable's file version, "a.b.c.d".
    virtual std::u16string RunningVersion() = 0;
    // Where the new executable would come from.
    virtual std::string ExecutableUrl() = 0;
    // The window's question box (TMainView::Ask); true only for Yes.
    virtual bool Ask(std::u16string_view text, TQuestionKind kind) = 0;
    virtual void ShowWaitHint() = 0;
    virtual void HideWaitHint() = 0;
    // Downloads the executable to a temporary file and swaps it in, checked
    // against digest when the version file publishes one.
    virtual void DownloadAndSwap(const std::optional<TSha256>& digest) = 0;
};

void RunUpdateCheck(TUpdateSteps& steps);

// The version file's text: a UTF-8 or UTF-16 (LE or BE) byte-order mark
// selects that encoding and is dropped; without one the bytes are in the
// system's 8-bit code page, which systemCodePage decodes.
std::u16string DecodeVersionFile(std::string_view bytes,
                                 const std::function<std::u16string(std::string_view)>& systemCodePage);

// The wait box: 300 x 60 (shown 4 pixels taller, as every hint), its corner
// 100 pixels up and left of the middle of the virtual screen, then moved
// onto the monitor nearest that corner (right and bottom edges first, so a
// box larger than the monitor keeps its top-left corner on it). Rectangles
// are left, top, right, bottom with the right and bottom edges outside.
struct TScreenRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    bool operator==(const TScreenRect&) const = default;
};
TScreenRect WaitHintRect(int virtualWidth, int virtualHeight, const std::vector<TScreenRect>& monitors);

}  // namespace form
