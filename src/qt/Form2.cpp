#include "Form2.h"

#include <QLabel>
#include <QScreen>
#include <QStyle>

#include "Layout.h"
#include "Look.h"
#include "Texts.h"

TForm2::TForm2(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QString::fromLatin1(texts::ManufacturerCaption));
    setFont(ProgramFont(Form2FontPixels));
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);

    for (const Form2Line& line : Form2Layout) {
        auto* label = new QLabel(QString::fromLatin1(line.text), this);
        label->setObjectName(QString::fromLatin1(line.name));
        QFont font = ProgramFont(Form2FontPixels);
        font.setBold(line.bold);
        label->setFont(font);
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText,
                         QColor(int(line.colour & 0xFF), int(line.colour >> 8 & 0xFF),
                                int(line.colour >> 16 & 0xFF)));
        label->setPalette(palette);
        label->adjustSize();
        label->move(line.left, line.top);
    }

    resize(Form2ClientWidth, Form2ClientHeight);
    move(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter,
                             QSize(Form2OuterWidth, Form2OuterHeight),
                             screen()->availableGeometry())
             .topLeft());
}
