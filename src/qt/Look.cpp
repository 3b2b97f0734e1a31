#include "Look.h"

#include <QFontDatabase>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>

#include <algorithm>

namespace {

constexpr const char* ClassicFamily = "MS Sans Serif";

QPixmap Blank(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void Disk(QPainter& p, const QRectF& r, const QColor& fill, const QColor& edge) {
    p.setPen(QPen(edge, 1));
    p.setBrush(fill);
    p.drawEllipse(r);
}

void Bulb(QPainter& p, const QColor& glass, const QColor& edge) {
    p.setPen(QPen(edge, 1));
    p.setBrush(glass);
    p.drawEllipse(QRectF(4.5, 2.5, 7, 7));
    p.setBrush(QColor(150, 150, 150));
    p.setPen(QPen(QColor(80, 80, 80), 1));
    p.drawRect(QRectF(5.5, 10.5, 5, 3));
}

void ArrowHead(QPainter& p, QPointF tip, QPointF back1, QPointF back2, const QColor& color) {
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPolygon(QPolygonF({tip, back1, back2}));
}

void Draw(QPainter& p, Picture picture) {
    switch (picture) {
        case Picture::Blocking:
            Disk(p, QRectF(1.5, 1.5, 13, 13), QColor(210, 20, 20), QColor(120, 0, 0));
            p.fillRect(QRectF(4, 7, 8, 2.5), Qt::white);
            break;
        case Picture::Unblocking: {
            Disk(p, QRectF(1.5, 1.5, 13, 13), QColor(20, 160, 40), QColor(0, 80, 0));
            QPen pen(Qt::white, 2);
            pen.setCapStyle(Qt::RoundCap);
            pen.setJoinStyle(Qt::RoundJoin);
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            p.drawPolyline(QPolygonF({{4.5, 8}, {7, 10.5}, {11.5, 5.5}}));
            break;
        }
        case Picture::LedOn: {
            QPen rays(QColor(230, 170, 0), 1.2);
            p.setPen(rays);
            p.drawLine(QPointF(8, 0), QPointF(8, 1.5));
            p.drawLine(QPointF(1, 6), QPointF(3, 6));
            p.drawLine(QPointF(13, 6), QPointF(15, 6));
            p.drawLine(QPointF(2.5, 1.5), QPointF(4, 3));
            p.drawLine(QPointF(13.5, 1.5), QPointF(12, 3));
            Bulb(p, QColor(60, 255, 60), QColor(0, 120, 0));
            break;
        }
        case Picture::LedOff:
            Bulb(p, QColor(0, 90, 0), QColor(0, 40, 0));
            break;
        case Picture::Reread: {
            const QColor blue(20, 70, 200);
            QPen pen(blue, 2);
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRectF(2.5, 2.5, 11, 11), 60 * 16, 280 * 16);
            ArrowHead(p, {14.5, 6.5}, {9.5, 6}, {13, 1.5}, blue);
            break;
        }
        case Picture::ResetOrder: {
            p.setPen(QPen(QColor(20, 60, 170), 1));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(1.5, 3.5, 13, 10));
            QFont font;
            font.setPixelSize(10);
            font.setBold(true);
            p.setFont(font);
            p.setPen(QColor(20, 60, 170));
            p.drawText(QRectF(1.5, 3.5, 13, 10), Qt::AlignCenter, QStringLiteral("0"));
            break;
        }
        case Picture::Demo:
            p.setPen(QPen(QColor(0, 90, 0), 1));
            p.setBrush(QColor(30, 170, 30));
            p.drawPolygon(QPolygonF({{4.5, 2.5}, {13.5, 8}, {4.5, 13.5}}));
            break;
        case Picture::End: {
            p.setPen(QPen(QColor(90, 60, 20), 1));
            p.setBrush(QColor(170, 120, 60));
            p.drawRect(QRectF(1.5, 1.5, 8, 13));
            const QColor red(200, 20, 20);
            p.fillRect(QRectF(6, 7, 6, 2), red);
            ArrowHead(p, {15.5, 8}, {11, 4}, {11, 12}, red);
            break;
        }
        case Picture::Information: {
            Disk(p, QRectF(1.5, 1.5, 13, 13), QColor(30, 90, 210), QColor(10, 40, 120));
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::white);
            p.drawEllipse(QRectF(7, 3.5, 2, 2));
            p.drawRect(QRectF(7, 6.5, 2, 6));
            break;
        }
        case Picture::None:
        case Picture::LampOn:  // LampPicture draws the lamps
        case Picture::LampOff:
            break;
    }
}

