#pragma once
// What the window's two views (Qt widgets, Win32 controls) do alike: the hooks their owner hangs
// on them, the log's batching, the message box's stand-in, the progress bar's routing and the
// close that waits for a run's end. Each view adds its controls and the few primitives below.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "installer/LogBatcher.h"
#include "installer/WindowServices.h"

namespace qvl {

namespace platform {
class MessageTarget;
}
class ProgressBarRange;

class MainWindowViewBase : public WindowServices {
public:
    ~MainWindowViewBase() override;
    MainWindowViewBase(const MainWindowViewBase&) = delete;
    MainWindowViewBase& operator=(const MainWindowViewBase&) = delete;

    void ClearLog() final;
    // The line goes into the log as LogBatcher decides; the --log file gets it at once.
    void AppendLog(const std::string& text) final;
    void SetProgressVisible(bool visible) final;
    void SetProgressMax(int32_t value) final;
    void SetProgressPosition(int32_t value) final;
    int32_t GetProgressMax() final;
    int32_t GetProgressPosition() final;
    int ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) final;

    // Writes the lines that wait into the log control now.
    void FlushLog() { log_.Flush(); }

    // While this says so, a request to close the window (the title bar's button, the window
    // manager) is remembered instead of carried out: a run goes on to its end with the window
    // shown. CloseIfRequested then carries it out.
    std::function<bool()> CloseDeferred;
    bool CloseRequested() const { return closeRequested_; }
    void CloseIfRequested();

    // Button1's click.
    std::function<void()> OnNext;
    // When set, AppendLog hands it each line (the --log file).
    std::function<void(const std::string& line)> OnLogLine;
    // When set, ShowMessageBox calls it instead of showing a box and returns its answer (an
    // unattended run, which has nobody to press "OK").
    std::function<int(const std::string& text, const std::string& caption, unsigned flags)> MessageBoxHandler;

protected:
    MainWindowViewBase();

    // A request to close the window: true when it waits for the run's end; otherwise the window
    // closes now, and the log has been written out for it.
    bool DeferClose();
    // The lines that wait for the next write, oldest first.
    const std::vector<std::string>& PendingLog() const { return log_.Pending(); }

    // The host's primitives.
    virtual void ClearLogControl() = 0;
    virtual void WriteLogLines(const std::vector<std::string>& lines) = 0;
    virtual int ShowSystemMessageBox(const std::string& text, const std::string& caption, unsigned flags) = 0;
    // Asks the window to close, as the title bar's button does.
    virtual void RequestClose() = 0;
    virtual ProgressBarRange& Progress() = 0;

private:
    // The log's timer: a hidden target of the platform's, the same on every host.
    std::unique_ptr<platform::MessageTarget> logTimer_;
    LogBatcher log_;
    bool closeRequested_ = false;
};

}  // namespace qvl
