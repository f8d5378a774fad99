// Quorvale Setup: installs and updates the Quorvale wallet.
#include <QApplication>

#include "installer/SetupProgram.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    qvl::TSetupProgram::InitApplication();
    return qvl::TSetupProgram(QApplication::arguments()).Run();
}
