// The option check boxes: each one's handler copies its mark into the
// settings, runs when the operator clicks and when the program changes the
// mark, and runs only when the mark really changes.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <memory>
#include <string>

#include "MainWindow.h"
#include "UiTestSupport.h"

namespace {

class Options : public ::testing::Test {
  protected:
    void SetUp() override {
        uitest::ResetProgramState();
        form = std::make_unique<TForm1>();
    }
    std::unique_ptr<TForm1> form;
};

TEST_F(Options, BuildingTheWindowRunsNoHandler) {
    form.reset();
    TReaderSettings pattern{};
    pattern.Port = 17;
    pattern.OrderToKeyboard.raw = 2;
    pattern.TimeToKeyboard.raw = 3;
    pattern.ChipToKeyboard.raw = 0;  // CheckBox1 is built checked
    pattern.AutoLedOff.raw = 5;
    pattern.MinimizeAtStart.raw = 6;
    pattern.SaveOnDisk.raw = 7;
    pattern.SoundSignal.raw = 8;
    pattern.OrderNumber = 123456;
    pattern.CrcDigits.raw = 9;
    Settings = pattern;
    form = std::make_unique<TForm1>();
    EXPECT_EQ(uitest::SettingsBytes(Settings), uitest::SettingsBytes(pattern));
}

struct BoxCase {
    const char* box;
    SettingsFlag TReaderSettings::*field;
    const char* fieldName;
};

void PrintTo(const BoxCase& c, std::ostream* os) {
    *os << c.box << " -> " << c.fieldName;
}

class OptionBox : public Options, public ::testing::WithParamInterface<BoxCase> {
  protected:
    QCheckBox* Box() { return form->findChild<QCheckBox*>(QString::fromLatin1(GetParam().box)); }
    bool Field() { return Settings.*(GetParam().field); }
    void SetField(bool value) { Settings.*(GetParam().field) = value; }
};

TEST_P(OptionBox, AClickCopiesTheMarkIntoTheSettings) {
    QCheckBox* box = Box();
    ASSERT_NE(box, nullptr);
    box->setVisible(true);
    const bool designed = box->isChecked();
    SetField(designed);
    box->click();
    EXPECT_EQ(box->isChecked(), !designed);
    EXPECT_EQ(Field(), !designed);
    box->click();
    EXPECT_EQ(Field(), designed);
}

TEST_P(OptionBox, SettingTheMarkItAlreadyHasRunsNothing) {
    QCheckBox* box = Box();
    box->setChecked(true);
    SetField(false);  // the handler would set it back to true
    box->setChecked(true);
    EXPECT_FALSE(Field());
    box->setChecked(false);
    SetField(true);
    box->setChecked(false);
    EXPECT_TRUE(Field());
}

INSTANTIATE_TEST_SUITE_P(
    Each, OptionBox,
    ::testing::Values(BoxCase{"CheckBox2", &TReaderSettings::AutoLedOff, "AutoLedOff"},
                      BoxCase{"CheckBox3", &TReaderSettings::OrderToKeyboard, "OrderToKeyboard"},
                      BoxCase{"CheckBox4", &TReaderSettings::TimeToKeyboard, "TimeToKeyboard"},
                      BoxCase{"CheckBox5", &TReaderSettings::MinimizeAtStart, "MinimizeAtStart"},
                      BoxCase{"CheckBox6", &TReaderSettings::SaveOnDisk, "SaveOnDisk"},
                      BoxCase{"CheckBox7", &TReaderSettings::SoundSignal, "SoundSignal"},
                      BoxCase{"CheckBox9", &TReaderSettings::CrcDigits, "CrcDigits"}),
    [](const ::testing::TestParamInfo<BoxCase>& info) {
        return std::string(info.param.box) + "_" + info.param.fieldName;
    });

TEST_F(Options, TheFamilyBoxChangesNothing) {
    Settings = uitest::DefaultSettings();
    const std::string before = uitest::SettingsBytes(Settings);
    form->CheckBox8->setChecked(true);
    form->CheckBox8->setChecked(false);
    EXPECT_EQ(uitest::SettingsBytes(Settings), before);
}

TEST_F(Options, UncheckingChipCodeToKeyboardClearsTheThreeFlagsAndHidesTheTwoBoxes) {
    Settings.ChipToKeyboard = true;
    Settings.OrderToKeyboard = true;
    Settings.TimeToKeyboard = true;
    form->CheckBox3->show();
    form->CheckBox4->show();
    form->CheckBox3->setChecked(true);
    form->CheckBox4->setChecked(true);

    form->CheckBox1->click();
    EXPECT_FALSE(form->CheckBox1->isChecked());
    EXPECT_FALSE(Settings.ChipToKeyboard);
    EXPECT_FALSE(Settings.OrderToKeyboard);
    EXPECT_FALSE(Settings.TimeToKeyboard);
    EXPECT_FALSE(form->CheckBox3->isVisibleTo(form.get()));
    EXPECT_FALSE(form->CheckBox4->isVisibleTo(form.get()));
    // Their marks stay as they were.
    EXPECT_TRUE(form->CheckBox3->isChecked());
    EXPECT_TRUE(form->CheckBox4->isChecked());
}

TEST_F(Options, CheckingChipCodeToKeyboardShowsTheTwoBoxesWithTheStoredMarks) {
    form->CheckBox1->setChecked(false);
    Settings.OrderToKeyboard = true;
    Settings.TimeToKeyboard = false;
    form->CheckBox1->click();
    EXPECT_TRUE(Settings.ChipToKeyboard);
    EXPECT_TRUE(form->CheckBox3->isVisibleTo(form.get()));
    EXPECT_TRUE(form->CheckBox4->isVisibleTo(form.get()));
    EXPECT_TRUE(form->CheckBox3->isChecked());
    EXPECT_FALSE(form->CheckBox4->isChecked());
    EXPECT_TRUE(Settings.OrderToKeyboard);
    EXPECT_FALSE(Settings.TimeToKeyboard);
}

}  // namespace
