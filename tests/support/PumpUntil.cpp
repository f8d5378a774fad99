#include "support/PumpUntil.h"

#include <algorithm>
#include <chrono>

#include "platform/MessageTarget.h"

namespace qvl::test {
namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    return static_cast<int>(std::max<long long>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()));
}

}  // namespace

bool PumpUntil(const std::function<bool()>& done, int timeoutMs, int fd) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    platform::ProcessMessages();
    while (!done()) {
        const int left = MillisecondsLeft(deadline);
        if (left == 0) return done();
        platform::WaitForSocketOrMessage(fd, std::min(left, 50));
    }
    return true;
}

int PumpFor(int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    int turns = 0;
    for (int left; (left = MillisecondsLeft(deadline)) > 0; ++turns) platform::WaitForSocketOrMessage(-1, left);
    return turns;
}

}  // namespace qvl::test
