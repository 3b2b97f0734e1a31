// The program entry on Windows: the main window with its behaviour, the
// manufacturer window that is made but never shown, and the event loop until
// the main window closes.
//
// The program keeps its settings and logs in its current folder. A Start-menu
// entry made for every user cannot name each user's folder as its working
// folder ("Start in"), which must exist before the program starts; so the
// entry starts it with /folder "%APPDATA%\Chip Reader" instead, and the
// program makes that folder, when missing, its current one before anything
// else. Without /folder it stays in the folder it was started in.
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <string>
#include <system_error>

#include "Config.h"
#include "Form2.h"
#include "MainWindow.h"
#include "MainWindow32.h"
#include "Texts.h"

namespace {

// The folder after /folder among the arguments, its environment variables
// (%APPDATA%) expanded: a shortcut's arguments reach the program as written.
// Empty when there is none.
std::wstring FolderArgument() {
    for (int i = 1; __wargv && i + 1 < __argc; ++i) {
        if (_wcsicmp(__wargv[i], L"/folder") != 0)
            continue;
        const DWORD n = ExpandEnvironmentStringsW(__wargv[i + 1], nullptr, 0);
        std::wstring folder(n, L'\0');
        if (n == 0 || ExpandEnvironmentStringsW(__wargv[i + 1], folder.data(), n) != n)
            return __wargv[i + 1];
        folder.resize(n - 1);  // without the terminating zero
        return folder;
    }
    return {};
}

// Makes the folder (and what is missing above it) and enters it.
bool EnterFolder(const std::wstring& folder) {
    std::error_code ec;
    const std::filesystem::path path(folder);
    std::filesystem::create_directories(path, ec);
    return std::filesystem::is_directory(path, ec) && SetCurrentDirectoryW(path.c_str());
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int show) {
    if (const std::wstring folder = FolderArgument(); !folder.empty() && !EnterFolder(folder)) {
        const std::wstring text = win32::Wide(texts::FolderUnusable) + folder;
        MessageBoxW(nullptr, text.c_str(), win32::Wide(texts::ErrorCaption).c_str(),
                    MB_OK | MB_ICONSTOP | MB_SETFOREGROUND);
        return 1;
    }

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

    // Readings to the site's broker, and typed as the site wants them, when
    // the folder has a site file.
    const site::Site site = site::StartSite({}, [&window, &Form1](const std::string& text) {
        window.post([&Form1, text] { Form1.SiteNotice(text); });
    });
    Form1.UseSiteRules(site.rules);
    site::UsePublishing(site.publishing.get());

    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (window.preTranslate(msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (IsWindow(Form2))
        DestroyWindow(Form2);
    site::UsePublishing(nullptr);
    return int(msg.wParam);  // the station says "offline" as it goes
}
