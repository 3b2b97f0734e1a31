#include "Form2.h"

#include <array>

#include "Gdi.h"
#include "Layout.h"
#include "Texts.h"

namespace win32 {

namespace {

constexpr wchar_t ClassName[] = L"TForm2";

// What a manufacturer window owns: its two fonts.
struct Form2Data {
    HFONT regular = nullptr;
    HFONT bold = nullptr;
};

LRESULT CALLBACK Form2Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* data = reinterpret_cast<Form2Data*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
        case WM_CTLCOLORSTATIC: {
            // The label's colour from the table, on the button face.
            const int line = GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) - 1;
            auto dc = reinterpret_cast<HDC>(wParam);
            if (line >= 0 && line < Form2LineCount)
                SetTextColor(dc, Form2Layout[line].colour);
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        case WM_CLOSE:
            // The owner first, so that the activation goes back to it.
            if (HWND owner = GetWindow(window, GW_OWNER);
                owner && !IsWindowEnabled(owner) && IsWindowVisible(window))
                EnableWindow(owner, TRUE);
            break;
        case WM_NCDESTROY:
            if (data) {
                DeleteObject(data->regular);
                DeleteObject(data->bold);
                delete data;
                SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            }
            break;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

HWND CreateForm2(HINSTANCE instance, HWND owner) {
    RegisterWindowClass(instance, ClassName, Form2Proc);
    const Scale scale;
    constexpr DWORD Style = WS_OVERLAPPEDWINDOW;
    RECT outer{0, 0, scale(Form2ClientWidth), scale(Form2ClientHeight)};
    AdjustWindowRectEx(&outer, Style, FALSE, 0);
    const int width = outer.right - outer.left, height = outer.bottom - outer.top;
    const POINT at = CentredOnScreen(width, height);
    HWND window = CreateWindowExW(0, ClassName, Wide(texts::ManufacturerCaption).c_str(), Style,
                                  at.x, at.y, width, height, owner, nullptr, instance, nullptr);
    if (!window)
        return nullptr;
    auto* data = new Form2Data{ProgramFont(scale, Form2FontPixels),
                               ProgramFont(scale, Form2FontPixels, true)};
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(data));

    HDC dc = GetDC(window);
    for (int i = 0; i < Form2LineCount; ++i) {
        const Form2Line& line = Form2Layout[i];
        const std::wstring text = Wide(line.text);
        HFONT font = line.bold ? data->bold : data->regular;
        // A label is as large as its text.
        HGDIOBJ old = SelectObject(dc, font);
        RECT r{};
        DrawTextW(dc, text.c_str(), int(text.size()), &r,
                  DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc, old);
        HWND label = CreateWindowExW(0, L"STATIC", text.c_str(),
                                     WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                                     scale(line.left), scale(line.top), r.right, r.bottom, window,
                                     reinterpret_cast<HMENU>(INT_PTR(i + 1)), instance, nullptr);
        SendMessageW(label, WM_SETFONT, WPARAM(font), FALSE);
    }
    ReleaseDC(window, dc);
    return window;
}

void ShowForm2Modal(HINSTANCE instance, HWND owner) {
    HWND window = CreateForm2(instance, owner);
    if (!window)
        return;
    EnableWindow(owner, FALSE);
    ShowWindow(window, SW_SHOWNORMAL);
    SetForegroundWindow(window);

    MSG msg{};
    bool quit = false;
    while (IsWindow(window)) {
        if (GetMessageW(&msg, nullptr, 0, 0) <= 0) {
            quit = true;
            break;
        }
        if (!IsDialogMessageW(window, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    EnableWindow(owner, TRUE);
    if (IsWindow(window))
        DestroyWindow(window);
    SetActiveWindow(owner);
    if (quit)
        PostQuitMessage(int(msg.wParam));
}

}  // namespace win32
