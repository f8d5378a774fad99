// Quorvale Setup: installs and updates the Quorvale wallet.
#include <signal.h>

#include "installer/SetupProgram.h"

int main(int argc, char* argv[]) {
    // Past the file-size limit a write should fail and be reported like a full disk, instead of
    // the signal killing the installer in the middle of a download.
    ::signal(SIGXFSZ, SIG_IGN);
    return qvl::TSetupProgram::Main(argc, argv);
}
