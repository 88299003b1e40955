// Dialog units -> pixels, as the Windows dialog manager computes them from a dialog's font, and the
// fonts the dialogs ask for ("宋体", "MS Shell Dlg", "Courier New") mapped to fonts this system has.
// Chinese texts are always given an explicit Simplified Chinese face, so rendering does not depend on
// LANG or on the fallback order of fontconfig.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>

// The base units of a dialog font: baseX = average width of the 52 Latin letters (rounded as Windows
// does: (cx / 26 + 1) / 2), baseY = the font's height. A dialog unit is baseX / 4 pixels across and
// baseY / 8 pixels down.
struct DialogUnits {
    int baseX = 6;
    int baseY = 12;

    int toPixelsX(int units) const;  // rounded to nearest, like MulDiv(units, baseX, 4)
    int toPixelsY(int units) const;  // rounded to nearest, like MulDiv(units, baseY, 8)
    QRect toPixels(int x, int y, int width, int height) const;
};

DialogUnits dialogBaseUnits(const QFont& font);

// The Simplified Chinese family used for every Chinese text: "SimSun" when installed, else the
// first installed of a list of common CJK SC faces, else the first family Qt reports for Simplified
// Chinese; empty when the system has no Chinese font at all.
QString chineseFontFamily();

// A dialog's font for a Windows face name and point size: "宋体" -> the Chinese family; "MS Shell Dlg"
// -> the system sans font with the Chinese family as the fallback for Chinese glyphs; "Courier New"
// -> the system fixed font, Chinese family behind it. Any other face is kept with the same fallback.
QFont dialogFont(const QString& windowsFace, int pointSize);

// Registers the window's compiled-in artwork (":/quenta/icon128.png", ":/quenta/banner137.png",
// ":/quenta/about134.png"); the library is static, so its resources are registered explicitly.
// Idempotent.
void initUiResources();
