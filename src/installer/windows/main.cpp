// Quorvale Setup: installs and updates the Quorvale wallet.
#include "platform/windows/Win32.h"

#include <cstdio>

#include "installer/SetupProgram.h"

namespace {

bool Usable(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

// A window program has no console of its own. --help, --version and the refusals go where the
// caller reads them: to the standard handles it passed on (a shell under wine, a redirect),
// else to the console of the command prompt that started the program.
void ConnectStandardStreams() {
    if (Usable(::GetStdHandle(STD_OUTPUT_HANDLE)) && Usable(::GetStdHandle(STD_ERROR_HANDLE))) return;
    if (!::AttachConsole(ATTACH_PARENT_PROCESS)) return;
    if (!Usable(::GetStdHandle(STD_OUTPUT_HANDLE))) (void)std::freopen("CONOUT$", "w", stdout);
    if (!Usable(::GetStdHandle(STD_ERROR_HANDLE))) (void)std::freopen("CONOUT$", "w", stderr);
}

}  // namespace

int main(int argc, char* argv[]) {
    ConnectStandardStreams();
    return qvl::TSetupProgram::Main(argc, argv);
}
