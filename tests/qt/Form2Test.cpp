// The manufacturer window as it is built.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QLabel>
#include <QScreen>
#include <cstdlib>
#include <string>

#include "Form2.h"
#include "Layout.h"
#include "QtPrinting.h"

namespace {

struct LineCase {
    const char* name;
    int left, top;
    QRgb colour;
    bool bold;
    const char* startsWith;
};

void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.name;
}

const LineCase Lines[] = {
    {"Label1", 40, 16, qRgb(0, 0, 255), false, "Software production and editing:"},
    {"Label2", 100, 44, qRgb(0, 0, 0), true, "Chip Reader"},
    {"Label3", 60, 68, qRgb(0, 0, 0), true, ""},
    {"Label4", 100, 88, qRgb(0, 0, 0), true, ""},
    {"Label5", 64, 108, qRgb(0, 0, 0), true, ""},
    {"Label6", 72, 140, qRgb(0, 128, 0), false, "Phone: "},
    {"Label7", 64, 168, qRgb(255, 0, 0), false, "Email: "},
    {"Label8", 64, 196, qRgb(255, 0, 0), false, "Web site: "},
};

class ManufacturerLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(ManufacturerLine, PlaceFontAndColor) {
    const LineCase& c = GetParam();
    TForm2 form;
    auto* label = form.findChild<QLabel*>(QString::fromLatin1(c.name));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->pos(), QPoint(c.left, c.top));
    EXPECT_EQ(label->size(), label->sizeHint());
    EXPECT_FALSE(label->text().isEmpty());
    EXPECT_TRUE(label->text().startsWith(QString::fromLatin1(c.startsWith)));
    EXPECT_EQ(label->palette().color(QPalette::WindowText).rgb(), c.colour);
    EXPECT_EQ(label->font().bold(), c.bold);
    EXPECT_EQ(label->font().pixelSize(), 13);
    // The whole line fits in the window.
    EXPECT_LE(label->geometry().right(), Form2ClientWidth);
}

INSTANTIATE_TEST_SUITE_P(Form2, ManufacturerLine, ::testing::ValuesIn(Lines),
                         [](const ::testing::TestParamInfo<LineCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(ManufacturerWindow, CaptionSizeFrameAndPlace) {
    TForm2 form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Manufacturer information"));
    EXPECT_EQ(form.size(), QSize(306, 238));
    EXPECT_EQ(form.findChildren<QLabel*>().size(), 8);
    EXPECT_EQ(form.findChildren<QWidget*>().size(), 8) << "nothing but the eight labels";
    EXPECT_FALSE(form.isVisible());
    const Qt::WindowFlags flags = form.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_EQ(form.palette().color(QPalette::Window), form.palette().color(QPalette::Button));
    const QRect outer(form.pos(), QSize(Form2OuterWidth, Form2OuterHeight));
    const QPoint offset = outer.center() - form.screen()->availableGeometry().center();
    EXPECT_LE(std::abs(offset.x()), 1);
    EXPECT_LE(std::abs(offset.y()), 1);
}

TEST(ManufacturerWindow, ContactLinesNameNoRealPlaceOrNumber) {
    TForm2 form;
    for (QLabel* label : form.findChildren<QLabel*>()) {
        const QString text = label->text();
        int digits = 0;
        for (QChar ch : text)
            digits += ch.isDigit() ? 1 : 0;
        EXPECT_EQ(digits, 0) << text.toStdString();
        if (text.contains(QLatin1Char('@')) || text.startsWith(QStringLiteral("Web site: "))) {
            EXPECT_TRUE(text.endsWith(QStringLiteral(".invalid"))) << text.toStdString();
        }
    }
}

}  // namespace
