#include "MainWindow32.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "Form2.h"
#include "Layout.h"
#include "MainWindow.h"
#include "ReadingList.h"
#include "Texts.h"

namespace win32 {

namespace {

constexpr wchar_t ClassName[] = L"TForm1";
// Posted to the window: the activation, once the window has painted itself;
// the order field left for another control of the window.
constexpr UINT WM_APP_ACTIVATED = WM_APP + 1;
constexpr UINT WM_APP_FOCUS_LEFT = WM_APP + 2;
// A function to run on the window's thread; lParam: a std::function<void()>
// made with new, deleted when run or when the window goes.
constexpr UINT WM_APP_POSTED = WM_APP + 3;
constexpr UINT_PTR SubclassId = 1;

constexpr wchar_t LineBreak[] = L"\r\n";

UINT_PTR TimerId(Timer t) {
    return UINT_PTR(t) + 1;
}

HMENU ControlId(Control c) {
    return reinterpret_cast<HMENU>(INT_PTR(FirstControlId + int(c)));
}

// Where each hard line of an edit's text starts and ends (the lines are
// separated by CR LF; word wrap adds no characters).
struct LineSpan {
    std::size_t begin, end;
};

std::vector<LineSpan> HardLines(const std::wstring& text) {
    std::vector<LineSpan> lines;
    std::size_t begin = 0;
    for (std::size_t at; (at = text.find(LineBreak, begin)) != std::wstring::npos; begin = at + 2)
        lines.push_back({begin, at});
    lines.push_back({begin, text.size()});
    return lines;
}

// A button's picture for each of its states (normal, hot, pressed, disabled,
// default, stylus hot): the disabled one grey.
HIMAGELIST ButtonPictures(Picture picture, int size) {
    const pictures::Image normal = pictures::ButtonPicture(picture, size);
    HICON enabled = IconOf(normal);
    HICON disabled = IconOf(pictures::DisabledPicture(normal));
    constexpr int States = 6, Disabled = 3;  // the list's order of the states
    HIMAGELIST list = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, States, 0);
    for (int state = 0; state < States; ++state)
        ImageList_ReplaceIcon(list, -1, state == Disabled ? disabled : enabled);
    DestroyIcon(enabled);
    DestroyIcon(disabled);
    return list;
}

}  // namespace

MainWindow32::MainWindow32(HINSTANCE instance)
    : instance_(instance), statusColor_(GetSysColor(COLOR_BTNFACE)) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    RegisterWindowClass(instance, ClassName, Proc);

    // The client area of the table, in a sizable frame whatever the system
    // draws around it, in the middle of the screen.
    constexpr DWORD Style = WS_OVERLAPPEDWINDOW;
    RECT outer{0, 0, scale_(ClientWidth), scale_(ClientHeight)};
    AdjustWindowRectEx(&outer, Style, FALSE, 0);
    const int width = outer.right - outer.left, height = outer.bottom - outer.top;
    const POINT at = CentredOnScreen(width, height);
    CreateWindowExW(0, ClassName, Wide(texts::MainCaption).c_str(), Style, at.x, at.y, width,
                    height, nullptr, nullptr, instance, this);
    font_ = ProgramFont(scale_, WindowFontPixels);
    statusFont_ = StatusFont(scale_);
    buildControls();
}

MainWindow32::~MainWindow32() {
    if (window_)
        DestroyWindow(window_);
    for (HIMAGELIST list : pictures_)
        if (list)
            ImageList_Destroy(list);
    for (HICON lamp : lamps_)
        if (lamp)
            DestroyIcon(lamp);
    DeleteObject(font_);
    DeleteObject(statusFont_);
}

// ---- Building ----

void MainWindow32::buildControls() {
    lamps_[0] = IconOf(pictures::LampPicture(false, scale_(LampSize)));
    lamps_[1] = IconOf(pictures::LampPicture(true, scale_(LampSize)));
    // A child made earlier lies above those made later: the table lists the
    // controls from the bottom up, so they are made from its end.
    for (int i = ControlCount - 1; i >= 0; --i)
        controls_[std::size_t(i)] = makeControl(Control(i));
    layoutStatusBar();
}

