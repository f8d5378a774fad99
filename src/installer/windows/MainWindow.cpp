#include "installer/MainWindow.h"

#include "framework/Application.h"
#include "installer/Qvlsetupmain.h"
#include "installer/windows/MainWindowView.h"

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

void MainWindow::Tick(bool program, bool blockchain) {
    ::SendMessageA(view_->CheckBox1, BM_SETCHECK, program ? BST_CHECKED : BST_UNCHECKED, 0);
    ::SendMessageA(view_->CheckBox2, BM_SETCHECK, blockchain ? BST_CHECKED : BST_UNCHECKED, 0);
}

void MainWindow::Show() { view_->Show(); }

// The click as the button reports it to its window.
void MainWindow::PressNext() {
    ::SendMessageA(view_->Panel1, WM_COMMAND, MAKEWPARAM(MainWindowView::kButton1Id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(view_->Button1));
}

bool MainWindow::SavePicture(const std::string& file) { return view_->SavePicture(file); }

void MainWindow::Close() { view_->Close(); }

}  // namespace qvl
