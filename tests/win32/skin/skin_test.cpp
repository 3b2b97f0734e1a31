// The Win32 skin on a real window system: the window as the layout table
// draws it, the list's rows as hard lines, the tab order, and the events the
// form must get (or must not get) from the operator and from code.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Form2.h"
#include "Global.h"
#include "Layout.h"
#include "MainWindow.h"
#include "MainWindow32.h"
#include "ReadingList.h"
#include "Texts.h"
#include "fakes/ProgramState.h"

namespace {

using win32::MainWindow32;

RECT InClient(HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

class Win32Skin : public ::testing::Test {
  protected:
    void SetUp() override {
        fakes::ResetProgramState();
        window = std::make_unique<MainWindow32>(GetModuleHandleW(nullptr));
        ASSERT_NE(window->handle(), nullptr);
    }
    void TearDown() override {
        window.reset();
        form.reset();
        Pump(50);  // the quit message the closed window posts
        fakes::ResetProgramState();
    }

    // The event loop for a while, as the program runs it.
    void Pump(DWORD ms) {
        const DWORD end = GetTickCount() + ms;
        do {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT)
                    continue;
                if (window && window->preTranslate(msg))
                    continue;
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            Sleep(5);
        } while (GetTickCount() < end);
    }

    // Shows the window and waits for it to be active. The form comes after:
    // with a form, the first activation would start the search for a reader.
    void ShowThenAttach() {
        ShowWindow(window->handle(), SW_SHOWNORMAL);
        SetForegroundWindow(window->handle());
        Pump(300);
        ASSERT_EQ(GetActiveWindow(), window->handle());
        form = std::make_unique<TForm1>(*window);
        window->attach(*form);
    }

    int Scaled(int size) const { return MulDiv(size, dpi, 96); }

    // Presses a key (with Shift) in the window's event loop; true when the
    // window's keyboard navigation took it.
    bool Key(WPARAM key, bool shift = false) {
        BYTE keys[256];
        GetKeyboardState(keys);
        keys[VK_SHIFT] = shift ? 0x80 : 0;
        SetKeyboardState(keys);
        MSG msg{GetFocus(), WM_KEYDOWN, key, 0, 0, {}};
        const bool taken = window->preTranslate(msg);
        keys[VK_SHIFT] = 0;
        SetKeyboardState(keys);
        return taken;
    }
    void Tab(bool backwards) { EXPECT_TRUE(Key(VK_TAB, backwards)); }

    int dpi = win32::Scale().dpi();
    std::unique_ptr<MainWindow32> window;
    std::unique_ptr<TForm1> form;
};

TEST_F(Win32Skin, TheWindowIsTheLayoutTable) {
    HWND main = window->handle();
    RECT client{};
    GetClientRect(main, &client);
    EXPECT_EQ(client.right, Scaled(ClientWidth));
    EXPECT_EQ(client.bottom, Scaled(ClientHeight));
    RECT outer{}, expected{0, 0, client.right, client.bottom};
    GetWindowRect(main, &outer);
    AdjustWindowRectEx(&expected, DWORD(GetWindowLongPtrW(main, GWL_STYLE)), FALSE, 0);
    EXPECT_EQ(outer.right - outer.left, expected.right - expected.left);
    EXPECT_EQ(outer.bottom - outer.top, expected.bottom - expected.top);
    EXPECT_EQ(window->caption(), texts::MainCaption);

    for (const ControlLayout& entry : Form1Layout) {
        SCOPED_TRACE(entry.name);
        HWND control = window->control(entry.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(GetDlgCtrlID(control), win32::FirstControlId + int(entry.id));
        const RECT r = InClient(control);
        if (entry.kind == Kind::StatusBar) {
            // Docked at the bottom over the full width.
            EXPECT_EQ(r.left, 0);
            EXPECT_EQ(r.right, client.right);
            EXPECT_EQ(r.bottom, client.bottom);
            EXPECT_EQ(r.bottom - r.top, Scaled(StatusBarHeight));
        } else {
            EXPECT_EQ(r.left, Scaled(entry.left));
            EXPECT_EQ(r.top, Scaled(entry.top));
            if (entry.kind == Kind::Label) {
                EXPECT_GT(r.right - r.left, 0);  // as large as its text
                EXPECT_GT(r.bottom - r.top, 0);
            } else {
                EXPECT_EQ(r.right - r.left, Scaled(entry.width));
                EXPECT_EQ(r.bottom - r.top, Scaled(entry.height));
            }
        }
        EXPECT_EQ(window->shown(entry.id), entry.shown);
        if (entry.kind == Kind::CheckBox) {
            EXPECT_EQ(window->checked(entry.id), entry.checked);
        }
        if (entry.kind != Kind::Memo && entry.kind != Kind::Picture && entry.kind != Kind::Bevel) {
            EXPECT_EQ(window->text(entry.id), entry.caption);
        }
        // Only the controls with a place in the tab order take Tab.
        const bool tabStop = GetWindowLongPtrW(control, GWL_STYLE) & WS_TABSTOP;
        EXPECT_EQ(tabStop, entry.tabOrder != NoTabStop && entry.kind != Kind::StatusBar);
    }
    EXPECT_EQ(window->lineCount(), readinglist::RowCount);

    // Later controls of the table lie above earlier ones: the labels on the
    // frames' edges, Image1 over Image2, the check boxes inside the frames.
    std::vector<HWND> fromTop;
    for (HWND child = GetWindow(main, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        fromTop.push_back(child);
    auto depth = [&](Control c) {
        return std::find(fromTop.begin(), fromTop.end(), window->control(c)) - fromTop.begin();
    };
    for (int i = 1; i < ControlCount; ++i)
        EXPECT_LT(depth(Control(i)), depth(Control(i - 1))) << Form1Layout[i].name;
}

TEST_F(Win32Skin, BothWindowsStandInTheMiddleOfTheScreenNotOfItsWorkArea) {
    // A work area that leaves a strip on the left (a taskbar there): the
    // windows still stand in the middle of the whole screen.
    RECT work{};
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    RECT strip{120, 0, screenWidth, screenHeight};
    ASSERT_TRUE(SystemParametersInfoW(SPI_SETWORKAREA, 0, &strip, 0));
    RECT changed{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &changed, 0);
    window = std::make_unique<MainWindow32>(GetModuleHandleW(nullptr));
    HWND manufacturer = win32::CreateForm2(GetModuleHandleW(nullptr), window->handle());
    SystemParametersInfoW(SPI_SETWORKAREA, 0, &work, 0);
    ASSERT_EQ(changed.left, 120) << "the work area did not change";
    for (HWND w : {window->handle(), manufacturer}) {
        RECT r{};
        GetWindowRect(w, &r);
        EXPECT_EQ(r.left, (screenWidth - (r.right - r.left)) / 2);
        EXPECT_EQ(r.top, (screenHeight - (r.bottom - r.top)) / 2);
    }
    DestroyWindow(manufacturer);

    // Larger than the screen: the caption stays on it.
    const RECT screen{0, 0, 1024, 768};
    EXPECT_EQ(win32::CentredIn(screen, 502, 604).x, 261);
    EXPECT_EQ(win32::CentredIn(screen, 502, 604).y, 82);
    EXPECT_EQ(win32::CentredIn(screen, 1100, 900).x, 0);
    EXPECT_EQ(win32::CentredIn(screen, 1100, 900).y, 0);
}

TEST_F(Win32Skin, RowsAreTheHardLinesHoweverTheTextWraps) {
    // Far wider than the list: the edit wraps it over several lines on the
    // screen, and it stays one row.
    const std::string longRow(120, 'W');
    window->setLineText(3, longRow);
    window->setLineText(4, "next");
    window->setLineText(30, "last");
    EXPECT_EQ(window->lineCount(), readinglist::RowCount);
    EXPECT_EQ(window->lineText(3), longRow);
    EXPECT_EQ(window->lineText(4), "next");
    EXPECT_EQ(window->lineText(2), "");
    EXPECT_EQ(window->lineText(30), "last");

    // Writing a row replaces that row only, in UTF-8 both ways.
    window->setLineText(3, "\xC3\x81vila \xE2\x82\xAC 0xED: \xC3\xAD");
    EXPECT_EQ(window->lineText(3), "\xC3\x81vila \xE2\x82\xAC 0xED: \xC3\xAD");
    EXPECT_EQ(window->lineText(4), "next");
    window->setLineText(3, "");
    EXPECT_EQ(window->lineText(3), "");
    EXPECT_EQ(window->lineText(4), "next");
    EXPECT_EQ(window->lineCount(), readinglist::RowCount);
}

TEST_F(Win32Skin, TabFollowsTheTableOrderOverTheShownControls) {
    ShowThenAttach();
    window->setShown(Control::Memo1, true);
    window->setEnabled(Control::BitBtn2, false);
    std::vector<const ControlLayout*> order;
    for (const ControlLayout& entry : Form1Layout)
        if (entry.tabOrder != NoTabStop && entry.kind != Kind::StatusBar &&
            window->shown(entry.id) && entry.id != Control::BitBtn2)
            order.push_back(&entry);
    std::sort(order.begin(), order.end(), [](const ControlLayout* a, const ControlLayout* b) {
        return a->tabOrder < b->tabOrder;
    });
    ASSERT_GT(order.size(), 10u);

    window->setFocus(order.front()->id);
    for (std::size_t i = 1; i <= order.size(); ++i) {
        Tab(false);
        EXPECT_EQ(GetFocus(), window->control(order[i % order.size()]->id))
            << "after " << order[i - 1]->name;
    }
    for (std::size_t i = order.size(); i > 0; --i) {
        Tab(true);
        EXPECT_EQ(GetFocus(), window->control(order[i - 1]->id)) << "Shift+Tab " << i;
    }

    // The arrows move on from a check box or a button, not inside an edit.
    window->setFocus(Control::CheckBox1);
    EXPECT_TRUE(Key(VK_DOWN));
    EXPECT_EQ(GetFocus(), window->control(Control::CheckBox2));
    EXPECT_TRUE(Key(VK_UP));
    EXPECT_EQ(GetFocus(), window->control(Control::CheckBox1));
    window->setFocus(Control::Edit1);
    Key(VK_LEFT);  // the caret's
    EXPECT_EQ(GetFocus(), window->control(Control::Edit1));
}

TEST_F(Win32Skin, TabIntoTheListSelectsNoneOfItsRows) {
    // A key typed into the list, as a reading typed into the program's own
    // window is, goes in at the caret and replaces no row.
    ShowThenAttach();
    window->setShown(Control::Memo1, true);
    window->setLineText(0, "1       09:41:07      0123456789AB");
    window->setLineText(1, "2       09:41:08      0123456789AC");
    window->setFocus(Control::CheckBox1);
    Tab(true);
    HWND memo = window->control(Control::Memo1);
    ASSERT_EQ(GetFocus(), memo);
    DWORD start = 1, end = 0;
    SendMessageW(memo, EM_GETSEL, WPARAM(&start), LPARAM(&end));
    EXPECT_EQ(start, end) << "selected from " << start << " to " << end;
    std::wstring rows = win32::WindowText(memo);
    SendMessageW(memo, WM_CHAR, L'7', 0);
    EXPECT_EQ(win32::WindowText(memo), rows.insert(start, L"7"));
    EXPECT_EQ(window->lineCount(), readinglist::RowCount);

    // The order field's number is selected, to be typed over.
    window->setText(Control::Edit1, "41");
    window->setFocus(Control::CheckBox7);
    Tab(false);
    HWND field = window->control(Control::Edit1);
    ASSERT_EQ(GetFocus(), field);
    SendMessageW(field, EM_GETSEL, WPARAM(&start), LPARAM(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 2u);
}

TEST_F(Win32Skin, EnterAndSpacePressTheFocusedButton) {
    ShowThenAttach();
    RunningOrder = 7;
    window->setFocus(Control::BitBtn6);  // "Reset the order"
    EXPECT_TRUE(Key(VK_RETURN));
    EXPECT_EQ(RunningOrder, 0u);
    EXPECT_EQ(window->text(Control::Edit1), "0");

    // Space is the button's own: pressed, then released.
    RunningOrder = 7;
    HWND button = window->control(Control::BitBtn6);
    SendMessageW(button, WM_KEYDOWN, VK_SPACE, 0);
    SendMessageW(button, WM_KEYUP, VK_SPACE, 0);
    Pump(50);
    EXPECT_EQ(RunningOrder, 0u);
}

TEST_F(Win32Skin, MarksFromCodeRunNoHandlerTheOperatorsDo) {
    ShowThenAttach();
    Settings.SoundSignal = false;
    window->setChecked(Control::CheckBox7, true);
    Pump(50);
    EXPECT_TRUE(window->checked(Control::CheckBox7));
    EXPECT_FALSE(Settings.SoundSignal);

    window->setChecked(Control::CheckBox7, false);
    SendMessageW(window->control(Control::CheckBox7), BM_CLICK, 0, 0);
    Pump(50);
    EXPECT_TRUE(window->checked(Control::CheckBox7));
    EXPECT_TRUE(Settings.SoundSignal);
}

TEST_F(Win32Skin, TheOrderFieldIsLeftForControlsNotForOtherWindows) {
    ShowThenAttach();
    window->setFocus(Control::Edit1);
    window->setText(Control::Edit1, "42");
    window->setFocus(Control::CheckBox1);
    Pump(100);
    EXPECT_EQ(RunningOrder, 42u);
    EXPECT_EQ(Settings.OrderNumber, 42u);

    // Another window takes the activation: the field is not left.
    window->setFocus(Control::Edit1);
    window->setText(Control::Edit1, "43");
    HWND other = CreateWindowExW(0, L"BUTTON", L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                 200, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetForegroundWindow(other);
    SetFocus(other);
    Pump(100);
    EXPECT_EQ(GetFocus(), other);
    EXPECT_EQ(RunningOrder, 42u);
    DestroyWindow(other);
}

TEST_F(Win32Skin, TheStatusBarWritesInTheSystemsStatusBarFont) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0));
    LOGFONTW used{};
    HFONT font = HFONT(SendMessageW(window->control(Control::StatusBar1), WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    ASSERT_NE(GetObjectW(font, sizeof used, &used), 0);
    EXPECT_EQ(std::wstring(used.lfFaceName), std::wstring(metrics.lfStatusFont.lfFaceName));
    EXPECT_EQ(used.lfHeight, metrics.lfStatusFont.lfHeight);
    EXPECT_EQ(used.lfWeight, metrics.lfStatusFont.lfWeight);
    // The other controls keep the window's font.
    HFONT other = HFONT(SendMessageW(window->control(Control::CheckBox1), WM_GETFONT, 0, 0));
    ASSERT_NE(GetObjectW(other, sizeof used, &used), 0);
    EXPECT_EQ(win32::Utf8(used.lfFaceName), FontName);
}

TEST_F(Win32Skin, TheStatusBarShowsTheColorSet) {
    ShowThenAttach();
    HWND bar = window->control(Control::StatusBar1);
    auto colourOnScreen = [&] {
        RedrawWindow(bar, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        HDC dc = GetDC(bar);
        const COLORREF c = GetPixel(dc, Scaled(StatusBarHeight) * 4, Scaled(StatusBarHeight) / 2);
        ReleaseDC(bar, dc);
        return c;
    };
    EXPECT_EQ(window->statusColor(), GetSysColor(COLOR_BTNFACE));
    window->setStatusColor(Rgb(255, 255, 0));
    EXPECT_EQ(window->statusColor(), Rgb(255, 255, 0));
    EXPECT_EQ(colourOnScreen(), Rgb(255, 255, 0));
    window->setStatusColor(GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(colourOnScreen(), GetSysColor(COLOR_BTNFACE));
}

// What another thread posts runs in the window's event loop, on its thread;
// what is still waiting when the window goes is deleted unrun.
TEST_F(Win32Skin, APostedFunctionRunsOnTheWindowsThreadOrGoesWithTheWindow) {
    std::thread::id ranOn;
    std::thread([&] { window->post([&] { ranOn = std::this_thread::get_id(); }); }).join();
    EXPECT_EQ(ranOn, std::thread::id());
    Pump(50);
    EXPECT_EQ(ranOn, std::this_thread::get_id());

    const auto held = std::make_shared<int>();
    bool ran = false;
    window->post([held, &ran] { ran = true; });
    window.reset();
    EXPECT_EQ(held.use_count(), 1);
    MSG quit{};  // the closed window's, still there for the event loop to end
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    Pump(50);
    EXPECT_FALSE(ran);
}

}  // namespace
