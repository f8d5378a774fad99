#pragma once
// The range rules of a 32-bit progress bar, which each host's bar shows in its own control: the
// minimum is always 0, a maximum below it is refused, and the position is clamped into the range.
#include <cstdint>

namespace qvl {

class ProgressBarRange {
public:
    virtual ~ProgressBarRange() = default;

    // Raises ERangeError "TProgressBar property out of range" when `value` < 0; the bar keeps its
    // range. The current maximum again changes nothing (nothing goes to the control). A position
    // beyond the new maximum is pulled back to it.
    void SetMax(int32_t value);
    void SetPosition(int32_t value);
    // As the control holds them.
    virtual int32_t Max() const { return max_; }
    virtual int32_t Position() const { return position_; }
    // Shows or hides the bar.
    virtual void SetShown(bool shown) = 0;

protected:
    // The control takes the new range and position; then the new position alone.
    virtual void ShowRange() = 0;
    virtual void ShowPosition() = 0;

    int32_t max_ = 100;
    int32_t position_ = 0;
};

}  // namespace qvl
