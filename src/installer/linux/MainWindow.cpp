#include "installer/MainWindow.h"

#include <QPushButton>

#include "framework/Application.h"
#include "installer/linux/MainWindowView.h"
#include "installer/Qvlsetupmain.h"

namespace qvl {

MainWindow::MainWindow(const std::function<void(MainWindowView&)>& prepare)
    : view_(std::make_unique<MainWindowView>()) {
    if (prepare) prepare(*view_);
    form_ = std::make_unique<TForm1>(*view_);
    TForm1* form = form_.get();
    MainWindowView* view = view_.get();
    view->CloseDeferred = [form] { return form->RunInProgress(); };
    QObject::connect(view->Button1, &QPushButton::clicked, view, [form, view] {
        Application::Guarded([form] { form->Button1Click(nullptr); });
        // A close asked for during the run happens now that the run is over (not after a press
        // nested inside the run, which returns while the run goes on).
        if (!form->RunInProgress()) view->CloseIfRequested();
    });
}

// The logic and its components go first; the controls they report to outlive them.
MainWindow::~MainWindow() {
    view_->CloseDeferred = nullptr;
    form_.reset();
}

}  // namespace qvl
