#include "installer/MainWindowViewBase.h"

#include "framework/Application.h"
#include "installer/ProgressBarRange.h"
#include "platform/MessageTarget.h"

namespace qvl {

namespace {
constexpr unsigned kLogTimerId = 1;
}

MainWindowViewBase::MainWindowViewBase()
    : logTimer_(std::make_unique<platform::MessageTarget>(
          [this](const platform::Message& message) {
              if (message.msg != platform::kTimerMessage) return;
              Application::Swallowed([this] { log_.Tick(); });
          },
          platform::TargetKind::Timer)),
      log_(LogBatcher::Host{[this](const std::vector<std::string>& lines) { WriteLogLines(lines); },
                            [this](unsigned intervalMs) { return logTimer_->SetTimer(kLogTimerId, intervalMs); },
                            [this] { logTimer_->KillTimer(kLogTimerId); }}) {}

// The timer stops with its target.
MainWindowViewBase::~MainWindowViewBase() = default;

void MainWindowViewBase::ClearLog() {
    log_.Clear();
    ClearLogControl();
}

void MainWindowViewBase::AppendLog(const std::string& text) {
    log_.Add(text);
    if (OnLogLine) OnLogLine(text);
}

void MainWindowViewBase::SetProgressVisible(bool visible) { Progress().SetShown(visible); }

void MainWindowViewBase::SetProgressMax(int32_t value) { Progress().SetMax(value); }

void MainWindowViewBase::SetProgressPosition(int32_t value) { Progress().SetPosition(value); }

int32_t MainWindowViewBase::GetProgressMax() { return Progress().Max(); }

int32_t MainWindowViewBase::GetProgressPosition() { return Progress().Position(); }

int MainWindowViewBase::ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    if (MessageBoxHandler) return MessageBoxHandler(text, caption, flags);
    // The lines that led to the box are in the log before the box comes up.
    FlushLog();
    return ShowSystemMessageBox(text, caption, flags);
}

void MainWindowViewBase::CloseIfRequested() {
    if (closeRequested_) RequestClose();
}

bool MainWindowViewBase::DeferClose() {
    bool deferred = false;
    Application::Swallowed([&] { deferred = CloseDeferred && CloseDeferred(); });
    closeRequested_ = deferred;
    if (!deferred) FlushLog();
    return deferred;
}

}  // namespace qvl
