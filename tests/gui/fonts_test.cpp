// SPDX-License-Identifier: GPL-3.0-or-later
// The window's Tahoma: found by name through fontconfig in the folders given,
// only its regular face, and Wine's font folders taken from XDG_DATA_DIRS.
#include <QFile>
#include <QFontInfo>
#include <QTemporaryDir>
#include <QTest>

#include "app/qt/fonts.h"

using app::FindRegularFace;
using app::WineFontDirs;

namespace {

// Debian's fonts-wine, where the tests can copy its faces from.
QString WineFont(const QString& name) {
    for (const QString& dir : WineFontDirs({})) {
        if (QFile::exists(dir + QLatin1Char('/') + name)) return dir + QLatin1Char('/') + name;
    }
    return {};
}

}  // namespace

class TFontsTest : public QObject {
    Q_OBJECT

private slots:
    void WineFontDirsFollowXdgDataDirs_data() {
        QTest::addColumn<QByteArray>("xdg");
        QTest::addColumn<QStringList>("dirs");
        QTest::newRow("unset: the standard folders")
            << QByteArray() << QStringList{"/usr/local/share/wine/fonts", "/usr/share/wine/fonts"};
        QTest::newRow("in the given order") << QByteArray("/opt/share:/usr/share")
                                            << QStringList{"/opt/share/wine/fonts", "/usr/share/wine/fonts"};
        QTest::newRow("trailing slashes, empty and repeated entries")
            << QByteArray("/a/:://a//:/a") << QStringList{"/a/wine/fonts", "//a/wine/fonts"};
        QTest::newRow("relative entries are passed over")
            << QByteArray("share:/usr/share") << QStringList{"/usr/share/wine/fonts"};
    }
    void WineFontDirsFollowXdgDataDirs() {
        QFETCH(QByteArray, xdg);
        QFETCH(QStringList, dirs);
        QCOMPARE(WineFontDirs(xdg), dirs);
    }

    void FindsOnlyTheRegularFaceInTheGivenFolders() {
        const QString regular = WineFont(QStringLiteral("tahoma.ttf"));
        const QString bold = WineFont(QStringLiteral("tahomabd.ttf"));
        if (regular.isEmpty() || bold.isEmpty()) QSKIP("fonts-wine is not installed");
        QTemporaryDir both, boldOnly, empty;
        QVERIFY(QFile::copy(regular, both.filePath("a.ttf")));
        QVERIFY(QFile::copy(bold, both.filePath("b.ttf")));
        QVERIFY(QFile::copy(bold, boldOnly.filePath("b.ttf")));

        // The regular face, whatever its file is called; never the bold one.
        QCOMPARE(FindRegularFace("Tahoma", {both.path()}), both.filePath("a.ttf"));
        QCOMPARE(FindRegularFace("Tahoma", {boldOnly.path()}), QString());
        // Only the folders given count, and no other family stands in.
        QCOMPARE(FindRegularFace("Tahoma", {empty.path()}), QString());
        QCOMPARE(FindRegularFace("Tahoma", {empty.path() + "/missing"}), QString());
        QCOMPARE(FindRegularFace("Tahoma", {}), QString());
        QCOMPARE(FindRegularFace("Verdana", {both.path()}), QString());
        // A face in any one of several folders is found.
        QCOMPARE(FindRegularFace("Tahoma", {empty.path(), boldOnly.path(), both.path()}),
                 both.filePath("a.ttf"));
    }

    void TheWindowFontIsTahomaWhenWineHasIt() {
        if (WineFont(QStringLiteral("tahoma.ttf")).isEmpty()) QSKIP("fonts-wine is not installed");
        app::SetUpFonts();
        QCOMPARE(QFontInfo(app::FontOf(13)).family(), QStringLiteral("Tahoma"));
        QCOMPARE(QFontInfo(app::FontOf(13, true)).family(), QStringLiteral("Tahoma"));
    }
};

QTEST_MAIN(TFontsTest)
#include "fonts_test.moc"
