// The program entry on Windows: the main window with its behaviour, the
// manufacturer window that is made but never shown, and the event loop until
// the main window closes.
#include <windows.h>

#include "Form2.h"
#include "MainWindow.h"
#include "MainWindow32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    win32::MainWindow32 window(instance);
    if (!window.handle())
        return 1;
    TForm1 Form1(window);
    window.attach(Form1);
    HWND Form2 = win32::CreateForm2(instance, window.handle());

    // The start-up search runs when the window is active and has painted.
    ShowWindow(window.handle(),
               show == SW_SHOWMINIMIZED || show == SW_MINIMIZE || show == SW_SHOWMINNOACTIVE
                   ? show
                   : SW_SHOWNORMAL);
    SetForegroundWindow(window.handle());

    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (window.preTranslate(msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (IsWindow(Form2))
        DestroyWindow(Form2);
    return int(msg.wParam);
}