HWND MainWindow32::makeControl(Control c) {
    const ControlLayout& entry = LayoutOf(c);
    const std::wstring caption = Wide(entry.caption);
    const wchar_t* windowClass = L"BUTTON";
    std::wstring text = caption;
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS | (entry.shown ? WS_VISIBLE : 0);
    DWORD exStyle = 0;
    if (entry.tabOrder != NoTabStop && entry.kind != Kind::StatusBar)
        style |= WS_TABSTOP | WS_GROUP;  // a group of its own: no arrow keys between controls
    switch (entry.kind) {
        case Kind::Label:
            windowClass = L"STATIC";
            style |= SS_LEFT | SS_NOPREFIX;
            break;
        case Kind::Picture:
            windowClass = L"STATIC";
            style |= SS_ICON | SS_REALSIZEIMAGE;
            text.clear();
            break;
        case Kind::SpeedButton:
            style |= BS_PUSHBUTTON;
            break;
        case Kind::Memo:
            windowClass = L"EDIT";
            style |= ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | ES_LEFT;
            exStyle |= WS_EX_CLIENTEDGE;
            text.clear();
            for (int line = 0; line < readinglist::DesignedEmptyLines; ++line)
                text += LineBreak;
            break;
        case Kind::Bevel:
            windowClass = L"STATIC";
            style |= SS_ETCHEDFRAME;
            break;
        case Kind::Button:
            style |= BS_PUSHBUTTON;
            break;
        case Kind::CheckBox:
            style |= BS_AUTOCHECKBOX;
            break;
        case Kind::Edit:
            windowClass = L"EDIT";
            style |= ES_AUTOHSCROLL | ES_LEFT;
            exStyle |= WS_EX_CLIENTEDGE;
            break;
        case Kind::StatusBar:
            // Placed by the window (layoutStatusBar) at the table's height.
            windowClass = STATUSCLASSNAMEW;
            style |= SBARS_SIZEGRIP | CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER;
            break;
    }
    HWND control = CreateWindowExW(exStyle, windowClass, text.c_str(), style, scale_(entry.left),
                                   scale_(entry.top), scale_(entry.width), scale_(entry.height),
                                   window_, ControlId(c), instance_, nullptr);
    controls_[std::size_t(c)] = control;  // known before any message of ours reaches it
    SendMessageW(control, WM_SETFONT, WPARAM(entry.kind == Kind::StatusBar ? statusFont_ : font_),
                 FALSE);
    switch (entry.kind) {
        case Kind::Label:
            sizeLabel(c);
            break;
        case Kind::Picture:
            SendMessageW(control, STM_SETICON, WPARAM(lamps_[entry.picture == Picture::LampOn]), 0);
            SetWindowPos(control, nullptr, scale_(entry.left), scale_(entry.top),
                         scale_(entry.width), scale_(entry.height), SWP_NOZORDER | SWP_NOACTIVATE);
            break;
        case Kind::SpeedButton:
        case Kind::Button: {
            const int size = scale_(ButtonPictureSize);
            pictures_[std::size_t(c)] = ButtonPictures(entry.picture, size);
            BUTTON_IMAGELIST list{pictures_[std::size_t(c)],
                                  {scale_(2), 0, scale_(2), 0},
                                  UINT(entry.kind == Kind::Button ? BUTTON_IMAGELIST_ALIGN_LEFT
                                                                  : BUTTON_IMAGELIST_ALIGN_CENTER)};
            SendMessageW(control, BCM_SETIMAGELIST, 0, LPARAM(&list));
            if (entry.kind == Kind::SpeedButton)
                SetWindowSubclass(control, ControlProc, SubclassId, DWORD_PTR(this));
            break;
        }
        case Kind::CheckBox:
            SendMessageW(control, BM_SETCHECK, entry.checked ? BST_CHECKED : BST_UNCHECKED, 0);
            break;
        case Kind::Memo:
        case Kind::Edit:
            SetWindowSubclass(control, ControlProc, SubclassId, DWORD_PTR(this));
            break;
        case Kind::StatusBar: {
            statusBar_ = control;
            // Painted here (handleControl): a themed status bar paints the
            // theme's background and ignores SB_SETBKCOLOR, and the form
            // colours the bar after a repeat read.
            SetWindowSubclass(control, ControlProc, SubclassId, DWORD_PTR(this));
            int right = -1;  // one part over the full width
            SendMessageW(control, SB_SETPARTS, 1, LPARAM(&right));
            SendMessageW(control, SB_SETTEXTW, 0, LPARAM(caption.c_str()));
            break;
        }
        case Kind::Bevel:
            break;
    }
    return control;
}

