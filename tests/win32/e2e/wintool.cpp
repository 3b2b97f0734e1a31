// wintool: reads and drives the windows of another program through the Win32
// API, as any Windows tool would, for the end-to-end tests run under Wine.
//
//   wintool [-t MS] COMMAND ...       MS: how long to wait for a window (5000)
//   list                              every visible top-level window
//   wait PREFIX [MS]                  a visible top-level window whose caption
//                                     starts with PREFIX; prints the caption
//   dump PREFIX                       the window and every control in it
//   click PREFIX ID                   presses a button (BM_CLICK)
//   settext PREFIX ID TEXT            WM_SETTEXT
//   focus PREFIX ID|-                 activates the window, focuses the control
//   focused PREFIX                    the control with the focus
//   key PREFIX ID|- [-s SCAN] KEY...  activates, focuses (unless -), types
//   type [-s SCAN] KEY...             types into whatever has the focus
//   foreground                        the foreground window and its focus
//   close PREFIX                      WM_CLOSE; waits until the window is gone
//   modal PREFIX [ID|none]            a dialog box (#32770): prints its texts,
//                                     presses button ID (IDOK) and waits for it
//                                     to close
//   memory PREFIX                     working set and peak of the window's process
//
// Texts are Unicode throughout (the W calls): arguments come in as UTF-16 from
// wmain, output goes out as UTF-8. dump prints one record a line, fields
// separated by tabs, text last with \, tab, CR and LF escaped as \\, \t, \r, \n:
//   window  0   CLASS STYLE VISIBLE ENABLED - FOREGROUND X Y W H CAPTION
//   client  0   CLASS STYLE VISIBLE ENABLED - -          X Y W H CAPTION
//   control ID  CLASS STYLE VISIBLE ENABLED CHECKED FOCUS X Y W H TEXT
//   part    ID  INDEX RIGHT TEXT       (status bar part; RIGHT -1: to the end)
//   column  ID  INDEX WIDTH TEXT       (list view column)
//   item    ID  ROW   COLUMN TEXT      (list box, combo box or list view cell)
// The window's rectangle is in screen coordinates, the client's origin too;
// controls are in the client coordinates of the top-level window. STYLE is
// hexadecimal; CHECKED is 0, 1 or 2 for check boxes and radio buttons, - else.
// KEY: a virtual-key code (0x0D, 13) or name (ENTER, TAB, SPACE, SHIFT, A, 7,
// F1, SUBTRACT...), tapped; +KEY presses it only, -KEY releases it only. Keys
// go through SendInput with the keyboard's own scan code, or SCAN if given.
// Exit status: 0 done, 1 not found or not done in time, 2 bad usage.
#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <psapi.h>

#include <cwchar>
#include <cwctype>
#include <optional>
#include <string>
#include <vector>

namespace {

DWORD waitMs = 5000;
constexpr UINT ReplyMs = 3000;  // for each message sent to another program

// --- output ---------------------------------------------------------------------

std::string Utf8(const std::wstring& text) {
    if (text.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(std::size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// A console takes UTF-16; a pipe or file (Wine run from a script) takes the
// UTF-8 bytes as they are.
void Write(HANDLE handle, const std::wstring& text) {
    DWORD mode = 0;
    DWORD done = 0;
    if (GetConsoleMode(handle, &mode)) {
        WriteConsoleW(handle, text.data(), DWORD(text.size()), &done, nullptr);
    } else {
        const std::string bytes = Utf8(text);
        WriteFile(handle, bytes.data(), DWORD(bytes.size()), &done, nullptr);
    }
}

void Out(const std::wstring& line) {
    Write(GetStdHandle(STD_OUTPUT_HANDLE), line + L"\n");
}

int Fail(const std::wstring& message, int status = 1) {
    Write(GetStdHandle(STD_ERROR_HANDLE), L"wintool: " + message + L"\n");
    return status;
}

std::wstring Escaped(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        switch (c) {
            case L'\\':
                out += L"\\\\";
                break;
            case L'\t':
                out += L"\\t";
                break;
            case L'\r':
                out += L"\\r";
                break;
            case L'\n':
                out += L"\\n";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::wstring Hex(unsigned long value) {
    wchar_t buffer[16];
    std::swprintf(buffer, 16, L"%lx", value);
    return buffer;
}

template <typename... Fields>
std::wstring Tabbed(const std::wstring& first, const Fields&... rest) {
    std::wstring line = first;
    ((line += L"\t", line += rest), ...);
    return line;
}

std::wstring Num(long long value) {
    return std::to_wstring(value);
}

// --- finding windows --------------------------------------------------------------

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = L"";
    GetClassNameW(window, name, 256);
    return name;
}

// WM_GETTEXT is carried across processes by the system; a hung program only
// costs ReplyMs.
std::wstring TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, ReplyMs, &length))
        return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, ReplyMs, &copied))
        return {};
    text.resize(copied);
    return text;
}

