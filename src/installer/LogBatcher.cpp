#include "installer/LogBatcher.h"

namespace qvl {

void LogBatcher::Add(const std::string& line) {
    pending_.push_back(line);
    if (timerRunning_) return;
    // Idle until now: this line goes in at once, and the timer gathers those that follow. When
    // the host refuses the timer, every line is written as it comes.
    Flush();
    timerRunning_ = host_.startTimer && host_.startTimer(kIntervalMs);
}

void LogBatcher::Tick() {
    if (!timerRunning_) return;
    if (!pending_.empty()) {
        Flush();
        return;
    }
    // A whole interval without a line: idle again.
    timerRunning_ = false;
    if (host_.stopTimer) host_.stopTimer();
}

void LogBatcher::Flush() {
    if (pending_.empty()) return;
    std::vector<std::string> lines;
    lines.swap(pending_);
    if (host_.write) host_.write(lines);
}

}  // namespace qvl
