#include "installer/MainWindow.h"

#include <QCheckBox>
#include <QPixmap>
#include <QPushButton>

#include "framework/Application.h"
#include "installer/linux/MainWindowView.h"
#include "installer/Qvlsetupmain.h"

namespace qvl {

MainWindow::MainWindow(Hooks hooks) : view_(std::make_unique<MainWindowView>()) {
    view_->OnLogLine = std::move(hooks.onLogLine);
    view_->MessageBoxHandler = std::move(hooks.messageBoxHandler);
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

WindowServices& MainWindow::Services() const { return *view_; }

void MainWindow::Tick(bool program, bool blockchain) {
    view_->CheckBox1->setChecked(program);
    view_->CheckBox2->setChecked(blockchain);
}

void MainWindow::Show() { view_->show(); }

void MainWindow::PressNext() { view_->Button1->click(); }

bool MainWindow::SavePicture(const std::string& file) {
    // Picture() puts the lines that wait for the log's next frame into it first.
    return view_->Picture().save(QString::fromLocal8Bit(file.data(), static_cast<qsizetype>(file.size())), "PNG");
}

void MainWindow::Close() { view_->close(); }

}  // namespace qvl
