#include "app/fonts.h"

#include <QFile>
#include <QFontDatabase>
#include <QStringList>

namespace app {

namespace {

const QStringList& Families() {
    static const QStringList families = {
        QStringLiteral("Tahoma"),
        // Similar width and x-height to Tahoma, when it is not installed.
        QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"), QStringLiteral("Verdana"),
        // Chinese captions.
        QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("WenQuanYi Zen Hei"),
        QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Microsoft YaHei"), QStringLiteral("SimSun"),
        QStringLiteral("sans-serif")};
    return families;
}

}  // namespace

void SetUpFonts() {
    static bool done = false;
    if (done) return;
    done = true;
    // Only the regular face: Wine's tahomabd.ttf is drawn lighter and about
    // 14% wider than Tahoma Bold, so bold captions overflowed their design
    // widths ("Old FileName Save" in its 140 px). The regular face, emboldened
    // by the font engine, keeps Tahoma's advances and looks like its bold.
    const QString regular = QStringLiteral("/usr/share/wine/fonts/tahoma.ttf");
    if (QFile::exists(regular)) QFontDatabase::addApplicationFont(regular);
}

QFont FontOf(int pixels, bool bold) {
    QFont font;
    font.setFamilies(Families());
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

}  // namespace app
