// The manufacturer window in Win32, built from its layout table: eight labels
// in their colours on the button face, nothing to operate.
#pragma once

#include <windows.h>

namespace win32 {

// Makes the manufacturer window, hidden, owned by `owner`. It is destroyed
// when closed.
HWND CreateForm2(HINSTANCE instance, HWND owner);

// Shows a new manufacturer window modally: the owner is disabled and the
// event loop runs here until the window is closed.
void ShowForm2Modal(HINSTANCE instance, HWND owner);

}  // namespace win32
