#pragma once
// The picture of a window's client area, saved as PNG through the system's imaging component.
#include "platform/windows/Win32.h"

#include <string>

namespace qvl {

// False when the window cannot be read or the file cannot be written.
bool SaveWindowPicture(HWND hwnd, const std::string& file);

}  // namespace qvl
