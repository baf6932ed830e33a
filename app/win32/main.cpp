// SPDX-License-Identifier: GPL-3.0-or-later
// Program start on Windows: one copy at a time, the main window, the
// message loop. No arguments, no settings.
#include "app/win32/win_api.h"

#include "app/win32/main_window.h"
#include "app/win32/single_instance.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    // The token exists from here on, so a second start while this copy's
    // window is still coming up ends too, silently and with no window.
    if (!win32app::ClaimSingleInstance(win32app::kInstanceName)) return 0;

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES |
                                                       ICC_PROGRESS_CLASS | ICC_USEREX_CLASSES};
    InitCommonControlsEx(&controls);

    win32app::TMainForm form;
    if (!form.Create(instance, show)) return 1;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // Tab, shift-tab and the arrow keys move between the controls.
        if (IsDialogMessageW(form.Handle(), &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
