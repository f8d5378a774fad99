#include "installer/windows/ProgressBar.h"

#include <commctrl.h>

#include "framework/Exception.h"

namespace qvl {

TProgressBar::TProgressBar(HWND parent, int x, int y, int width, int height, HFONT font) {
    hwnd_ = ::CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, x, y, width, height,
                              parent, nullptr, ::GetModuleHandleA(nullptr), nullptr);
    if (!hwnd_) throw Exception("Cannot create the progress bar");
    ::SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    ShowRange();
}

void TProgressBar::ShowRange() {
    // An empty range is an empty bar; the control would divide by its width of 0.
    ::SendMessageA(hwnd_, PBM_SETRANGE32, 0, max_ == 0 ? 1 : max_);
    ::SendMessageA(hwnd_, PBM_SETPOS, static_cast<WPARAM>(position_), 0);
    painted_ = position_;
}

int64_t TProgressBar::Drawn(int32_t position) const {
    RECT client{};
    ::GetClientRect(hwnd_, &client);
    return max_ == 0 ? 0 : static_cast<int64_t>(position) * client.right / max_;
}

// The control paints itself at once for every new position, and a big download sets one per
// chunk of 64 KiB: painting a bar that looks the same each time would cost more than the
// download. A position that leaves the drawn bar as it is goes to the control with its painting
// held back, so the control still holds every position and reads back what was set.
void TProgressBar::ShowPosition() {
    const bool looksTheSame = Drawn(position_) == Drawn(painted_);
    const bool shown = (::GetWindowLongA(hwnd_, GWL_STYLE) & WS_VISIBLE) != 0;
    const bool holdBack = looksTheSame && shown;
    if (holdBack) ::SendMessageA(hwnd_, WM_SETREDRAW, FALSE, 0);
    ::SendMessageA(hwnd_, PBM_SETPOS, static_cast<WPARAM>(position_), 0);
    if (holdBack) ::SendMessageA(hwnd_, WM_SETREDRAW, TRUE, 0);
    else painted_ = position_;
}

int32_t TProgressBar::Max() const {
    if (max_ == 0) return 0;
    return static_cast<int32_t>(::SendMessageA(hwnd_, PBM_GETRANGE, FALSE, 0));
}

void TProgressBar::SetShown(bool shown) { ::ShowWindow(hwnd_, shown ? SW_SHOWNA : SW_HIDE); }

int32_t TProgressBar::Position() const { return static_cast<int32_t>(::SendMessageA(hwnd_, PBM_GETPOS, 0, 0)); }

}  // namespace qvl
