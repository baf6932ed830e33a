// Program start: one copy at a time, the application title, the main window,
// the message loop. No arguments, no settings.
#include <QApplication>

#include "app/fonts.h"
#include "app/main_form.h"
#include "app/message_box.h"
#include "app/screenshot.h"
#include "app/single_instance.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // The token exists from here on, so a second start while this copy's
    // window is still coming up ends too, silently and with no window.
    if (!app::ClaimSingleInstance(app::kInstanceName)) return 0;
    QApplication::setApplicationName(QString::fromUtf8(app::kApplicationTitle));
    app::SetUpFonts();

    app::TMainForm form;
    form.show();

    // LUMBRA_SCREENSHOT=file.png: the documentation's pictures (app/screenshot.h).
    app::ScheduleScreenshot(form);
    const int result = QApplication::exec();
    return result == 0 ? 0 : result;
}