// The caption of a top-level window: read without a message, so a program
// busy in a modal loop or hung still answers.
std::wstring CaptionOf(HWND window) {
    wchar_t caption[512] = L"";
    InternalGetWindowText(window, caption, 512);
    return caption;
}

BOOL CALLBACK AddVisible(HWND window, LPARAM list) {
    if (IsWindowVisible(window))
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

BOOL CALLBACK Add(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> windows;
    EnumWindows(AddVisible, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// The first (topmost) visible top-level window whose caption starts with
// prefix and, if given, whose class is className; waits up to `ms`.
HWND FindTop(const std::wstring& prefix, DWORD ms, const wchar_t* className = nullptr) {
    const ULONGLONG end = GetTickCount64() + ms;
    for (;;) {
        for (HWND window : TopLevelWindows()) {
            if (CaptionOf(window).rfind(prefix, 0) == 0 &&
                (!className || ClassOf(window) == className))
                return window;
        }
        if (GetTickCount64() >= end)
            return nullptr;
        Sleep(50);
    }
}

std::vector<HWND> Descendants(HWND top) {
    std::vector<HWND> windows;
    EnumChildWindows(top, Add, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

HWND ControlOf(HWND top, int id) {
    for (HWND window : Descendants(top))
        if (GetDlgCtrlID(window) == id)
            return window;
    return nullptr;
}

bool ParseNumber(const wchar_t* text, unsigned long& value) {
    wchar_t* end = nullptr;
    value = std::wcstoul(text, &end, 0);
    return end != text && *end == L'\0';
}

bool IsClass(HWND window, const wchar_t* name) {
    return _wcsicmp(ClassOf(window).c_str(), name) == 0;
}

HWND FocusOf(HWND top) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(top, nullptr), &info))
        return nullptr;
    return info.hwndFocus;
}

// --- memory in the other process ------------------------------------------------
// Status bar and list view messages take pointers, which the system does not
// carry across processes: the buffer is made in the owner of the control.

class RemoteBuffer {
  public:
    RemoteBuffer(HWND window, SIZE_T size) : size_(size) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        process_ = OpenProcess(
            PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION,
            FALSE, pid);
        if (process_)
            base_ =
                VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    ~RemoteBuffer() {
        if (base_)
            VirtualFreeEx(process_, base_, 0, MEM_RELEASE);
        if (process_)
            CloseHandle(process_);
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    explicit operator bool() const { return base_ != nullptr; }
    char* at(SIZE_T offset) const { return static_cast<char*>(base_) + offset; }
    LPARAM param(SIZE_T offset = 0) const { return reinterpret_cast<LPARAM>(at(offset)); }
    bool put(SIZE_T offset, const void* data, SIZE_T n) const {
        return offset + n <= size_ && WriteProcessMemory(process_, at(offset), data, n, nullptr);
    }
    bool get(SIZE_T offset, void* data, SIZE_T n) const {
        return offset + n <= size_ && ReadProcessMemory(process_, at(offset), data, n, nullptr);
    }
    std::wstring text(SIZE_T offset, SIZE_T chars) const {
        std::wstring s(chars, L'\0');
        if (!get(offset, s.data(), chars * sizeof(wchar_t)))
            return {};
        s.resize(std::wcslen(s.c_str()));
        return s;
    }
    // Whether the other process has pointers of our size: a list view item
    // holds one.
    bool sameBitness() const {
        BOOL ours = FALSE, theirs = FALSE;
        IsWow64Process(GetCurrentProcess(), &ours);
        IsWow64Process(process_, &theirs);
        return ours == theirs;
    }

  private:
    HANDLE process_ = nullptr;
    void* base_ = nullptr;
    SIZE_T size_;
};

std::optional<LRESULT> Ask(HWND window, UINT message, WPARAM w, LPARAM l) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, w, l, SMTO_ABORTIFHUNG, ReplyMs, &result))
        return std::nullopt;
    return LRESULT(result);
}

