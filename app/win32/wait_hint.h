// SPDX-License-Identifier: GPL-3.0-or-later
// MyNoWaitWnd, the wait box shown while the update downloads: a borderless
// pop-up with a thin border and the system's drop shadow that stays on top,
// takes no focus and has no taskbar entry. It is layered, so it is drawn
// whole at once even while the UI thread is busy with the download.
//
// It paints both of its texts itself, whenever it is painted, so a box that
// is covered and uncovered during the download still reads right.
#pragma once

#include "app/win32/win_api.h"

#include <string>

namespace win32app {

class TWaitHint {
public:
    TWaitHint() = default;
    ~TWaitHint() { ReleaseWindow(); }
    TWaitHint(const TWaitHint&) = delete;
    TWaitHint& operator=(const TWaitHint&) = delete;

    // Shows the box with `caption` at `rect` (screen pixels), top-most and
    // without taking the focus, painted before this returns.
    void ActivateHint(HWND owner, const RECT& rect, const std::wstring& caption);
    // A second text, drawn at `at` (box coordinates) in the box's font.
    void DrawMessage(POINT at, const std::wstring& text);
    // Takes the box off the screen and destroys its window; the object stays
    // for the next ActivateHint.
    void ReleaseWindow();

    HWND Handle() const { return m_hwnd; }

private:
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM w, LPARAM l);
    void Paint();

    HWND m_hwnd = nullptr;
    HFONT m_font = nullptr;
    std::wstring m_caption;
    std::wstring m_message;
    POINT m_messageAt{};
};

// Where the box goes: 300 x 64 with its top-left corner 100 pixels left of
// and above the middle of the virtual screen (all monitors), moved where it
// would stick out so that it lies within the monitor nearest to that corner.
RECT WaitHintRect();

}  // namespace win32app
