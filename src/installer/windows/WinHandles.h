#pragma once
// Owners of the window system's handles that the window makes: each one released exactly once,
// when its owner goes.
#include "platform/windows/Win32.h"

#include <memory>
#include <type_traits>

namespace qvl {

struct WindowDestroyer {
    void operator()(HWND hwnd) const { ::DestroyWindow(hwnd); }
};
struct GdiObjectDeleter {
    void operator()(void* object) const { ::DeleteObject(static_cast<HGDIOBJ>(object)); }
};

using Window = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;
using Font = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDeleter>;
using Brush = std::unique_ptr<std::remove_pointer_t<HBRUSH>, GdiObjectDeleter>;
using Bitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, GdiObjectDeleter>;

}  // namespace qvl
