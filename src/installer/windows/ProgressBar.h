#pragma once
// The window's progress bar: the system's smooth progress control with the range rules of a
// 32-bit bar.
#include "platform/windows/Win32.h"

#include <cstdint>

#include "installer/ProgressBarRange.h"

namespace qvl {

class TProgressBar : public ProgressBarRange {
public:
    // Creates the control (continuous, horizontal, 0..100 at 0) as a child of `parent`.
    TProgressBar(HWND parent, int x, int y, int width, int height, HFONT font);

    // Read back from the control.
    int32_t Max() const override;
    int32_t Position() const override;
    void SetShown(bool shown) override;

    HWND Handle() const { return hwnd_; }

private:
    void ShowRange() override;
    void ShowPosition() override;
    // Length of the drawn bar for a position, in pixels of the control's width.
    int64_t Drawn(int32_t position) const;

    HWND hwnd_ = nullptr;  // owned by its parent window
    int32_t painted_ = 0;  // the position the control last painted
};

}  // namespace qvl
