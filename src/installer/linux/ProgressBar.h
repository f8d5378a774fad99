#pragma once
// The window's progress bar with the range rules of a 32-bit progress control (where
// QProgressBar would ignore a position out of range or fall back to "no progress").
#include <QProgressBar>
#include <cstdint>
#include <memory>

#include "installer/ProgressBarRange.h"

class QStyle;

namespace qvl {

class TProgressBar : public QProgressBar, public ProgressBarRange {
    Q_OBJECT
public:
    explicit TProgressBar(QWidget* parent = nullptr);
    ~TProgressBar() override;

    void SetShown(bool shown) override { setVisible(shown); }

private:
    void ShowRange() override { Show(); }
    void ShowPosition() override { Show(); }
    void Show();

    // A continuous bar on every platform style: some styles draw blocks.
    std::unique_ptr<QStyle> style_;
};

}  // namespace qvl
