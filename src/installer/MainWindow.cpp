#include "installer/MainWindow.h"

#include <QPushButton>

#include "framework/Application.h"
#include "installer/MainWindowView.h"
#include "installer/Qvlsetupmain.h"

namespace qvl {

MainWindow::MainWindow() : view_(std::make_unique<MainWindowView>()) {
    form_ = std::make_unique<TForm1>(*view_);
    TForm1* form = form_.get();
    QObject::connect(view_->Button1, &QPushButton::clicked, view_.get(),
                     [form] { Application::Guarded([form] { form->Button1Click(nullptr); }); });
}

// The logic and its components go first; the controls they report to outlive them.
MainWindow::~MainWindow() { form_.reset(); }

}  // namespace qvl
