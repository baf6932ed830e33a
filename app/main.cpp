// Program start: one copy at a time, the application title, the main window,
// the message loop. No arguments, no settings.
#include <QApplication>
#include <QTimer>

#include "app/fonts.h"
#include "app/main_form.h"
#include "app/message_box.h"
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

    // LUMBRA_SCREENSHOT=file.png: save a picture of the window once it has
    // been drawn, then close (the documentation's screenshot is made so).
    const QString screenshot = qEnvironmentVariable("LUMBRA_SCREENSHOT");
    if (!screenshot.isEmpty()) {
        QTimer::singleShot(1500, &form, [&form, screenshot] {
            form.grab().save(screenshot);
            form.close();
        });
    }
    const int result = QApplication::exec();
    return result == 0 ? 0 : result;
}