void MainWindow32::sizeLabel(Control c) {
    HWND label = control(c);
    const std::wstring text = WindowText(label);
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, font_);
    RECT r{};
    DrawTextW(dc, text.empty() ? L" " : text.c_str(), -1, &r,
              DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    SetWindowPos(label, nullptr, 0, 0, text.empty() ? 0 : r.right, r.bottom,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow32::layoutStatusBar() {
    if (!statusBar_)
        return;
    RECT client{};
    GetClientRect(window_, &client);
    const int height = scale_(StatusBarHeight);
    MoveWindow(statusBar_, 0, client.bottom - height, client.right, height, TRUE);
}

// ---- Events ----

LRESULT CALLBACK MainWindow32::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<MainWindow32*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        self = static_cast<MainWindow32*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        {
            std::lock_guard lock(self->postLock_);
            self->postTarget_ = window;
        }
        SetWindowLongPtrW(window, GWLP_USERDATA, LONG_PTR(self));
    }
    if (!self)
        return DefWindowProcW(window, message, wParam, lParam);
    return self->handle(message, wParam, lParam);
}

LRESULT MainWindow32::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED && lParam) {
                const int c = controlOf(reinterpret_cast<HWND>(lParam));
                // A box with BS_AUTOCHECKBOX has changed its mark already.
                if (c >= 0 && form_)
                    form_->Clicked(Control(c));
                return 0;
            }
            break;
        case WM_CTLCOLORSTATIC: {
            // Labels, check boxes and lamps on the button face: a label on a
            // frame's edge hides the edge there.
            auto dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        case WM_SIZE:
            layoutStatusBar();
            if (wParam == SIZE_RESTORED || wParam == SIZE_MAXIMIZED)
                PostMessageW(window_, WM_APP_ACTIVATED, 0, 0);
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(wParam) == WA_INACTIVE) {
                // The control with the focus gets it back on the next activation.
                if (HWND focus = GetFocus(); focus && IsChild(window_, focus))
                    savedFocus_ = focus;
                return 0;
            }
            PostMessageW(window_, WM_APP_ACTIVATED, 0, 0);
            if (HIWORD(wParam))  // minimised
                return 0;
            if (savedFocus_ && IsWindow(savedFocus_) && IsWindowVisible(savedFocus_) &&
                IsWindowEnabled(savedFocus_))
                SetFocus(savedFocus_);
            else if (HWND focus = GetFocus(); !focus || !IsChild(window_, focus))
                tabFrom(nullptr, false);  // the first control in the tab order
            return 0;
        case WM_APP_ACTIVATED:
            reportWindowFacts();
            return 0;
        case WM_APP_FOCUS_LEFT:
            if (form_)
                form_->FocusLeft(Control(wParam));
            return 0;
        case WM_APP_POSTED: {
            const std::unique_ptr<std::function<void()>> function(
                reinterpret_cast<std::function<void()>*>(lParam));
            (*function)();
            return 0;
        }
        case WM_TIMER:
            for (const TimerLayout& entry : Form1Timers)
                if (wParam == TimerId(entry.id) && form_)
                    form_->Tick(entry.id);
            return 0;
        case WM_DESTROY:
            for (const TimerLayout& entry : Form1Timers)
                KillTimer(window_, TimerId(entry.id));
            PostQuitMessage(0);
            return 0;
        case WM_NCDESTROY: {
            // Nothing is posted from now on; what was, and has not run, goes.
            {
                std::lock_guard lock(postLock_);
                postTarget_ = nullptr;
            }
            MSG posted;
            while (PeekMessageW(&posted, window_, WM_APP_POSTED, WM_APP_POSTED, PM_REMOVE)) {
                // PeekMessage hands out WM_QUIT whatever the filter, once
                // nothing else matches: put back, for the event loop to end.
                if (posted.message == WM_QUIT) {
                    PostQuitMessage(int(posted.wParam));
                    break;
                }
                delete reinterpret_cast<std::function<void()>*>(posted.lParam);
            }
            window_ = nullptr;
            statusBar_ = nullptr;
            controls_.fill(nullptr);
            savedFocus_ = nullptr;
            break;
        }
        default:
            break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