constexpr SIZE_T TextChars = 1024;

void DumpStatusBar(HWND bar, const std::wstring& id) {
    RemoteBuffer remote(bar, 4096);
    if (!remote)
        return;
    const int parts = int(Ask(bar, SB_GETPARTS, 256, remote.param()).value_or(0));
    std::vector<int> rights(std::size_t(parts > 0 ? parts : 0));
    if (parts > 0)
        remote.get(0, rights.data(), rights.size() * sizeof(int));
    for (int i = 0; i < parts; ++i) {
        std::wstring text;
        if (Ask(bar, SB_GETTEXTW, WPARAM(i), remote.param()))
            text = remote.text(0, 4096 / sizeof(wchar_t));
        Out(Tabbed(L"part", id, Num(i), Num(rights[std::size_t(i)]), Escaped(text)));
    }
}

void DumpListView(HWND list, const std::wstring& id) {
    RemoteBuffer remote(list, sizeof(LVITEMW) + TextChars * sizeof(wchar_t));
    if (!remote)
        return;
    if (!remote.sameBitness()) {
        Fail(L"list view " + id + L": its program is of the other bitness; use the other wintool");
        return;
    }
    const SIZE_T textAt = sizeof(LVITEMW);
    const auto textPointer = reinterpret_cast<LPWSTR>(remote.at(textAt));
    int columns = 0;
    for (;; ++columns) {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = textPointer;
        column.cchTextMax = int(TextChars);
        static_assert(sizeof column <= sizeof(LVITEMW));
        const wchar_t none = L'\0';
        remote.put(textAt, &none, sizeof none);
        if (!remote.put(0, &column, sizeof column) ||
            !Ask(list, LVM_GETCOLUMNW, WPARAM(columns), remote.param()).value_or(0) ||
            !remote.get(0, &column, sizeof column))
            break;
        Out(Tabbed(L"column", id, Num(columns), Num(column.cx),
                   Escaped(remote.text(textAt, TextChars))));
    }
    const int rows = int(Ask(list, LVM_GETITEMCOUNT, 0, 0).value_or(0));
    for (int row = 0; row < rows; ++row) {
        for (int col = 0; col < (columns > 0 ? columns : 1); ++col) {
            LVITEMW item{};
            item.iSubItem = col;
            item.pszText = textPointer;
            item.cchTextMax = int(TextChars);
            if (!remote.put(0, &item, sizeof item))
                return;
            const auto n = Ask(list, LVM_GETITEMTEXTW, WPARAM(row), remote.param());
            Out(Tabbed(L"item", id, Num(row), Num(col),
                       Escaped(n ? remote.text(textAt, std::size_t(*n) + 1) : L"")));
        }
    }
}

// List box and combo box rows: LB_GETTEXT and CB_GETLBTEXT are carried across
// processes by the system, like WM_GETTEXT.
void DumpRows(HWND box, const std::wstring& id, UINT count, UINT length, UINT get) {
    const int rows = int(Ask(box, count, 0, 0).value_or(0));
    for (int row = 0; row < rows; ++row) {
        const LRESULT n = Ask(box, length, WPARAM(row), 0).value_or(-1);
        std::wstring text(std::size_t(n > 0 ? n : 0) + 1, L'\0');
        if (n >= 0 && Ask(box, get, WPARAM(row), reinterpret_cast<LPARAM>(text.data())))
            text.resize(std::wcslen(text.c_str()));
        else
            text.clear();
        Out(Tabbed(L"item", id, Num(row), L"0", Escaped(text)));
    }
}

