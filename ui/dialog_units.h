// Dialog units -> pixels, as the Windows dialog manager computes them from a dialog's font, and the
// fonts the dialogs ask for ("宋体", "MS Shell Dlg", "Courier New") mapped to fonts this system has.
// Chinese texts are always given an explicit Simplified Chinese face, so rendering does not depend on
// LANG or on the fallback order of fontconfig.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>

#include <QSize>

// The base units of a dialog font: baseX = average width of the 52 Latin letters (rounded as Windows
// does: (cx / 26 + 1) / 2), baseY = the font's height. A dialog unit is baseX / 4 pixels across and
// baseY / 8 pixels down. Fitted to a small screen (fitDialogToArea) the base units are fractional.
struct DialogUnits {
    double baseX = 6;
    double baseY = 12;

    int toPixelsX(int units) const;  // rounded to nearest, like MulDiv(units, baseX, 4)
    int toPixelsY(int units) const;  // rounded to nearest, like MulDiv(units, baseY, 8)
    QRect toPixels(int x, int y, int width, int height) const;
};

DialogUnits dialogBaseUnits(const QFont& font);

// A dialog's font and base units that make a dialog of `dialogUnits` (width and height in dialog
// units) fit `available` (the screen's available area, in logical pixels) together with `frame` (what
// the window frame adds around it). When the font's own units are too large, the font and the units
// shrink by the same factor, so every text keeps fitting its control; never below half size.
struct FittedDialog {
    QFont font;
    DialogUnits units;
    double factor = 1.0;  // 1: the font's own units fit
};
FittedDialog fitDialogToArea(const QFont& font, QSize dialogUnits, QSize available, QSize frame);

// What a window frame (title bar and borders) adds to a dialog, in logical pixels, for fitting before
// the window exists: about what Windows 10 and common Linux window managers add.
inline constexpr int kFrameAllowanceWidth = 16;
inline constexpr int kFrameAllowanceHeight = 40;

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
