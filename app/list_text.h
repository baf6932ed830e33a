// The results list's text rules: the comparison that orders the rows, and the
// text that "Seek" searches. Both fold only the letters a to z, unit by UTF-16
// unit, with no locale rules, so the order and the matches are the same on
// every machine.
#pragma once

#include <QString>
#include <QStringView>
#include <array>

namespace app {

// a to z become A to Z; every other UTF-16 unit stays as it is.
QString UpperAZ(QStringView text);

// The same, in place.
void UpperAZInPlace(QString& text);

// Compares a and b unit by unit after folding a to z. At the first folded
// difference the result is a's unit minus b's; without one it is a's length
// minus b's, so a prefix ranks first and equal-length keys rank equal.
int CompareText(QStringView a, QStringView b);

// Appends the search text of a row's five sub-items to out: the items joined
// with ",", each one in double quotes (inner quotes doubled) when it holds a
// unit from 1 to 32, a double quote or a comma. out is cleared first, so one
// buffer serves a whole pass over the list.
void BuildSearchText(const std::array<QStringView, 5>& subItems, QString& out);

}  // namespace app
