#include "Form2.h"

#include <QLabel>
#include <QScreen>
#include <QStyle>

#include "Look.h"

namespace {

const QColor Blue(0, 0, 255);
const QColor Green(0, 128, 0);
const QColor Red(255, 0, 0);
const QColor Black(0, 0, 0);

QLabel* MakeLine(QWidget* parent, const char* name, const char* text, int left, int top,
                 const QColor& color, bool bold) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    QFont font = ProgramFont(Form2FontPixels);
    font.setBold(bold);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    label->adjustSize();
    label->move(left, top);
    return label;
}

}  // namespace

TForm2::TForm2(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Manufacturer information"));
    setFont(ProgramFont(Form2FontPixels));
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);

    Label1 = MakeLine(this, "Label1", "Software production and editing:", 40, 16, Blue, false);
    Label2 = MakeLine(this, "Label2", "Chip Reader", 100, 44, Black, true);
    Label3 = MakeLine(this, "Label3", "Chip Reader developers", 60, 68, Black, true);
    Label4 = MakeLine(this, "Label4", "Support: see the README", 100, 88, Black, true);
    Label5 = MakeLine(this, "Label5", "No postal address", 64, 108, Black, true);
    Label6 = MakeLine(this, "Label6", "Phone: none", 72, 140, Green, false);
    Label7 = MakeLine(this, "Label7", "Email: support@example.invalid", 64, 168, Red, false);
    Label8 = MakeLine(this, "Label8", "Web site: example.invalid", 64, 196, Red, false);

    resize(Form2ClientWidth, Form2ClientHeight);
    move(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter,
                             QSize(Form2OuterWidth, Form2OuterHeight),
                             screen()->availableGeometry())
             .topLeft());
}
