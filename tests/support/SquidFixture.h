#pragma once
// A real squid on a free port of 127.0.0.1, serving clients from 127.0.0.1 only and caching
// nothing, with its configuration and logs in a temporary folder. Its access log shows every
// request it forwarded. Squid keeps client connections open (it answers HTTP/1.1 with
// keep-alive), which is what makes it a good test of where a reply ends.
#include <chrono>
#include <string>
#include <string_view>

#include "DaemonFixture.h"

namespace qvl::test {

class SquidFixture : public DaemonFixture {
public:
    // Throws std::runtime_error (with squid's log) when it cannot be started.
    SquidFixture();

    static bool Available();  // /usr/sbin/squid can be run

    std::string CacheLog() const;
    std::string AccessLog() const;
    // Waits at most `timeout` for `text` to appear in the access log (squid writes a request's
    // line once it is done with it).
    bool WaitForAccessLog(std::string_view text, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
};

}  // namespace qvl::test
