// SPDX-License-Identifier: GPL-3.0-or-later
// The window's fonts: Tahoma at a character height in pixels, with fallbacks
// so that Chinese captions never show as boxes.
#pragma once

#include <QByteArray>
#include <QFont>
#include <QString>
#include <QStringList>

namespace app {

// Makes Tahoma's regular face available and puts Tahoma first in the family
// list of FontOf. A Tahoma that fontconfig lists already is used as it is;
// otherwise the regular face of Wine's Tahoma (Debian's fonts-wine, which
// fontconfig does not list) is looked up through fontconfig in Wine's font
// folders and registered with the application alone. Without either the
// fallbacks take over. Call once after the QApplication exists.
void SetUpFonts();

// Tahoma, `pixels` high (the em height, as a toolkit's negative font height
// means), bold or regular. When Tahoma is missing, or lacks a glyph, the next
// families take over: a sans-serif of similar metrics, then CJK fonts.
QFont FontOf(int pixels, bool bold = false);

// The file of `family`'s upright face nearest to the regular weight (never
// one bolder than medium) among the fonts in `dirs` alone, as fontconfig
// reads them; empty when none is there. No substitution: another family
// never answers for the one asked.
QString FindRegularFace(const QString& family, const QStringList& dirs);

// Wine's font folders: "wine/fonts" under each folder of XDG_DATA_DIRS
// (`xdgDataDirs`, colon-separated; when empty, /usr/local/share:/usr/share as
// the XDG base directory rules say), in that order.
QStringList WineFontDirs(const QByteArray& xdgDataDirs);

}  // namespace app
