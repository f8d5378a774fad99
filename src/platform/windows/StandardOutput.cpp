#include "platform/StandardOutput.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>

namespace qvl::platform {

// Windows has no name that reopens a handle this process already holds.
std::optional<std::string> StandardOutputFileName() { return std::nullopt; }

// Text mode would write every LF as CR LF and corrupt a downloaded body.
void UseBinaryStandardOutput() {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace qvl::platform
