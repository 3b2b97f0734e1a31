// keytarget FILE: a window that takes typed keys, for the end-to-end tests.
// Its multi-line edit (control 101) has the keyboard focus; whenever its text
// changes the whole text goes to FILE (UTF-8, Enter as CR LF), replaced in one
// step so that a test polling the file never reads half of it. FILE is written
// once, empty, when the window is up and focused. (A text put in with
// WM_SETTEXT from outside does not reach FILE: a multi-line edit does not
// notify it.)
// Around the edit, controls for the window inspector (wintool) to read: a
// label (100), a list view (102) of the finished lines, a button (103) that
// empties the edit (and, when it is empty already, says so in a modal "Error"
// box like the program's), a check box (104) that makes it read-only, and a status bar
// (105) with the number of characters and the font that the system gave for
// "MS Sans Serif" 8 pt (height -11), the font of the controls.
// Built with the UTF-8 code page: the "A" calls take and give UTF-8.
#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <string>

namespace {

enum : int { Label = 100, Text = 101, Lines = 102, Clear = 103, ReadOnly = 104, Status = 105 };

std::string outputPath;
HWND edit = nullptr;
HWND lines = nullptr;
HWND status = nullptr;

void Save(const std::string& text) {
    const std::string temporary = outputPath + ".new";
    const HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
    CloseHandle(file);
    MoveFileExA(temporary.c_str(), outputPath.c_str(), MOVEFILE_REPLACE_EXISTING);
}

std::string EditText() {
    std::string text(std::size_t(GetWindowTextLengthA(edit)) + 1, '\0');
    text.resize(std::size_t(GetWindowTextA(edit, text.data(), int(text.size()))));
    return text;
}

// The list shows the lines ended with Enter; the status bar counts the
// characters (UTF-8 bytes, as the edit gives them to us).
void Show(const std::string& text) {
    SendMessageA(lines, LVM_DELETEALLITEMS, 0, 0);
    std::size_t start = 0;
    for (int row = 0;; ++row) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            break;
        std::string number = std::to_string(row + 1);
        std::string line = text.substr(start, end - start);
        LVITEMA item{};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.pszText = number.data();
        SendMessageA(lines, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        item.iSubItem = 1;
        item.pszText = line.data();
        SendMessageA(lines, LVM_SETITEMTEXTA, WPARAM(row), reinterpret_cast<LPARAM>(&item));
        start = end + 2;
    }
    const std::string count = std::to_string(text.size()) + " characters";
    SendMessageA(status, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(count.c_str()));
}

void Layout(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    SendMessageA(status, WM_SIZE, 0, 0);
    RECT bar{};
    GetWindowRect(status, &bar);
    const int width = client.right - 20;
    const int height = client.bottom - (bar.bottom - bar.top);
    MoveWindow(GetDlgItem(window, Label), 10, 8, width, 16, TRUE);
    MoveWindow(edit, 10, 28, width, height / 2 - 40, TRUE);
    MoveWindow(lines, 10, height / 2 - 4, width, height / 2 - 40, TRUE);
    MoveWindow(GetDlgItem(window, Clear), 10, height - 34, 90, 24, TRUE);
    MoveWindow(GetDlgItem(window, ReadOnly), 110, height - 32, width - 100, 20, TRUE);
    const int parts[] = {client.right / 2, -1};
    SendMessageA(status, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
}

HWND Child(HWND parent, const char* className, const char* text, DWORD style, int id) {
    return CreateWindowExA(0, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleA(nullptr), nullptr);
}

// The face and pixel height that "MS Sans Serif" at -11 really is here.
std::string FontName(HWND window, HFONT font) {
    const HDC dc = GetDC(window);
    const HGDIOBJ old = SelectObject(dc, font);
    char face[LF_FACESIZE] = "";
    GetTextFaceA(dc, LF_FACESIZE, face);
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    return std::string(face) + " " + std::to_string(metrics.tmHeight) + " px";
}

void Build(HWND window) {
    const HFONT font = CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                   OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                   DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
    Child(window, WC_STATICA, "Přijatý text (í):", 0, Label);
    edit = Child(
        window, WC_EDITA, "",
        WS_TABSTOP | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN, Text);
    lines = Child(window, WC_LISTVIEWA, "", WS_BORDER | LVS_REPORT | LVS_NOSORTHEADER, Lines);
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.cx = 40;
    column.pszText = const_cast<char*>("#");
    SendMessageA(lines, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
    column.cx = 300;
    column.pszText = const_cast<char*>("Řádek");
    SendMessageA(lines, LVM_INSERTCOLUMNA, 1, reinterpret_cast<LPARAM>(&column));
    Child(window, WC_BUTTONA, "Vymazat", WS_TABSTOP | BS_PUSHBUTTON, Clear);
    Child(window, WC_BUTTONA, "Jen čtení", WS_TABSTOP | BS_AUTOCHECKBOX, ReadOnly);
    status = Child(window, STATUSCLASSNAMEA, "", SBARS_SIZEGRIP, Status);
    for (int id : {Label, Text, Lines, Clear, ReadOnly, Status})
        SendMessageA(GetDlgItem(window, id), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    Layout(window);
    const std::string face = FontName(window, font);
    SendMessageA(status, SB_SETTEXTA, 1, reinterpret_cast<LPARAM>(face.c_str()));
    Show("");
}

void Changed() {
    const std::string text = EditText();
    Show(text);
    Save(text);
}

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_CREATE:
            Build(window);
            return 0;
        case WM_SIZE:
            if (status)
                Layout(window);
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(w) != WA_INACTIVE)
                SetFocus(edit);
            return 0;
        case WM_COMMAND:
            if (LOWORD(w) == Text && HIWORD(w) == EN_CHANGE) {
                Changed();
            } else if (LOWORD(w) == Clear && HIWORD(w) == BN_CLICKED) {
                if (GetWindowTextLengthA(edit) == 0)
                    MessageBoxA(window, "Není co mazat.", "Error", MB_OK | MB_ICONSTOP);
                // A multi-line edit sends no EN_CHANGE for a new text.
                SetWindowTextA(edit, "");
                Changed();
                SetFocus(edit);
            } else if (LOWORD(w) == ReadOnly && HIWORD(w) == BN_CLICKED) {
                const bool on =
                    SendMessageA(reinterpret_cast<HWND>(l), BM_GETCHECK, 0, 0) == BST_CHECKED;
                SendMessageA(edit, EM_SETREADONLY, on, 0);
                SetFocus(edit);
            }
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(window, message, w, l);
    }
}

// The command line after the program's name: the file, quotes taken off.
std::string Argument(const char* commandLine) {
    std::string s = commandLine;
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"')
        s = s.substr(1, s.size() - 2);
    return s;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    outputPath = Argument(commandLine);
    if (outputPath.empty()) {
        MessageBoxA(nullptr, "usage: keytarget FILE", "keytarget", MB_ICONERROR);
        return 2;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = "KeyTarget";
    if (!RegisterClassA(&windowClass))
        return 1;
    const HWND window = CreateWindowExA(0, "KeyTarget", "Key target: Příjem kláves",
                                        WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 420, 360,
                                        nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, SW_SHOWNORMAL);
    SetForegroundWindow(window);
    SetFocus(edit);
    Save("");

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return int(msg.wParam);
}
