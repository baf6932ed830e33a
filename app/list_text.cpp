#include "app/list_text.h"

#include <algorithm>

namespace app {

namespace {

inline char16_t Fold(char16_t unit) {
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - (u'a' - u'A')) : unit;
}

bool NeedsQuotes(QStringView item) {
    return std::any_of(item.begin(), item.end(), [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= 1 && u <= 32) || u == u'"' || u == u',';
    });
}

}  // namespace

QString UpperAZ(QStringView text) {
    QString out(text.size(), Qt::Uninitialized);
    QChar* dst = out.data();
    for (qsizetype i = 0; i < text.size(); ++i) dst[i] = QChar(Fold(text[i].unicode()));
    return out;
}

void UpperAZInPlace(QString& text) {
    for (QChar& c : text) c = QChar(Fold(c.unicode()));
}

int CompareText(QStringView a, QStringView b) {
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        const int ua = Fold(a[i].unicode());
        const int ub = Fold(b[i].unicode());
        if (ua != ub) return ua - ub;
    }
    const qsizetype diff = a.size() - b.size();
    return static_cast<int>(std::clamp<qsizetype>(diff, -0x7FFFFFFF, 0x7FFFFFFF));
}

void BuildSearchText(const std::array<QStringView, 5>& subItems, QString& out) {
    out.resize(0);  // keeps the capacity; clear() would free it for every row
    bool first = true;
    for (const QStringView item : subItems) {
        if (!first) out += u',';
        first = false;
        if (!NeedsQuotes(item)) {
            out += item;
            continue;
        }
        out += u'"';
        for (const QChar c : item) {
            if (c == u'"') out += u'"';
            out += c;
        }
        out += u'"';
    }
}

}  // namespace app
