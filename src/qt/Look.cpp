#include "Look.h"

#include <QFontDatabase>
#include <QImage>

#include "Pictures.h"

namespace {

constexpr const char* ClassicFamily = "MS Sans Serif";

// The shared pictures' pixels (0xAARRGGBB, straight alpha) as a pixmap.
QPixmap FromPixels(const pictures::Image& image) {
    QImage wrapped(reinterpret_cast<const uchar*>(image.pixels.data()), image.width, image.height,
                   image.width * 4, QImage::Format_ARGB32);
    return QPixmap::fromImage(wrapped.copy());  // the copy owns its pixels
}

pictures::Image ToPixels(const QPixmap& pixmap) {
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    pictures::Image pixels{image.width(), image.height(), {}};
    pixels.pixels.reserve(std::size_t(image.width()) * std::size_t(image.height()));
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            pixels.pixels.push_back(image.pixel(x, y));
    return pixels;
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
    return FromPixels(pictures::ButtonPicture(picture, ButtonPictureSize));
}

QPixmap DisabledPicture(const QPixmap& normal) {
    return FromPixels(pictures::DisabledPicture(ToPixels(normal)));
}

QIcon ButtonIcon(Picture picture) {
    const pictures::Image normal = pictures::ButtonPicture(picture, ButtonPictureSize);
    QIcon icon;
    icon.addPixmap(FromPixels(normal), QIcon::Normal);
    icon.addPixmap(FromPixels(normal), QIcon::Active);
    icon.addPixmap(FromPixels(pictures::DisabledPicture(normal)), QIcon::Disabled);
    return icon;
}

QPixmap LampPicture(bool lit) {
    return FromPixels(pictures::LampPicture(lit, LampSize));
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(FromPixels(pictures::ProgramIcon(size)));
    return icon;
}
