// The window's fonts: Tahoma at a character height in pixels, with fallbacks
// so that Chinese captions never show as boxes.
#pragma once

#include <QFont>

namespace app {

// Registers Tahoma (regular) from Debian's fonts-wine when it is installed (fontconfig
// does not list it) and puts it first in the family list of FontOf. Call once
// after the QApplication exists.
void SetUpFonts();

// Tahoma, `pixels` high (the em height, as a toolkit's negative font height
// means), bold or regular. When Tahoma is missing, or lacks a glyph, the next
// families take over: a sans-serif of similar metrics, then CJK fonts.
QFont FontOf(int pixels, bool bold = false);

}  // namespace app
