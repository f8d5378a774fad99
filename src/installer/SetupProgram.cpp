#include "installer/SetupProgram.h"

#include <QApplication>

#include "framework/Application.h"
#include "installer/ErrorBox.h"
#include "installer/MainWindow.h"
#include "installer/MainWindowView.h"

namespace qvl {

TSetupProgram::TSetupProgram(QStringList arguments) : arguments_(std::move(arguments)) {}

TSetupProgram::~TSetupProgram() = default;

void TSetupProgram::InitApplication() {
    Application::SetTitle("Quorvale Setup");
    Application::SetExceptionDisplay(ShowErrorBox);
}

bool TSetupProgram::CreateForm() {
    form1_.reset();
    try {
        form1_ = std::make_unique<MainWindow>();
        return true;
    } catch (...) {
        Application::ShowException(std::current_exception());
        return false;
    }
}

int TSetupProgram::Run() {
    if (!CreateForm()) return 0;
    form1_->View().show();
    QApplication::exec();
    form1_.reset();
    return 0;
}

}  // namespace qvl
