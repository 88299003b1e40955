// Qt's Chinese texts; see qt_translation.h.
#include "ui/qt_translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>

#include "ss/ss_log.h"

QString qtTranslationsFolder() {
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

int installQtChineseTranslation() {
    static QPointer<QTranslator> installed;  // GUI thread; a child of the application
    if (installed) return 0;
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), qtTranslationsFolder()) &&
        !translator->load(QStringLiteral("qtbase_zh_CN"), QStringLiteral("/usr/share/qt6/translations"))) {
        delete translator;
        SS_LOG(SS_LOG_ERROR, "Qt translation qtbase_zh_CN not found!\n");
        return -1;
    }
    QCoreApplication::installTranslator(translator);
    installed = translator;
    return 0;
}
