// Qt's own texts in Simplified Chinese: the file dialog, the line edits' context menus and the
// standard buttons come from Qt's qtbase translation for zh_CN (Debian: qt6-translations-l10n),
// loaded once at start-up whatever the locale of the process, as the window's own texts are Chinese.
#pragma once

#include <QString>

// Installs the qtbase zh_CN translation into the application (needs the QCoreApplication). Returns
// 0, or -1 when the translation file is missing (logged; Qt then keeps its English texts). Idempotent.
int installQtChineseTranslation();

// The folder searched first for qtbase_zh_CN.qm: Qt's translations path.
QString qtTranslationsFolder();
