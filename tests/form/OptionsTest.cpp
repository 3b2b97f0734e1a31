// The option check boxes: each one's handler copies its mark into the
// settings, runs when the operator clicks and when the program changes the
// mark, and runs only when the mark really changes.
#include <string>

#include "FormTest.h"
#include "Layout.h"

namespace {

using formtest::SettingsBytes;

class Options : public formtest::FormTest {};

struct BoxCase {
    Control box;
    SettingsFlag TReaderSettings::*field;
    const char* fieldName;
};

void PrintTo(const BoxCase& c, std::ostream* os) {
    *os << LayoutOf(c.box).name << " -> " << c.fieldName;
}

class OptionBox : public Options, public ::testing::WithParamInterface<BoxCase> {
  protected:
    Control Box() const { return GetParam().box; }
    bool Field() const { return Settings.*(GetParam().field); }
    void SetField(bool value) { Settings.*(GetParam().field) = value; }
};

TEST_P(OptionBox, AClickCopiesTheMarkIntoTheSettingsAndAnUnchangedMarkRunsNothing) {
    window.setShown(Box(), true);
    const bool designed = window.checked(Box());
    SetField(designed);
    Click(Box());
    EXPECT_EQ(window.checked(Box()), !designed);
    EXPECT_EQ(Field(), !designed);
    Click(Box());
    EXPECT_EQ(Field(), designed);

    // Set by the program to the mark it already has: the handler would have
    // copied it back into the field.
    form.SetMark(Box(), true);
    SetField(false);
    form.SetMark(Box(), true);
    EXPECT_FALSE(Field());
    form.SetMark(Box(), false);
    EXPECT_FALSE(Field());
    SetField(true);
    form.SetMark(Box(), false);
    EXPECT_TRUE(Field());
}

INSTANTIATE_TEST_SUITE_P(
    Each, OptionBox,
    ::testing::Values(
        BoxCase{Control::CheckBox2, &TReaderSettings::AutoLedOff, "AutoLedOff"},
        BoxCase{Control::CheckBox3, &TReaderSettings::OrderToKeyboard, "OrderToKeyboard"},
        BoxCase{Control::CheckBox4, &TReaderSettings::TimeToKeyboard, "TimeToKeyboard"},
        BoxCase{Control::CheckBox5, &TReaderSettings::MinimizeAtStart, "MinimizeAtStart"},
        BoxCase{Control::CheckBox6, &TReaderSettings::SaveOnDisk, "SaveOnDisk"},
        BoxCase{Control::CheckBox7, &TReaderSettings::SoundSignal, "SoundSignal"},
        BoxCase{Control::CheckBox9, &TReaderSettings::CrcDigits, "CrcDigits"}),
    [](const ::testing::TestParamInfo<BoxCase>& info) {
        return std::string(LayoutOf(info.param.box).name) + "_" + info.param.fieldName;
    });

TEST_F(Options, BuildingTheWindowRunsNoHandlerAndTheFamilyBoxChangesNothing) {
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
    fakes::FakeWindow another(loop);
    TForm1 built(another);
    another.attach(built);
    EXPECT_EQ(SettingsBytes(Settings), SettingsBytes(pattern));

    another.setShown(Control::CheckBox8, true);
    another.click(Control::CheckBox8);
    another.click(Control::CheckBox8);
    EXPECT_EQ(SettingsBytes(Settings), SettingsBytes(pattern));
}

TEST_F(Options, UncheckingChipCodeToKeyboardClearsTheThreeFlagsAndHidesTheTwoBoxes) {
    Settings.ChipToKeyboard = true;
    Settings.OrderToKeyboard = true;
    Settings.TimeToKeyboard = true;
    window.setShown(Control::CheckBox3, true);
    window.setShown(Control::CheckBox4, true);
    form.SetMark(Control::CheckBox3, true);
    form.SetMark(Control::CheckBox4, true);

    Click(Control::CheckBox1);
    EXPECT_FALSE(window.checked(Control::CheckBox1));
    EXPECT_FALSE(Settings.ChipToKeyboard);
    EXPECT_FALSE(Settings.OrderToKeyboard);
    EXPECT_FALSE(Settings.TimeToKeyboard);
    EXPECT_FALSE(Shown(Control::CheckBox3));
    EXPECT_FALSE(Shown(Control::CheckBox4));
    // Their marks stay as they were.
    EXPECT_TRUE(window.checked(Control::CheckBox3));
    EXPECT_TRUE(window.checked(Control::CheckBox4));

    // Checked again: the two boxes come back with the stored marks, and the
    // keyboard gets ready (a virtual keyboard takes the desktop a moment).
    Settings.OrderToKeyboard = true;
    const int prepared = keyboard.prepares;
    Click(Control::CheckBox1);
    EXPECT_EQ(keyboard.prepares, prepared + 1);
    EXPECT_TRUE(Settings.ChipToKeyboard);
    EXPECT_TRUE(Shown(Control::CheckBox3));
    EXPECT_TRUE(Shown(Control::CheckBox4));
    EXPECT_TRUE(window.checked(Control::CheckBox3));
    EXPECT_FALSE(window.checked(Control::CheckBox4));
    EXPECT_TRUE(Settings.OrderToKeyboard);
    EXPECT_FALSE(Settings.TimeToKeyboard);
}

}  // namespace
