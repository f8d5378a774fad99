#pragma once
// The window's progress bar with the range rules of a 32-bit progress control: the minimum is
// always 0, a maximum below it is refused, and the position is clamped into the range (where
// QProgressBar would ignore it or fall back to "no progress").
#include <QProgressBar>
#include <cstdint>
#include <memory>

class QStyle;

namespace qvl {

class TProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit TProgressBar(QWidget* parent = nullptr);
    ~TProgressBar() override;

    // Raises ERangeError "TProgressBar property out of range" when `value` < 0; the bar keeps its
    // range. The current maximum again changes nothing. A position beyond the new maximum is
    // pulled back to it.
    void SetMax(int32_t value);
    void SetPosition(int32_t value);
    int32_t Max() const { return max_; }
    int32_t Position() const { return position_; }

private:
    void Show();

    // A continuous bar on every platform style: some styles draw blocks.
    std::unique_ptr<QStyle> style_;
    int32_t max_ = 100;
    int32_t position_ = 0;
};

}  // namespace qvl
