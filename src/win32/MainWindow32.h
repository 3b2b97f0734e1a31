// The main window in Win32: the controls built from the layout table as
// standard controls, the Window calls done with window messages, and the
// window's events handed to the form. No behaviour of its own.
//
// Each control's identifier (GetDlgCtrlID) is FirstControlId + its place in
// the table, so that tools can find it; the timers' identifiers are
// 1 + their place in Form1Timers.
#pragma once

#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <array>
#include <functional>
#include <mutex>
#include <string>

#include "Gdi.h"
#include "Window.h"

class TForm1;

namespace win32 {

inline constexpr int FirstControlId = 100;

class MainWindow32 final : public Window {
  public:
    // Makes the window, hidden, with every control of the table.
    explicit MainWindow32(HINSTANCE instance);
    ~MainWindow32() override;
    MainWindow32(const MainWindow32&) = delete;
    MainWindow32& operator=(const MainWindow32&) = delete;

    // The form that receives the window's events.
    void attach(TForm1& form) { form_ = &form; }

    HWND handle() const { return window_; }
    HWND control(Control c) const { return controls_[std::size_t(c)]; }

    // For the event loop: keyboard navigation of the window (Tab and
    // Shift+Tab in the table's tab order, then the dialog keys). True when
    // the message was handled.
    bool preTranslate(MSG& msg);

    // ---- Window ----
    std::string text(Control c) const override;
    void setText(Control c, std::string_view text) override;
    bool shown(Control c) const override;
    void setShown(Control c, bool shown) override;
    void setEnabled(Control c, bool enabled) override;
    bool checked(Control c) const override;
    void setChecked(Control c, bool checked) override;
    void setFocus(Control c) override;
    void paintNow(Control c) override;
    void setStatus(std::string_view text) override;
    Color statusColor() const override;
    void setStatusColor(Color colour) override;
    int lineCount() const override;
    std::string lineText(int line) const override;
    void setLineText(int line, std::string_view text) override;
    std::string caption() const override;
    void setCaption(std::string_view caption) override;
    void minimize() override;
    void close() override;
    void startTimer(Timer t) override;
    void stopTimer(Timer t) override;
    void showError(std::string_view text) override;
    void showManufacturer() override;
    void post(std::function<void()> function) override;

  private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ControlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR id, DWORD_PTR self);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleControl(HWND control, Control c, UINT message, WPARAM wParam, LPARAM lParam);

    void buildControls();
    HWND makeControl(Control c);
    void sizeLabel(Control c);
    void layoutStatusBar();
    // Paints what waits to be painted, then tells the form whether the window
    // is shown, active and minimised (TForm1::Activated: the start-up waits
    // for that).
    void reportWindowFacts();
    int controlOf(HWND control) const;
    // The memo's hard lines: its text split at CR LF.
    std::wstring memoText() const;
    void tabFrom(HWND focus, bool backwards);

    HINSTANCE instance_;
    Scale scale_;
    HWND window_ = nullptr;
    HWND statusBar_ = nullptr;
    std::array<HWND, ControlCount> controls_{};
    HFONT font_ = nullptr;
    HFONT statusFont_ = nullptr;                       // the system's, for the status bar
    std::array<HIMAGELIST, ControlCount> pictures_{};  // a button's picture in its six states
    std::array<HICON, 2> lamps_{};
    Color statusColor_;
    HWND savedFocus_ = nullptr;
    TForm1* form_ = nullptr;
    // The window for post(), which other threads call: null once it goes.
    std::mutex postLock_;
    HWND postTarget_ = nullptr;
};

}  // namespace win32
