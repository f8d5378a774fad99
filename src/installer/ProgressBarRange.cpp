#include "installer/ProgressBarRange.h"

#include <algorithm>

#include "framework/Exception.h"

namespace qvl {

void ProgressBarRange::SetMax(int32_t value) {
    if (value < 0) throw ERangeError("TProgressBar property out of range");
    if (value == max_) return;
    max_ = value;
    position_ = std::clamp(position_, 0, max_);
    ShowRange();
}

void ProgressBarRange::SetPosition(int32_t value) {
    position_ = std::clamp(value, 0, max_);
    ShowPosition();
}

}  // namespace qvl
