// SPDX-License-Identifier: GPL-3.0-or-later
// lumbra-screenshot: the window as the program shows it, driven for the
// documentation's pictures (app/screenshot.h). A build tool only: it is
// never installed or packaged, so the shipped program carries no such mode.
#include <QApplication>

#include "app/qt/fonts.h"
#include "app/qt/main_form.h"
#include "app/qt/message_box.h"
#include "app/qt/screenshot.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(app::ApplicationTitle());
    app::SetUpFonts();
    app::TMainForm form;
    form.show();
    if (!app::ScheduleScreenshot(form)) return 2;
    return QApplication::exec();
}
