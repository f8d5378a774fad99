#include "installer/linux/ProgressBar.h"

#include <QStyle>
#include <QStyleFactory>
#include <algorithm>

#include "framework/Exception.h"

namespace qvl {

TProgressBar::TProgressBar(QWidget* parent) : QProgressBar(parent), style_(QStyleFactory::create("Fusion")) {
    if (style_) setStyle(style_.get());
    setTextVisible(false);
    setOrientation(Qt::Horizontal);
    setFocusPolicy(Qt::NoFocus);
    Show();
}

TProgressBar::~TProgressBar() {
    // The widget must not keep pointing at the style while it is being destroyed.
    if (style_) setStyle(nullptr);
}

void TProgressBar::SetMax(int32_t value) {
    if (value < 0) throw ERangeError("TProgressBar property out of range");
    if (value == max_) return;
    max_ = value;
    position_ = std::clamp(position_, 0, max_);
    Show();
}

void TProgressBar::SetPosition(int32_t value) {
    position_ = std::clamp(value, 0, max_);
    Show();
}

void TProgressBar::Show() {
    // QProgressBar shows a busy animation for the range 0..0; an empty range is an empty bar.
    if (max_ == 0) {
        setRange(0, 1);
        setValue(0);
    } else {
        setRange(0, max_);
        setValue(position_);
    }
}

}  // namespace qvl
