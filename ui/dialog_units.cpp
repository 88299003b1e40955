// Dialog units and font mapping; see dialog_units.h.
#include "ui/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>

namespace {

// MulDiv rounds half away from zero; every value here is non-negative except rare negative offsets.
int mulDiv(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    if (product >= 0) return static_cast<int>((product + denominator / 2) / denominator);
    return -static_cast<int>((-product + denominator / 2) / denominator);
}

QStringList withChineseFallback(const QString& first) {
    QStringList families{first};
    const QString chinese = chineseFontFamily();
    if (!chinese.isEmpty() && chinese != first) families << chinese;
    return families;
}

}  // namespace

int DialogUnits::toPixelsX(int units) const {
    return mulDiv(units, baseX, 4);
}
int DialogUnits::toPixelsY(int units) const {
    return mulDiv(units, baseY, 8);
}

QRect DialogUnits::toPixels(int x, int y, int width, int height) const {
    return QRect(toPixelsX(x), toPixelsY(y), toPixelsX(width), toPixelsY(height));
}

DialogUnits dialogBaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int cx =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    DialogUnits units;
    units.baseX = (cx / 26 + 1) / 2;
    units.baseY = metrics.height();
    if (units.baseX <= 0) units.baseX = 1;
    if (units.baseY <= 0) units.baseY = 1;
    return units;
}

QString chineseFontFamily() {
    static const QString chosen = [] {
        const QStringList installed = QFontDatabase::families();
        const QStringList preferred{QStringLiteral("SimSun"),
                                    QStringLiteral("宋体"),
                                    QStringLiteral("NSimSun"),
                                    QStringLiteral("Noto Sans CJK SC"),
                                    QStringLiteral("Noto Serif CJK SC"),
                                    QStringLiteral("Source Han Sans SC"),
                                    QStringLiteral("WenQuanYi Micro Hei"),
                                    QStringLiteral("WenQuanYi Zen Hei"),
                                    QStringLiteral("AR PL UMing CN"),
                                    QStringLiteral("Droid Sans Fallback")};
        for (const QString& family : preferred) {
            if (installed.contains(family, Qt::CaseInsensitive)) return family;
        }
        const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
        return chinese.isEmpty() ? QString() : chinese.first();
    }();
    return chosen;
}

QFont dialogFont(const QString& windowsFace, int pointSize) {
    QFont font;
    if (windowsFace == QStringLiteral("宋体") || windowsFace.compare("SimSun", Qt::CaseInsensitive) == 0) {
        const QString chinese = chineseFontFamily();
        font = QFont(chinese.isEmpty() ? QFontDatabase::systemFont(QFontDatabase::GeneralFont).family()
                                       : chinese);
    } else if (windowsFace == QStringLiteral("MS Shell Dlg")) {
        font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    } else if (windowsFace == QStringLiteral("Courier New")) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        QStringList families{QStringLiteral("Courier New"), font.family()};
        const QString chinese = chineseFontFamily();
        if (!chinese.isEmpty()) families << chinese;
        font.setFamilies(families);
    } else {
        font = QFont(windowsFace);
    }
    if (windowsFace != QStringLiteral("Courier New")) font.setFamilies(withChineseFallback(font.family()));
    font.setPointSize(pointSize);
    return font;
}

// Q_INIT_RESOURCE must be used outside any namespace.
static void registerQuentaResources() {
    Q_INIT_RESOURCE(resources);
}

void initUiResources() {
    static const bool done = [] {
        registerQuentaResources();
        return true;
    }();
    (void)done;
}
