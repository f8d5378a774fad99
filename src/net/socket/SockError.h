#pragma once
// The socket engine's exceptions and the table of socket error texts.
#include <string>

#include "framework/Exception.h"

namespace qvl {

// Every failure the socket engine detects itself (except the timer's "No Timer") is raised as
// ESockError or a descendant; it carries only its message.
class ESockError : public Exception {
public:
    using Exception::Exception;
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
