// SPDX-License-Identifier: GPL-3.0-or-later
// Program start: one copy at a time, the application title, the main window,
// the message loop. No settings; the only arguments are --version and --help,
// answered before any window, instance token or display is touched.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "app/qt/fonts.h"
#include "app/qt/main_form.h"
#include "app/qt/message_box.h"
#include "app/qt/single_instance.h"
#include "lumbra_version.h"

int main(int argc, char* argv[]) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("lumbra " LUMBRA_VERSION_TEXT);
        return 0;
    }
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::puts(
            "usage: lumbra [--version | --help]\n"
            "Opens the window. Drives on Linux: LUMBRA_DRIVES='D=/path/disk.img;E=/dev/sdb1'\n"
            "(see lumbra(1)). The command-line tool is lumbra-cli.");
        return 0;
    }
    QApplication application(argc, argv);
    // The token exists from here on, so a second start while this copy's
    // window is still coming up ends too, silently and with no window.
    if (!app::ClaimSingleInstance(app::kInstanceName)) return 0;
    QApplication::setApplicationName(app::ApplicationTitle());
    app::SetUpFonts();

    app::TMainForm form;
    form.show();
    const int result = QApplication::exec();
    return result == 0 ? 0 : result;
}
