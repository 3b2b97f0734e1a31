// Writes the program icon as PNG files of the sizes desktops ask for, into
// <folder>/hicolor/<n>x<n>/apps/chipreader.png. Run at build time.
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QPixmap>
#include <cstdio>

#include "Look.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icons FOLDER\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QIcon icon = ProgramIcon();
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString dir =
            QString::fromLocal8Bit(argv[1]) + QStringLiteral("/hicolor/%1x%1/apps").arg(size);
        if (!QDir().mkpath(dir) ||
            !icon.pixmap(size, size).save(dir + QStringLiteral("/chipreader.png"))) {
            std::fprintf(stderr, "make_icons: cannot write %s\n", qPrintable(dir));
            return 1;
        }
    }
    return 0;
}
