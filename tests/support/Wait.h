#pragma once
// Bounded waiting on a condition: tests never sleep and hope.
#include <chrono>
#include <functional>

namespace qvl::test {

// Evaluates `condition` until it holds or `timeout` has passed, sleeping `step` in between.
// Returns whether it held; the condition is evaluated once more at the deadline.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds step = std::chrono::milliseconds(5));

}  // namespace qvl::test