std::wstring Checked(HWND control) {
    if (!IsClass(control, WC_BUTTONW))
        return L"-";
    switch (GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) {
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON:
        case BS_3STATE:
        case BS_AUTO3STATE:
            return Num(Ask(control, BM_GETCHECK, 0, 0).value_or(-1));
        default:
            return L"-";
    }
}

std::wstring Rect(const RECT& r) {
    return Tabbed(Num(r.left), Num(r.top), Num(r.right - r.left), Num(r.bottom - r.top));
}

int Dump(HWND top) {
    const HWND focus = FocusOf(top);
    const std::wstring caption = Escaped(CaptionOf(top));
    const std::wstring style = Hex(GetWindowLongW(top, GWL_STYLE));
    const std::wstring visible = Num(IsWindowVisible(top) ? 1 : 0);
    const std::wstring enabled = Num(IsWindowEnabled(top) ? 1 : 0);
    RECT outer{};
    GetWindowRect(top, &outer);
    Out(Tabbed(L"window", L"0", ClassOf(top), style, visible, enabled, L"-",
               Num(GetForegroundWindow() == top ? 1 : 0), Rect(outer), caption));
    RECT client{};
    GetClientRect(top, &client);
    MapWindowPoints(top, nullptr, reinterpret_cast<POINT*>(&client), 2);
    Out(Tabbed(L"client", L"0", ClassOf(top), style, visible, enabled, L"-", L"-", Rect(client),
               caption));
    for (HWND control : Descendants(top)) {
        const std::wstring id = Num(GetDlgCtrlID(control));
        RECT r{};
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, top, reinterpret_cast<POINT*>(&r), 2);
        Out(Tabbed(L"control", id, ClassOf(control), Hex(GetWindowLongW(control, GWL_STYLE)),
                   Num(IsWindowVisible(control) ? 1 : 0), Num(IsWindowEnabled(control) ? 1 : 0),
                   Checked(control), Num(control == focus ? 1 : 0), Rect(r),
                   Escaped(TextOf(control))));
        if (IsClass(control, STATUSCLASSNAMEW))
            DumpStatusBar(control, id);
        else if (IsClass(control, WC_LISTVIEWW))
            DumpListView(control, id);
        else if (IsClass(control, WC_LISTBOXW))
            DumpRows(control, id, LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT);
        else if (IsClass(control, WC_COMBOBOXW))
            DumpRows(control, id, CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT);
    }
    return 0;
}

// --- driving ------------------------------------------------------------------------

// Activation across processes: Windows gives it to the program that has the
// last input, so we take the target's input queue as ours for the moment.
bool Activate(HWND top, HWND control) {
    const DWORD theirs = GetWindowThreadProcessId(top, nullptr);
    const DWORD ours = GetCurrentThreadId();
    AttachThreadInput(ours, theirs, TRUE);
    SetForegroundWindow(top);
    if (control)
        SetFocus(control);
    AttachThreadInput(ours, theirs, FALSE);
    const ULONGLONG end = GetTickCount64() + waitMs;
    while (GetForegroundWindow() != top || (control && FocusOf(top) != control)) {
        if (GetTickCount64() >= end)
            return false;
        Sleep(20);
    }
    return true;
}

struct Named {
    const wchar_t* name;
    WORD key;
};
constexpr Named KeyNames[] = {
    {L"BACK", VK_BACK},       {L"TAB", VK_TAB},           {L"ENTER", VK_RETURN},
    {L"RETURN", VK_RETURN},   {L"SHIFT", VK_SHIFT},       {L"CTRL", VK_CONTROL},
    {L"CONTROL", VK_CONTROL}, {L"ALT", VK_MENU},          {L"MENU", VK_MENU},
    {L"ESC", VK_ESCAPE},      {L"ESCAPE", VK_ESCAPE},     {L"SPACE", VK_SPACE},
    {L"END", VK_END},         {L"HOME", VK_HOME},         {L"LEFT", VK_LEFT},
    {L"UP", VK_UP},           {L"RIGHT", VK_RIGHT},       {L"DOWN", VK_DOWN},
    {L"DELETE", VK_DELETE},   {L"SUBTRACT", VK_SUBTRACT}, {L"ADD", VK_ADD},
    {L"MINUS", VK_OEM_MINUS},
};

