// SPDX-License-Identifier: GPL-3.0-or-later
// The results list's text rules: sort order and search text, table-tested.
#include <QTest>

#include <array>

#include "app/qt/results_model.h"
#include "form/result_rows.h"

namespace {

// The list's text rules (form/result_rows.h), with Qt's strings.
std::u16string_view View(QStringView text) {
    return {text.utf16(), static_cast<std::size_t>(text.size())};
}

int CompareText(QStringView a, QStringView b) {
    return form::CompareText(View(a), View(b));
}

QString UpperAZ(QStringView text) {
    return app::ToQString(form::UpperAZ(View(text)));
}

void BuildSearchText(const std::array<QString, 5>& items, QString& out) {
    std::u16string text = out.toStdU16String();
    form::BuildSearchText({View(items[0]), View(items[1]), View(items[2]), View(items[3]), View(items[4])},
                          text);
    out = app::ToQString(text);
}

}  // namespace

class TListTextTest : public QObject {
    Q_OBJECT

private slots:
    void CompareRanks_data() {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<int>("sign");  // of CompareText(first, second)
        QTest::newRow("captions are text, not numbers") << "0x1000"
                                                        << "0x200" << -1;
        QTest::newRow("sizes are text, not numbers") << "10 KB"
                                                     << "9 KB" << -1;
        QTest::newRow("a prefix ranks first") << "abc"
                                              << "abcd" << -1;
        QTest::newRow("longer after prefix") << "ABCD"
                                             << "abc" << 1;
        QTest::newRow("a-z fold: equal") << "Report.TXT"
                                         << "report.txt" << 0;
        QTest::newRow("lower letter above underscore") << "alpha"
                                                       << "_alpha" << -1;
        QTest::newRow("upper letter above underscore") << "Alpha"
                                                       << "_alpha" << -1;
        QTest::newRow("accented letters are not folded")
            << QStringLiteral(u"\u00e9t\u00e9") << QStringLiteral(u"\u00c9t\u00c9") << 1;
        QTest::newRow("sharp s is not folded") << QStringLiteral(u"stra\u00dfe") << "STRASSE" << 1;
        QTest::newRow("empty ranks first") << ""
                                           << "a" << -1;
        QTest::newRow("both empty") << ""
                                    << "" << 0;
        // UTF-16 units, not code points: a surrogate (U+D83D) ranks above U+FF01.
        QTest::newRow("utf-16 units") << QStringLiteral(u"\U0001F600") << QStringLiteral(u"\uFF01") << -1;
        QTest::newRow("dates compare as text") << "2024/1/9"
                                               << "2024/10/1" << -1;  // "/" is below "0"
        QTest::newRow("later day, earlier text") << "2024/5/10"
                                                 << "2024/5/9" << -1;
    }
    void CompareRanks() {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(int, sign);
        const int result = CompareText(first, second);
        QCOMPARE((result > 0) - (result < 0), sign);
        const int reverse = CompareText(second, first);
        QCOMPARE((reverse > 0) - (reverse < 0), -sign);
    }

    void CompareGivesUnitDifference() {
        // The first differing folded units' difference, as the sort contract says.
        QCOMPARE(CompareText(u"abc", u"abE"), int(u'C') - int(u'E'));
        QCOMPARE(CompareText(u"ab", u"abcde"), -3);
    }

    void UpperFoldsOnlyAtoZ() {
        QCOMPARE(UpperAZ(u"azAZ09_"), QStringLiteral("AZAZ09_"));
        QCOMPARE(UpperAZ(u"\u00e4\u00df\u03b1\u0444"), QStringLiteral(u"\u00e4\u00df\u03b1\u0444"));
        QCOMPARE(UpperAZ(u""), QString());
    }

    void SearchTextQuotes_data() {
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain items") << QStringList{"a.txt", ".txt", "1", "x", "y"} << "a.txt,.txt,1,x,y";
        QTest::newRow("blank quotes the size") << QStringList{"a.txt", ".txt", "1 KB", "2024/1/1", "2024/1/2"}
                                               << R"(a.txt,.txt,"1 KB",2024/1/1,2024/1/2)";
        QTest::newRow("inner quote doubled")
            << QStringList{"say\"hi\"", "", "", "", ""} << R"("say""hi""",,,,)";
        QTest::newRow("comma") << QStringList{"a,b", "", "", "", ""} << R"("a,b",,,,)";
        QTest::newRow("control character") << QStringList{QStringLiteral(u"a\u0001b"), "", "", "", ""}
                                           << QStringLiteral(u"\"a\u0001b\",,,,");
        QTest::newRow("unit 33 needs no quotes") << QStringList{"a!b", "", "", "", ""} << "a!b,,,,";
        QTest::newRow("non-ASCII needs no quotes")
            << QStringList{QStringLiteral(u"\u6587\u4ef6"), "", "", "", ""}
            << QStringLiteral(u"\u6587\u4ef6,,,,");
    }
    void SearchTextQuotes() {
        QFETCH(QStringList, items);
        QFETCH(QString, expected);
        QString out = QStringLiteral("left over from the previous row");
        BuildSearchText({items[0], items[1], items[2], items[3], items[4]}, out);
        QCOMPARE(out, expected);
    }
};

QTEST_APPLESS_MAIN(TListTextTest)
#include "list_text_test.moc"
