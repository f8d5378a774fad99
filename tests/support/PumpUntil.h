#pragma once
// Runs the GUI thread's event loop until a condition holds, with a bound: the tests' way of
// waiting for a notification, a timer or a posted message without sleeping and hoping.
#include <functional>

namespace qvl::test {

// Dispatches messages (waiting for them without spinning) until `done` returns true or
// `timeoutMs` passes. Returns the last value of `done`. With `fd` >= 0 the waits also end when
// that socket becomes readable.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs, int fd = -1);

// Dispatches messages for `ms` milliseconds, for tests that show that something does NOT
// happen. Returns how many turns the loop took.
int PumpFor(int ms);

}  // namespace qvl::test