std::optional<WORD> KeyCode(const std::wstring& name) {
    unsigned long number = 0;
    if (name.size() == 1 && (std::iswdigit(name[0]) || (name[0] >= L'A' && name[0] <= L'Z')))
        return WORD(name[0]);
    if (name.size() > 1 && ParseNumber(name.c_str(), number) && number > 0 && number < 256)
        return WORD(number);
    if (name.size() >= 2 && name[0] == L'F' && ParseNumber(name.c_str() + 1, number) &&
        number >= 1 && number <= 24)
        return WORD(VK_F1 + number - 1);
    for (const Named& k : KeyNames)
        if (name == k.name)
            return k.key;
    return std::nullopt;
}

bool Press(WORD key, bool up, std::optional<WORD> scan) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = scan ? *scan : WORD(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    const bool sent = SendInput(1, &input, sizeof input) == 1;
    Sleep(10);  // one event at a time, as a typist's
    return sent;
}

// args[next...]: [-s SCAN] KEY...
int Type(const std::vector<std::wstring>& args, std::size_t next) {
    std::optional<WORD> scan;
    if (next + 1 < args.size() && args[next] == L"-s") {
        unsigned long s = 0;
        if (!ParseNumber(args[next + 1].c_str(), s) || s > 0xFFFF)
            return Fail(L"bad scan code " + args[next + 1], 2);
        scan = WORD(s);
        next += 2;
    }
    if (next >= args.size())
        return Fail(L"no key to type", 2);
    for (; next < args.size(); ++next) {
        const std::wstring& k = args[next];
        const bool down = k.size() > 1 && k[0] == L'+';
        const bool up = k.size() > 1 && k[0] == L'-';
        const auto key = KeyCode(down || up ? k.substr(1) : k);
        if (!key)
            return Fail(L"unknown key " + k, 2);
        if ((!up && !Press(*key, false, scan)) || (!down && !Press(*key, true, scan)))
            return Fail(L"SendInput refused the key " + k);
    }
    return 0;
}

int Usage() {
    return Fail(
        L"usage: wintool [-t MS] list | wait PREFIX [MS] | dump PREFIX | click PREFIX ID | "
        L"settext PREFIX ID TEXT | focus PREFIX ID|- | focused PREFIX | "
        L"key PREFIX ID|- [-s SCAN] KEY... | type [-s SCAN] KEY... | foreground | "
        L"close PREFIX | modal PREFIX [ID|none] | memory PREFIX",
        2);
}

// After a window of ours went away or a posted message was handled: waits
// until the window is gone.
bool Gone(HWND window) {
    const ULONGLONG end = GetTickCount64() + waitMs;
    while (IsWindow(window)) {
        if (GetTickCount64() >= end)
            return false;
        Sleep(20);
    }
    return true;
}

