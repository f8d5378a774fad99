#pragma once
// The window's log lines on their way into the log control. A download logs a line for every
// chunk of up to 64 KiB, and the receive loop lets the window dispatch after each: inserting,
// laying out and scrolling to every line on its own would cost more than the download.
//
// The one policy, on every host: a line that comes while the log is idle is written at once (a
// status line shows without delay); while lines keep coming, what has gathered is written at
// most once per interval, in one write; the views write what waits before the window closes, a
// message box shows, or a picture is taken, so nothing that was logged is ever missing there.
// 40 ms is 25 writes a second: the log still moves smoothly, and the cost of a burst no longer
// grows with its number of lines.
//
// Plain C++: the host gives it the write into its control and a periodic timer, whose ticks it
// passes to Tick.
#include <functional>
#include <string>
#include <vector>

namespace qvl {

class LogBatcher {
public:
    static constexpr unsigned kIntervalMs = 40;

    struct Host {
        // Puts the lines, in their order, at the end of the log control.
        std::function<void(const std::vector<std::string>& lines)> write;
        // Starts the periodic timer with this interval; false when the host refuses.
        std::function<bool(unsigned intervalMs)> startTimer;
        std::function<void()> stopTimer;
    };

    explicit LogBatcher(Host host) : host_(std::move(host)) {}
    LogBatcher(const LogBatcher&) = delete;
    LogBatcher& operator=(const LogBatcher&) = delete;

    void Add(const std::string& line);
    // The host's timer fired: writes what has gathered, or stops the timer when nothing has.
    void Tick();
    // Writes what waits now.
    void Flush();
    // Forgets what waits (the log is being cleared).
    void Clear() { pending_.clear(); }
    // The lines not written yet, oldest first.
    const std::vector<std::string>& Pending() const { return pending_; }

private:
    Host host_;
    std::vector<std::string> pending_;
    bool timerRunning_ = false;
};

}  // namespace qvl
