#pragma once
// The URL rules of the HTTP client: splitting an http URL into host, port and request target,
// percent-encoding the target, and resolving a redirect's Location against the URL it came from
// (RFC 3986). Plain functions over byte strings; they raise Exception for a URL the client
// cannot use, with a message that says what is wrong.
#include <string>

namespace qvl {

// The parts of a URL the client connects to and asks for.
struct TUrlParts {
    bool hasScheme = false;     // "http://..." (else a "host[:port]/path" or "/path" form)
    bool hasHost = false;       // false for a "/path" form: the host stays as it was
    std::string host;           // without the brackets of an IPv6 literal
    int port = 0;               // 0 when the text names none
    std::string target;         // the path and query as given, fragment removed
    size_t authorityEnd = 0;    // offset in the URL text where the path (or query) starts
};

// Splits `url`. Accepted: "http://host[:port][/path][?query][#fragment]" (scheme in any case),
// "host[:port][/path...]" and "/path...". The host is a name of letters, digits and "-._~"
// (and RFC 3986's sub-delimiters and %XX), a dotted address, or an IPv6 literal in brackets.
// Raises Exception: "Empty URL"; "HTTP Secure Socket is not supported" for https; "URL scheme
// 'x' is not supported: only http URLs can be fetched"; "Invalid port in URL: '...'" unless a
// decimal number from 1 to 65535; "Invalid host in URL: '...'"; "URL has no host: '...'".
TUrlParts SplitUrl(const std::string& url);

// The target as sent in a request line: "/" when empty (a "?query" gets its "/" before it),
// every byte outside RFC 3986's unreserved, sub-delimiter, ":", "@", "/", "?" set written as
// %XX; an existing %XX (two hex digits) is kept, a lone "%" becomes "%25".
std::string EncodeTarget(const std::string& target);

// "host" or "[v6]", with ":port" unless the port is 80.
std::string AuthorityOf(const std::string& host, int port);

// Resolves `reference` (a Location value) against the absolute URL `base` (RFC 3986 section
// 5.2: scheme, authority, path with dot segments removed, query; the fragment is dropped).
std::string ResolveReference(const std::string& base, const std::string& reference);

// RFC 3986 section 5.2.4.
std::string RemoveDotSegments(const std::string& path);

}  // namespace qvl
