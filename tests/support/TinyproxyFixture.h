#pragma once
// A real tinyproxy on a free port of 127.0.0.1, accepting clients from 127.0.0.1 only, with
// its configuration and log in a temporary folder. Its log shows every request it forwarded,
// which proves that a download really went through the proxy.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "DaemonFixture.h"

namespace qvl::test {

class TinyproxyFixture : public DaemonFixture {
public:
    // Throws std::runtime_error (with tinyproxy's log) when it cannot be started.
    TinyproxyFixture();
    explicit TinyproxyFixture(uint16_t firstPort);  // tried before a free port is picked

    static bool Available();  // /usr/bin/tinyproxy can be run

    std::string Log() const;
    // Request lines the proxy received, in order: "GET http://127.0.0.1:PORT/x HTTP/1.0".
    std::vector<std::string> Requests() const;
    // Waits at most `timeout` for `text` to appear in the log.
    bool WaitForLog(std::string_view text, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
};

}  // namespace qvl::test
