#include "installer/linux/ProgressBar.h"

#include <QStyle>
#include <QStyleFactory>

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