void DrawProgramIcon(QPainter& p, int size) {
    p.scale(size / 32.0, size / 32.0);
    // The reader: a dark case with a chip on its face and its LED.
    p.setPen(QPen(QColor(20, 25, 30), 1));
    p.setBrush(QColor(55, 65, 80));
    p.drawRoundedRect(QRectF(2.5, 2.5, 27, 27), 5, 5);
    p.setPen(QPen(QColor(120, 90, 0), 1));
    p.setBrush(QColor(225, 180, 40));
    p.drawRoundedRect(QRectF(7.5, 11.5, 14, 12), 2, 2);
    p.setPen(QPen(QColor(120, 90, 0), 1));
    p.drawLine(QPointF(14.5, 11.5), QPointF(14.5, 23.5));
    p.drawLine(QPointF(7.5, 17.5), QPointF(21.5, 17.5));
    QRadialGradient glow(QPointF(24, 8), 4);
    glow.setColorAt(0, QColor(200, 255, 200));
    glow.setColorAt(1, QColor(0, 200, 0));
    p.setPen(QPen(QColor(0, 60, 0), 1));
    p.setBrush(glow);
    p.drawEllipse(QRectF(21, 5, 6, 6));
}

}  // namespace

QFont ProgramFont(int pixelSize) {
    QFont font;
    if (QFontDatabase::families().contains(QString::fromLatin1(ClassicFamily))) {
        font.setFamily(QString::fromLatin1(ClassicFamily));
    } else {
        font.setFamilies({QStringLiteral("sans-serif")});
        font.setStyleHint(QFont::SansSerif);
    }
    font.setPixelSize(pixelSize);
    return font;
}

QPixmap ButtonPicture(Picture picture) {
    QPixmap pixmap = Blank(ButtonPictureSize);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    Draw(p, picture);
    return pixmap;
}

QPixmap DisabledPicture(const QPixmap& normal) {
    const QImage source = normal.toImage().convertToFormat(QImage::Format_ARGB32);
    QImage light(source.size(), QImage::Format_ARGB32);
    QImage grey(source.size(), QImage::Format_ARGB32);
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            const QRgb pixel = source.pixel(x, y);
            const int alpha = qAlpha(pixel);
            const int level = 128 + qGray(pixel) / 2;
            grey.setPixel(x, y, qRgba(level, level, level, alpha));
            // Only the dark parts of the shape cast the light edge.
            light.setPixel(x, y, qRgba(255, 255, 255, qGray(pixel) < 160 ? alpha : 0));
        }
    }
    QPixmap result = Blank(std::max(source.width(), source.height()));
    QPainter p(&result);
    p.drawImage(1, 1, light);
    p.drawImage(0, 0, grey);
    return result;
}

QIcon ButtonIcon(Picture picture) {
    const QPixmap normal = ButtonPicture(picture);
    QIcon icon;
    icon.addPixmap(normal, QIcon::Normal);
    icon.addPixmap(normal, QIcon::Active);
    icon.addPixmap(DisabledPicture(normal), QIcon::Disabled);
    return icon;
}

QPixmap LampPicture(bool lit) {
    QPixmap pixmap = Blank(LampSize);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient glass(QPointF(7, 6.5), 8);
    if (lit) {
        glass.setColorAt(0, QColor(220, 255, 220));
        glass.setColorAt(0.35, QColor(40, 255, 40));
        glass.setColorAt(1, QColor(0, 190, 0));
    } else {
        glass.setColorAt(0, QColor(40, 110, 40));
        glass.setColorAt(0.35, QColor(0, 80, 0));
        glass.setColorAt(1, QColor(0, 45, 0));
    }
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(glass);
    p.drawEllipse(QRectF(1.5, 1.5, 14, 14));
    return pixmap;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap = Blank(size);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        DrawProgramIcon(p, size);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
