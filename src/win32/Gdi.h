// What both windows of the Windows program share: UTF-8 and UTF-16 texts,
// sizes at the screen's dots per inch, the program's fonts and pictures as
// Windows objects.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "Pictures.h"

namespace win32 {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view text);
// A window's text, or a status bar part's.
std::wstring WindowText(HWND window);

// Sizes in the layout table are at 96 dots per inch; the program is aware of
// the system's setting and scales every size by it.
class Scale {
  public:
    Scale();
    int operator()(int size) const { return MulDiv(size, dpi_, 96); }
    int dpi() const { return dpi_; }

  private:
    int dpi_;
};

// "MS Sans Serif" at a height of `pixels` at 96 dots per inch, scaled.
HFONT ProgramFont(const Scale& scale, int pixels, bool bold = false);

// The system's status-bar font (its non-client metrics' lfStatusFont) at the
// scale's dots per inch; the program font where the system does not say.
HFONT StatusFont(const Scale& scale);

// Where a window of this outer size stands in the middle of the screen (the
// primary monitor); where it is larger than the screen, its top left corner
// stays on it, with the caption.
POINT CentredOnScreen(int width, int height);
POINT CentredIn(const RECT& screen, int width, int height);

// An icon of the picture (32-bit with alpha); the caller destroys it.
HICON IconOf(const pictures::Image& image);

// The program icon from the resources, in the size the system asks for.
HICON ProgramIcon(HINSTANCE instance, bool small);

// Registers a window class of ours once: the program icon, the arrow, the
// button-face background.
void RegisterWindowClass(HINSTANCE instance, const wchar_t* name, WNDPROC proc);

}  // namespace win32