int Run(std::vector<std::wstring> args) {
    if (args.size() >= 2 && args[0] == L"-t") {
        unsigned long ms = 0;
        if (!ParseNumber(args[1].c_str(), ms))
            return Usage();
        waitMs = DWORD(ms);
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty())
        return Usage();
    const std::wstring command = args[0];

    if (command == L"list") {
        for (HWND window : TopLevelWindows()) {
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            Out(Tabbed(Num(pid), ClassOf(window), Escaped(CaptionOf(window))));
        }
        return 0;
    }
    if (command == L"type")
        return Type(args, 1);
    if (command == L"foreground") {
        const HWND top = GetForegroundWindow();
        if (!top)
            return Fail(L"no window is in the foreground");
        const HWND focus = FocusOf(top);
        Out(Tabbed(Escaped(CaptionOf(top)), focus ? Num(GetDlgCtrlID(focus)) : L"-",
                   focus ? ClassOf(focus) : L"-"));
        return 0;
    }
    if (args.size() < 2)
        return Usage();
    const std::wstring& prefix = args[1];

    if (command == L"wait") {
        unsigned long ms = waitMs;
        if (args.size() > 3 || (args.size() == 3 && !ParseNumber(args[2].c_str(), ms)))
            return Usage();
        const HWND top = FindTop(prefix, DWORD(ms));
        if (!top)
            return Fail(L"no window \"" + prefix + L"\" within " + Num(long(ms)) + L" ms");
        Out(Escaped(CaptionOf(top)));
        return 0;
    }
    if (command == L"modal") {
        // A message box: a dialog of the system's class, owned by the program.
        const HWND box = FindTop(prefix, waitMs, L"#32770");
        if (!box)
            return Fail(L"no dialog box \"" + prefix + L"\"");
        Out(Tabbed(L"caption", Escaped(CaptionOf(box))));
        for (HWND control : Descendants(box)) {
            if (IsClass(control, WC_STATICW)) {
                const std::wstring text = TextOf(control);
                if (!text.empty())
                    Out(Tabbed(L"text", Escaped(text)));
            }
        }
        for (HWND control : Descendants(box))
            if (IsClass(control, WC_BUTTONW))
                Out(Tabbed(L"button", Num(GetDlgCtrlID(control)), Escaped(TextOf(control))));
        if (args.size() > 2 && args[2] == L"none")
            return 0;
        unsigned long id = IDOK;
        if (args.size() > 2 && !ParseNumber(args[2].c_str(), id))
            return Usage();
        const HWND button = ControlOf(box, int(id));
        if (!button)
            return Fail(L"the dialog box has no button " + Num(long(id)));
        // Sent without waiting: the program may answer the press with another
        // modal box before this one returns.
        SendNotifyMessageW(button, BM_CLICK, 0, 0);
        if (!Gone(box))
            return Fail(L"the dialog box is still open");
        return 0;
    }

    const HWND top = FindTop(prefix, waitMs);
    if (!top)
        return Fail(L"no window \"" + prefix + L"\"");

    if (command == L"dump")
        return Dump(top);
    if (command == L"close") {
        PostMessageW(top, WM_CLOSE, 0, 0);
        return Gone(top) ? 0 : Fail(L"the window is still open");
    }
    if (command == L"focused") {
        const HWND focus = FocusOf(top);
        if (!focus)
            return Fail(L"no control of the window has the focus");
        Out(Tabbed(Num(GetDlgCtrlID(focus)), ClassOf(focus), Escaped(TextOf(focus))));
        return 0;
    }
    if (command == L"memory") {
        DWORD pid = 0;
        GetWindowThreadProcessId(top, &pid);
        const HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        const bool read = process && K32GetProcessMemoryInfo(process, &counters, sizeof counters);
        if (process)
            CloseHandle(process);
        if (!read)
            return Fail(L"cannot read the memory counters of process " + Num(pid));
        Out(Tabbed(L"pid", Num(pid)));
        Out(Tabbed(L"working-set-kib",
                   Num(static_cast<long long>(counters.WorkingSetSize / 1024))));
        Out(Tabbed(L"peak-working-set-kib",
                   Num(static_cast<long long>(counters.PeakWorkingSetSize / 1024))));
        return 0;
    }

    if (args.size() < 3)
        return Usage();
    HWND control = nullptr;
    if (args[2] != L"-" || (command != L"key" && command != L"focus")) {
        unsigned long id = 0;
        if (!ParseNumber(args[2].c_str(), id))
            return Usage();
        control = ControlOf(top, int(id));
        if (!control)
            return Fail(L"the window has no control " + args[2]);
    }

    if (command == L"click" && args.size() == 3) {
        // Sent without waiting for the program to finish with it (a click may
        // open a modal box); the empty message after it comes back once the
        // click is handled or a modal loop runs.
        SendNotifyMessageW(control, BM_CLICK, 0, 0);
        Ask(control, WM_NULL, 0, 0);
        return 0;
    }
    if (command == L"settext" && args.size() == 4)
        return Ask(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(args[3].c_str())).value_or(0)
                   ? 0
                   : Fail(L"the control did not take the text");
    if (command == L"focus" && args.size() == 3)
        return Activate(top, control) ? 0 : Fail(L"the control did not get the focus");
    if (command == L"key") {
        if (args.size() < 4)
            return Usage();
        if (!Activate(top, control))
            return Fail(L"the window did not become the foreground window with the focus");
        return Type(args, 3);
    }
    return Usage();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    return Run(std::vector<std::wstring>(argv + 1, argv + argc));
}