LRESULT CALLBACK MainWindow32::ControlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam,
                                           UINT_PTR, DWORD_PTR self) {
    auto* window = reinterpret_cast<MainWindow32*>(self);
    const int c = window->controlOf(control);
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(control, ControlProc, SubclassId);
    if (message == WM_NCDESTROY || c < 0)
        return DefSubclassProc(control, message, wParam, lParam);
    return window->handleControl(control, Control(c), message, wParam, lParam);
}

LRESULT MainWindow32::handleControl(HWND control, Control c, UINT message, WPARAM wParam,
                                    LPARAM lParam) {
    const Kind kind = LayoutOf(c).kind;
    if (kind == Kind::Edit && message == WM_KILLFOCUS) {
        // Left for another control of this window, not for another window.
        const LRESULT result = DefSubclassProc(control, message, wParam, lParam);
        if (HWND next = reinterpret_cast<HWND>(wParam); next && IsChild(window_, next))
            PostMessageW(window_, WM_APP_FOCUS_LEFT, WPARAM(c), 0);
        return result;
    }
    if (kind == Kind::Memo && message == WM_GETDLGCODE) {
        // Tab moves on to the next control rather than into the text; the
        // dialog keys never select all the rows.
        LRESULT code = DefSubclassProc(control, message, wParam, lParam);
        const auto* msg = reinterpret_cast<const MSG*>(lParam);
        if (msg && msg->message == WM_KEYDOWN && msg->wParam == VK_TAB)
            code &= ~(DLGC_WANTALLKEYS | DLGC_WANTMESSAGE);
        return code & ~(DLGC_WANTTAB | DLGC_HASSETSEL);
    }
    if (kind == Kind::StatusBar && (message == WM_PAINT || message == WM_ERASEBKGND)) {
        if (message == WM_ERASEBKGND)
            return 1;
        // The bar's colour, its one part's text and the size grip.
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(control, &paint);
        RECT r{};
        GetClientRect(control, &r);
        HBRUSH brush = CreateSolidBrush(statusColor_);
        FillRect(dc, &r, brush);
        DeleteObject(brush);
        const int grip = GetSystemMetrics(SM_CXVSCROLL);
        if (!IsZoomed(window_)) {
            RECT corner{r.right - grip, r.bottom - grip, r.right, r.bottom};
            DrawFrameControl(dc, &corner, DFC_SCROLL, DFCS_SCROLLSIZEGRIP);
        }
        const std::wstring shownText = Wide(text(Control::StatusBar1));
        RECT textRect{r.left + scale_(2), r.top, r.right - grip, r.bottom};
        HGDIOBJ old = SelectObject(dc, HFONT(SendMessageW(control, WM_GETFONT, 0, 0)));
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
        DrawTextW(dc, shownText.c_str(), int(shownText.size()), &textRect,
                  DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
        SelectObject(dc, old);
        EndPaint(control, &paint);
        return 0;
    }
    if (kind == Kind::SpeedButton) {
        // Pressed with the mouse without taking the focus.
        switch (message) {
            case WM_LBUTTONDOWN:
            case WM_LBUTTONDBLCLK:
                SetCapture(control);
                SendMessageW(control, BM_SETSTATE, TRUE, 0);
                return 0;
            case WM_MOUSEMOVE:
                if (GetCapture() == control) {
                    RECT r{};
                    GetClientRect(control, &r);
                    const POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
                    SendMessageW(control, BM_SETSTATE, PtInRect(&r, p), 0);
                    return 0;
                }
                break;
            case WM_LBUTTONUP:
                if (GetCapture() == control) {
                    const bool pressed = SendMessageW(control, BM_GETSTATE, 0, 0) & BST_PUSHED;
                    ReleaseCapture();
                    SendMessageW(control, BM_SETSTATE, FALSE, 0);
                    if (pressed && form_)
                        form_->Clicked(c);
                    return 0;
                }
                break;
            case WM_CAPTURECHANGED:
                SendMessageW(control, BM_SETSTATE, FALSE, 0);
                break;
            case WM_SETFOCUS:
                if (wParam)
                    SetFocus(reinterpret_cast<HWND>(wParam));
                return 0;
            default:
                break;
        }
    }
    return DefSubclassProc(control, message, wParam, lParam);
}

void MainWindow32::reportWindowFacts() {
    if (!form_ || !window_)
        return;
    // What is waiting to be painted is painted first: the start-up may run
    // now and keep the thread for a while.
    RedrawWindow(window_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    form_->Activated(
        {IsWindowVisible(window_) != 0, GetActiveWindow() == window_, IsIconic(window_) != 0});
}

int MainWindow32::controlOf(HWND control) const {
    if (!control)
        return -1;
    const auto it = std::find(controls_.begin(), controls_.end(), control);
    return it == controls_.end() ? -1 : int(it - controls_.begin());
}

bool MainWindow32::preTranslate(MSG& msg) {
    if (!window_ || (msg.hwnd != window_ && !IsChild(window_, msg.hwnd)))
        return false;
    if (msg.message != WM_KEYDOWN || GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0)
        return IsDialogMessageW(window_, &msg);
    HWND focus = GetFocus();
    const int c = controlOf(focus);
    const Kind kind = c >= 0 ? LayoutOf(Control(c)).kind : Kind::Label;
    const bool button = kind == Kind::Button || kind == Kind::CheckBox;
    switch (msg.wParam) {
        case VK_TAB: {
            const LRESULT wants =
                focus ? SendMessageW(focus, WM_GETDLGCODE, msg.wParam, LPARAM(&msg)) : 0;
            if (wants & (DLGC_WANTTAB | DLGC_WANTALLKEYS))
                break;
            tabFrom(focus, GetKeyState(VK_SHIFT) < 0);
            return true;
        }
        // On a button or a check box the arrows go on along the tab order,
        // and Enter presses a focused button; an edit keeps these keys.
        case VK_DOWN:
        case VK_RIGHT:
        case VK_UP:
        case VK_LEFT:
            if (!button)
                break;
            tabFrom(focus, msg.wParam == VK_UP || msg.wParam == VK_LEFT);
            return true;
        case VK_RETURN:
            if (kind != Kind::Button)
                break;
            SendMessageW(focus, BM_CLICK, 0, 0);
            return true;
        default:
            break;
    }
    return IsDialogMessageW(window_, &msg);
}

void MainWindow32::tabFrom(HWND focus, bool backwards) {
    const std::vector<Control> order = TabOrder();
    const int n = int(order.size());
    int at = -1;
    for (int i = 0; i < n; ++i)
        if (control(order[std::size_t(i)]) == focus)
            at = i;
    if (at < 0)
        at = backwards ? 0 : n - 1;
    for (int step = 1; step <= n; ++step) {
        const ControlLayout& next =
            LayoutOf(order[std::size_t((at + (backwards ? n - step : step)) % n)]);
        HWND candidate = control(next.id);
        if (!IsWindowVisible(candidate) || !IsWindowEnabled(candidate))
            continue;
        SetFocus(candidate);
        // The order field's number is selected, to be typed over; never the
        // list's rows, which a typed key would replace all at once.
        if (next.kind == Kind::Edit)
            SendMessageW(candidate, EM_SETSEL, 0, -1);
        // The keyboard is in use: show where the focus is.
        SendMessageW(window_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
        return;
    }
}

// ---- Controls ----

std::string MainWindow32::text(Control c) const {
    if (c == Control::StatusBar1) {
        const auto length = LOWORD(SendMessageW(statusBar_, SB_GETTEXTLENGTHW, 0, 0));
        std::wstring text(std::size_t(length) + 1, L'\0');
        SendMessageW(statusBar_, SB_GETTEXTW, 0, LPARAM(text.data()));
        text.resize(length);
        return Utf8(text);
    }
    return Utf8(WindowText(control(c)));
}

void MainWindow32::setText(Control c, std::string_view text) {
    if (c == Control::StatusBar1) {
        setStatus(text);
        return;
    }
    SetWindowTextW(control(c), Wide(text).c_str());
    if (LayoutOf(c).kind == Kind::Label)
        sizeLabel(c);
}

bool MainWindow32::shown(Control c) const {
    return GetWindowLongPtrW(control(c), GWL_STYLE) & WS_VISIBLE;
}

void MainWindow32::setShown(Control c, bool shown) {
    ShowWindow(control(c), shown ? SW_SHOWNA : SW_HIDE);
}

void MainWindow32::setEnabled(Control c, bool enabled) {
    EnableWindow(control(c), enabled);
}

bool MainWindow32::checked(Control c) const {
    return SendMessageW(control(c), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void MainWindow32::setChecked(Control c, bool checked) {
    // BM_SETCHECK sends no notification: no handler runs.
    SendMessageW(control(c), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void MainWindow32::setFocus(Control c) {
    SetFocus(control(c));
}

void MainWindow32::paintNow(Control c) {
    // The control's place in the window, whatever lies there now.
    RECT r{};
    GetWindowRect(control(c), &r);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&r), 2);
    RedrawWindow(window_, &r, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

// ---- Status line ----

void MainWindow32::setStatus(std::string_view text) {
    SendMessageW(statusBar_, SB_SETTEXTW, 0, LPARAM(Wide(text).c_str()));
    UpdateWindow(statusBar_);
}

Color MainWindow32::statusColor() const {
    return statusColor_;
}

void MainWindow32::setStatusColor(Color colour) {
    statusColor_ = colour;
    InvalidateRect(statusBar_, nullptr, TRUE);
}

// ---- The reading list ----

std::wstring MainWindow32::memoText() const {
    return WindowText(control(Control::Memo1));
}

int MainWindow32::lineCount() const {
    return int(HardLines(memoText()).size());
}

std::string MainWindow32::lineText(int line) const {
    const std::wstring text = memoText();
    const std::vector<LineSpan> lines = HardLines(text);
    if (line < 0 || line >= int(lines.size()))
        return {};
    const LineSpan span = lines[std::size_t(line)];
    return Utf8(std::wstring_view(text).substr(span.begin, span.end - span.begin));
}

void MainWindow32::setLineText(int line, std::string_view text) {
    // The edit's own line calls count the lines as wrapped on the screen;
    // the list's rows are the hard lines, so the replacement goes by offset.
    const std::vector<LineSpan> lines = HardLines(memoText());
    if (line < 0 || line >= int(lines.size()))
        return;
    const LineSpan span = lines[std::size_t(line)];
    HWND memo = control(Control::Memo1);
    SendMessageW(memo, EM_SETSEL, WPARAM(span.begin), LPARAM(span.end));
    SendMessageW(memo, EM_REPLACESEL, FALSE, LPARAM(Wide(text).c_str()));
}

// ---- The window ----

std::string MainWindow32::caption() const {
    return Utf8(WindowText(window_));
}

void MainWindow32::setCaption(std::string_view caption) {
    SetWindowTextW(window_, Wide(caption).c_str());
}

void MainWindow32::minimize() {
    ShowWindow(window_, SW_MINIMIZE);
}

void MainWindow32::close() {
    if (window_)
        DestroyWindow(window_);
}

void MainWindow32::startTimer(Timer t) {
    // Setting a running timer again starts its interval anew.
    SetTimer(window_, TimerId(t), LayoutOf(t).intervalMs, nullptr);
}

void MainWindow32::stopTimer(Timer t) {
    KillTimer(window_, TimerId(t));
}

void MainWindow32::showError(std::string_view text) {
    // No owner: the box stands in the middle of the screen. Task-modal: every
    // window of the program waits for it, while its loop keeps the timers going.
    HWND focus = GetFocus();
    const bool active = GetActiveWindow() == window_;
    MessageBoxW(nullptr, Wide(text).c_str(), Wide(texts::ErrorCaption).c_str(),
                MB_OK | MB_ICONSTOP | MB_TASKMODAL | MB_SETFOREGROUND);
    if (active && window_) {
        SetForegroundWindow(window_);
        if (focus && IsWindow(focus) && IsChild(window_, focus))
            SetFocus(focus);
    }
}

void MainWindow32::showManufacturer() {
    HWND focus = GetFocus();
    ShowForm2Modal(instance_, window_);
    if (window_ && focus && IsWindow(focus) && IsChild(window_, focus))
        SetFocus(focus);
}

void MainWindow32::post(std::function<void()> function) {
    auto posted = std::make_unique<std::function<void()>>(std::move(function));
    std::lock_guard lock(postLock_);
    if (postTarget_ &&
        PostMessageW(postTarget_, WM_APP_POSTED, 0, reinterpret_cast<LPARAM>(posted.get())))
        (void)posted.release();  // the window's now
}

}  // namespace win32
