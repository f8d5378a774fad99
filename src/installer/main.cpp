// Quorvale Setup: installs and updates the Quorvale wallet.
#include "installer/SetupProgram.h"

int main(int argc, char* argv[]) { return qvl::TSetupProgram::Main(argc, argv); }
