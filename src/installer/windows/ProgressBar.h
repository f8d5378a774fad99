#pragma once
// The window's progress bar: the system's smooth progress control with the range rules of a
// 32-bit bar. The minimum is always 0, a maximum below it is refused, and the position is clamped
// into the range.
#include "platform/windows/Win32.h"

#include <cstdint>

namespace qvl {

class TProgressBar {
public:
    // Creates the control (continuous, horizontal, 0..100 at 0) as a child of `parent`.
    TProgressBar(HWND parent, int x, int y, int width, int height, HFONT font);

    // Raises ERangeError "TProgressBar property out of range" when `value` < 0; the bar keeps its
    // range. The current maximum again sends nothing to the control. A position beyond the new
    // maximum is pulled back to it.
    void SetMax(int32_t value);
    void SetPosition(int32_t value);
    // Read back from the control.
    int32_t Max() const;
    int32_t Position() const;

    HWND Handle() const { return hwnd_; }

private:
    void Apply();
    void SendPosition();
    // Length of the drawn bar for a position, in pixels of the control's width.
    int64_t Drawn(int32_t position) const;

    HWND hwnd_ = nullptr;  // owned by its parent window
    int32_t max_ = 100;
    int32_t position_ = 0;
    int32_t painted_ = 0;  // the position the control last painted
};

}  // namespace qvl
