// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/qt/fonts.h"

#include <fontconfig/fontconfig.h>

#include <QFontDatabase>
#include <memory>

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

struct TFcDeleter {
    void operator()(FcConfig* p) const { FcConfigDestroy(p); }
    void operator()(FcPattern* p) const { FcPatternDestroy(p); }
    void operator()(FcObjectSet* p) const { FcObjectSetDestroy(p); }
    void operator()(FcFontSet* p) const { FcFontSetDestroy(p); }
};
template <typename T>
using TFcPtr = std::unique_ptr<T, TFcDeleter>;

const FcChar8* FcText(const QByteArray& bytes) {
    return reinterpret_cast<const FcChar8*>(bytes.constData());
}

}  // namespace

QString FindRegularFace(const QString& family, const QStringList& dirs) {
    // A configuration of its own that holds only `dirs`: the system's fonts
    // and the program's font database stay as they are.
    const TFcPtr<FcConfig> config(FcConfigCreate());
    if (!config) return {};
    bool any = false;
    for (const QString& dir : dirs)
        any = FcConfigAppFontAddDir(config.get(), FcText(dir.toLocal8Bit())) || any;
    if (!any) return {};

    const TFcPtr<FcPattern> pattern(FcPatternCreate());
    const TFcPtr<FcObjectSet> objects(FcObjectSetBuild(FC_FILE, FC_WEIGHT, FC_SLANT, nullptr));
    if (!pattern || !objects) return {};
    FcPatternAddString(pattern.get(), FC_FAMILY, FcText(family.toUtf8()));
    FcPatternAddBool(pattern.get(), FC_OUTLINE, FcTrue);
    const TFcPtr<FcFontSet> fonts(FcFontList(config.get(), pattern.get(), objects.get()));
    if (!fonts) return {};

    QString best;
    int bestDistance = 0;
    for (int i = 0; i < fonts->nfont; ++i) {
        FcChar8* file = nullptr;
        int weight = FC_WEIGHT_REGULAR;
        int slant = FC_SLANT_ROMAN;
        if (FcPatternGetString(fonts->fonts[i], FC_FILE, 0, &file) != FcResultMatch) continue;
        FcPatternGetInteger(fonts->fonts[i], FC_WEIGHT, 0, &weight);
        FcPatternGetInteger(fonts->fonts[i], FC_SLANT, 0, &slant);
        if (slant != FC_SLANT_ROMAN || weight > FC_WEIGHT_MEDIUM) continue;
        const int distance =
            weight > FC_WEIGHT_REGULAR ? weight - FC_WEIGHT_REGULAR : FC_WEIGHT_REGULAR - weight;
        if (best.isEmpty() || distance < bestDistance) {
            best = QString::fromLocal8Bit(reinterpret_cast<const char*>(file));
            bestDistance = distance;
        }
    }
    return best;
}

QStringList WineFontDirs(const QByteArray& xdgDataDirs) {
    const QString dirs = xdgDataDirs.isEmpty() ? QStringLiteral("/usr/local/share:/usr/share")
                                               : QString::fromLocal8Bit(xdgDataDirs);
    QStringList out;
    for (QString dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        // Relative entries are not valid in the list; they are passed over.
        if (!dir.startsWith(QLatin1Char('/'))) continue;
        while (dir.size() > 1 && dir.endsWith(QLatin1Char('/'))) dir.chop(1);
        const QString fonts = dir + QStringLiteral("/wine/fonts");
        if (!out.contains(fonts)) out.append(fonts);
    }
    return out;
}

void SetUpFonts() {
    static bool done = false;
    if (done) return;
    done = true;
    const QString tahoma = QStringLiteral("Tahoma");
    if (QFontDatabase::hasFamily(tahoma)) return;
    // Only the regular face of Wine's Tahoma: its tahomabd.ttf is drawn
    // lighter and about 14% wider than Tahoma Bold, so bold captions
    // overflowed their design widths ("Old FileName Save" in its 140 px). The
    // regular face, emboldened by the font engine, keeps Tahoma's advances and
    // looks like its bold.
    const QString regular = FindRegularFace(tahoma, WineFontDirs(qgetenv("XDG_DATA_DIRS")));
    if (!regular.isEmpty()) QFontDatabase::addApplicationFont(regular);
}

QFont FontOf(int pixels, bool bold) {
    QFont font;
    font.setFamilies(Families());
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

}  // namespace app
