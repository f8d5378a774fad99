#pragma once
// A deliberately plain HTTP exchange over a POSIX socket, independent of the product's own
// client: it lets tests check servers and proxies, and compare what the product fetched with
// what a straightforward reader gets.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qvl::test {

struct RawReply {
    std::string raw;         // every byte received, until the server closed the connection
    std::string statusLine;  // first line without its CR LF
    int status = 0;          // the three digits of the status line, 0 when there are none
    std::vector<std::pair<std::string, std::string>> headers;  // in order, values trimmed
    std::string body;        // everything after the blank line that ends the header

    // Value of the first header of that name (compared ignoring case), if any.
    std::optional<std::string> Header(std::string_view name) const;
};

// Splits a complete reply into its parts (status 0 and no headers when it is not one).
RawReply ParseRawReply(std::string raw);

// Connects to 127.0.0.1:port, sends `request` as it stands, reads until the server closes the
// connection and parses what came. Throws std::runtime_error on a socket error or when the
// server has not closed within `timeout`.
RawReply RawExchange(uint16_t port, std::string_view request,
                     std::chrono::milliseconds timeout = std::chrono::seconds(20));

// "GET <target> HTTP/1.0" and an empty line, nothing else: what the installer's
// client sends, near enough for checking a server.
RawReply RawGet10(uint16_t port, std::string_view target,
                  std::chrono::milliseconds timeout = std::chrono::seconds(20));

}  // namespace qvl::test
