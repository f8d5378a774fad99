#include "installer/MainWindow.h"

#include "framework/Application.h"
#include "installer/Qvlsetupmain.h"
// The host's view (linux/ or windows/), through the include path.
#include "MainWindowView.h"

namespace qvl {

MainWindow::MainWindow(Hooks hooks) : view_(std::make_unique<MainWindowView>()) {
    view_->OnLogLine = std::move(hooks.onLogLine);
    view_->MessageBoxHandler = std::move(hooks.messageBoxHandler);
    form_ = std::make_unique<TForm1>(*view_);
    TForm1* form = form_.get();
    MainWindowView* view = view_.get();
    view->CloseDeferred = [form] { return form->RunInProgress(); };
    view->OnNext = [form, view] {
        Application::Guarded([form] { form->Button1Click(nullptr); });
        // A close asked for during the run happens now that the run is over (not after a press
        // nested inside the run, which returns while the run goes on).
        if (!form->RunInProgress()) view->CloseIfRequested();
    };
}

// The logic and its components go first; the controls they report to outlive them.
MainWindow::~MainWindow() {
    view_->CloseDeferred = nullptr;
    view_->OnNext = nullptr;
    form_.reset();
}

WindowServices& MainWindow::Services() const { return *view_; }

}  // namespace qvl
