#pragma once
// The socket engine's exceptions and the table of socket error texts.
#include <string>
#include <utility>

#include "framework/Exception.h"

namespace qvl {

// Every failure the socket engine detects itself (except the timer's "No Timer") is raised as
// ESockError or a descendant. Beside its message it carries the Windows Sockets error number
// the failure came with (0 for a failure of the engine's own, such as "Connection Failed");
// callers decide by the number, never by the text.
class ESockError : public Exception {
public:
    explicit ESockError(std::string message, int errorNo = 0)
        : Exception(std::move(message)), errorNo_(errorNo) {}
    int ErrorNo() const noexcept { return errorNo_; }

private:
    int errorNo_;
};

// A transfer ended because Canceled was set (Cancel, Abort, or the time-out through Abort).
// A handler for ESockError catches it too.
class EAbortError : public ESockError {
public:
    using ESockError::ESockError;
};

// The text of a Windows Sockets error number: "<number>:<text>" for a number in the table
// (e.g. "10061:Connection refused"), "Unknown Error No. <number>" for any other number, and the
// empty string for 0. Never fails.
std::string SocketErrorText(int errorNo);

}  // namespace qvl
