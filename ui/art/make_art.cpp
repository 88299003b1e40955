// Draws the window's artwork (our own): the application icon (resource 128), the small banner
// picture at the window's top-left corner (bitmap 137) and the about box's product picture
// (bitmap 134, 600 x 390). Run once after a change and commit the PNGs it writes:
//   g++ -std=c++20 -fPIC make_art.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/make_art
//   QT_QPA_PLATFORM=offscreen /tmp/make_art ui/art
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {

const QColor kNavy(0x1f, 0x3a, 0x5f);
const QColor kTeal(0x1c, 0x9c, 0x9a);
const QColor kLight(0xf1, 0xf3, 0xf8);

// A device front (rounded box with a small screen and keypad) with an upward arrow above it.
void drawDeviceWithArrow(QPainter& p, const QRectF& box) {
    const qreal w = box.width(), h = box.height();
    QRectF body(box.left() + w * 0.18, box.top() + h * 0.38, w * 0.64, h * 0.56);
    QLinearGradient bodyFill(body.topLeft(), body.bottomLeft());
    bodyFill.setColorAt(0, QColor(0xfa, 0xfb, 0xfd));
    bodyFill.setColorAt(1, QColor(0xc9, 0xd3, 0xe0));
    p.setPen(QPen(kNavy, qMax<qreal>(1.0, w * 0.03)));
    p.setBrush(bodyFill);
    p.drawRoundedRect(body, w * 0.06, w * 0.06);
    QRectF screen(body.left() + body.width() * 0.15, body.top() + body.height() * 0.12, body.width() * 0.7,
                  body.height() * 0.32);
    p.setBrush(kTeal);
    p.setPen(Qt::NoPen);
    p.drawRect(screen);
    p.setBrush(kNavy);
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 3; ++c) {
            const qreal d = body.width() * 0.13;
            QRectF key(body.left() + body.width() * (0.2 + 0.22 * c),
                       body.top() + body.height() * (0.55 + 0.2 * r), d, d * 0.7);
            p.drawRoundedRect(key, d * 0.15, d * 0.15);
        }
    }
    QPainterPath arrow;
    const qreal cx = box.center().x();
    arrow.moveTo(cx, box.top() + h * 0.02);
    arrow.lineTo(cx + w * 0.22, box.top() + h * 0.22);
    arrow.lineTo(cx + w * 0.08, box.top() + h * 0.22);
    arrow.lineTo(cx + w * 0.08, box.top() + h * 0.34);
    arrow.lineTo(cx - w * 0.08, box.top() + h * 0.34);
    arrow.lineTo(cx - w * 0.08, box.top() + h * 0.22);
    arrow.lineTo(cx - w * 0.22, box.top() + h * 0.22);
    arrow.closeSubpath();
    p.setBrush(QColor(0x2e, 0xb8, 0x4f));
    p.setPen(QPen(QColor(0x1d, 0x7a, 0x34), qMax<qreal>(1.0, w * 0.015)));
    p.drawPath(arrow);
}

QImage icon(int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient back(QPointF(size * 0.4, size * 0.35), size * 0.7);
    back.setColorAt(0, QColor(0x3d, 0x6e, 0xa8));
    back.setColorAt(1, kNavy);
    p.setBrush(back);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(0, 0, size, size), size * 0.18, size * 0.18);
    drawDeviceWithArrow(p, QRectF(size * 0.08, size * 0.06, size * 0.84, size * 0.9));
    return image;
}

QImage banner() {
    // Sized like the template's picture control (15 x 14 dialog units at the window's base units).
    QImage image(22, 21, QImage::Format_RGB32);
    image.fill(kLight);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.drawImage(QRectF(1, 0, 21, 21), icon(84));
    return image;
}

QImage productPicture(const QString& chineseFamily) {
    QImage image(600, 390, QImage::Format_RGB888);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient sky(0, 0, 0, 390);
    sky.setColorAt(0, QColor(0xe8, 0xef, 0xf8));
    sky.setColorAt(1, QColor(0xc4, 0xd4, 0xea));
    p.fillRect(image.rect(), sky);
    // A row of devices of the site, linked to one address box.
    p.setPen(QPen(QColor(0x7a, 0x8c, 0xa8), 3, Qt::DashLine));
    const QPointF hub(300, 150);
    for (int i = 0; i < 5; ++i) p.drawLine(hub, QPointF(70 + i * 115, 250));
    for (int i = 0; i < 5; ++i) drawDeviceWithArrow(p, QRectF(30 + i * 115, 220, 80, 90));
    p.setBrush(kNavy);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(250, 110, 100, 60), 10, 10);
    p.setBrush(kTeal);
    for (int i = 0; i < 4; ++i) p.drawEllipse(QPointF(270 + i * 20, 155), 4, 4);
    p.fillRect(QRectF(262, 120, 76, 22), QColor(0x9f, 0xe3, 0xe2));
    QFont title(chineseFamily);
    title.setPixelSize(40);
    title.setBold(true);
    p.setFont(title);
    p.setPen(kNavy);
    p.drawText(QRectF(0, 20, 600, 60), Qt::AlignCenter, QStringLiteral("产品升级工具"));
    QFont small(chineseFamily);
    small.setPixelSize(18);
    p.setFont(small);
    p.setPen(QColor(0x33, 0x44, 0x55));
    p.drawText(QRectF(0, 330, 600, 30), Qt::AlignCenter, QStringLiteral("对讲 · 呼叫 · 排队设备批量升级"));
    p.drawText(QRectF(0, 356, 600, 26), Qt::AlignCenter, QStringLiteral("Version 1.0"));
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QString chinese = QStringLiteral("WenQuanYi Micro Hei");
    const QStringList sc = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    if (!QFontDatabase::families().contains(chinese) && !sc.isEmpty()) chinese = sc.first();
    bool ok = icon(256).save(folder + "/icon128.png");
    ok = banner().save(folder + "/banner137.png") && ok;
    ok = productPicture(chinese).save(folder + "/about134.png") && ok;
    return ok ? 0 : 1;
}
