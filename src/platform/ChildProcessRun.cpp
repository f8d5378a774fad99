// Start, then wait: the same on every platform.
#include "platform/ChildProcess.h"

namespace qvl::platform {

std::optional<int> ChildProcess::Run(const std::string& path) noexcept {
    ChildProcess child;
    if (!child.Start(path)) return std::nullopt;
    return child.Wait();
}

std::optional<int> ChildProcess::RunDispatching(const std::string& path) noexcept {
    ChildProcess child;
    if (!child.Start(path)) return std::nullopt;
    return child.WaitDispatching();
}

}  // namespace qvl::platform
