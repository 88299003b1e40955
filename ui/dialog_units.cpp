// Dialog units and font mapping; see dialog_units.h.
#include "ui/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>
#include <algorithm>
#include <cmath>

namespace {

// MulDiv rounds half away from zero, as std::lround does.
int scaled(int value, double base, int denominator) {
    return static_cast<int>(std::lround(value * base / denominator));
}

QStringList withChineseFallback(const QString& first) {
    QStringList families{first};
    const QString chinese = chineseFontFamily();
    if (!chinese.isEmpty() && chinese != first) families << chinese;
    return families;
}

}  // namespace

int DialogUnits::toPixelsX(int units) const {
    return scaled(units, baseX, 4);
}
int DialogUnits::toPixelsY(int units) const {
    return scaled(units, baseY, 8);
}

QRect DialogUnits::toPixels(int x, int y, int width, int height) const {
    return QRect(toPixelsX(x), toPixelsY(y), toPixelsX(width), toPixelsY(height));
}

DialogUnits dialogBaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int cx =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    DialogUnits units;
    units.baseX = std::max((cx / 26 + 1) / 2, 1);
    units.baseY = std::max(metrics.height(), 1);
    return units;
}

FittedDialog fitDialogToArea(const QFont& font, QSize dialogUnits, QSize available, QSize frame) {
    constexpr double kSmallest = 0.5;  // below half size the texts are no longer readable
    FittedDialog fitted{font, dialogBaseUnits(font), 1.0};
    const double width = dialogUnits.width() * fitted.units.baseX / 4.0;
    const double height = dialogUnits.height() * fitted.units.baseY / 8.0;
    if (width <= 0 || height <= 0) return fitted;
    const double room =
        std::min((available.width() - frame.width()) / width, (available.height() - frame.height()) / height);
    if (room >= 1.0) return fitted;
    const double factor = std::max(room, kSmallest);
    if (font.pixelSize() > 0)
        fitted.font.setPixelSize(std::max(1, static_cast<int>(font.pixelSize() * factor)));
    else
        fitted.font.setPointSizeF(font.pointSizeF() * factor);
    // Rounded down to a thousandth of a pixel, so the rounded sizes never exceed the area.
    fitted.units.baseX = std::floor(fitted.units.baseX * factor * 1000.0) / 1000.0;
    fitted.units.baseY = std::floor(fitted.units.baseY * factor * 1000.0) / 1000.0;
    fitted.factor = factor;
    return fitted;
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
