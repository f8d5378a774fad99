#include "net/http/Url.h"

#include "framework/Exception.h"
#include "framework/Text.h"

namespace qvl {

namespace {

bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool IsUnreserved(char c) {
    return IsAlpha(c) || IsDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

bool IsSubDelim(char c) {
    switch (c) {
        case '!': case '$': case '&': case '\'': case '(': case ')':
        case '*': case '+': case ',': case ';': case '=': return true;
        default: return false;
    }
}

// A URL part for a message: control bytes would break the line it is shown on.
std::string Shown(const std::string& text) {
    std::string shown;
    for (const char c : text.substr(0, 200)) {
        const auto byte = static_cast<unsigned char>(c);
        shown += byte < 0x20 || byte == 0x7f ? '?' : c;
    }
    return "'" + shown + (text.size() > 200 ? "...'" : "'");
}

// Length of a scheme followed by ":" at the start of `text` (RFC 3986: ALPHA *( ALPHA / DIGIT
// / "+" / "-" / "." )), or 0 when there is none.
size_t SchemeLength(const std::string& text) {
    if (text.empty() || !IsAlpha(text[0])) return 0;
    size_t i = 1;
    while (i < text.size() && (IsAlpha(text[i]) || IsDigit(text[i]) || text[i] == '+' ||
                               text[i] == '-' || text[i] == '.'))
        ++i;
    return i < text.size() && text[i] == ':' ? i : 0;
}

int PortOf(const std::string& text, const std::string& url) {
    // Decimal only: a sign, a hex prefix or a value that wraps would connect somewhere else.
    bool ok = !text.empty() && text.size() <= 5;
    int port = 0;
    for (size_t i = 0; ok && i < text.size(); ++i) {
        if (!IsDigit(text[i])) ok = false;
        else port = port * 10 + (text[i] - '0');
    }
    if (!ok || port < 1 || port > 65535) throw Exception("Invalid port in URL: " + Shown(url));
    return port;
}

void CheckHost(const std::string& host, bool bracketed, const std::string& url) {
    bool ok = !host.empty();
    for (const char c : host) {
        if (bracketed) ok = ok && (IsHex(c) || c == ':' || c == '.');
        else ok = ok && (IsUnreserved(c) || IsSubDelim(c) || c == '%');
    }
    if (bracketed && host.find(':') == std::string::npos) ok = false;
    if (!ok) throw Exception("Invalid host in URL: " + Shown(url));
}

// The pieces of a URI reference (RFC 3986 appendix B); `has*` tell an empty part from none.
struct Reference {
    std::string scheme, authority, path, query;
    bool hasScheme = false, hasAuthority = false, hasQuery = false;
};

Reference SplitReference(const std::string& text) {
    Reference r;
    size_t i = 0;
    const size_t scheme = SchemeLength(text);
    if (scheme > 0) {
        r.hasScheme = true;
        r.scheme = AsciiLower(text.substr(0, scheme));
        i = scheme + 1;
    }
    const size_t fragment = text.find('#', i);
    const size_t end = fragment == std::string::npos ? text.size() : fragment;
    if (text.compare(i, 2, "//") == 0 && i + 2 <= end) {
        r.hasAuthority = true;
        const size_t a = i + 2;
        size_t stop = text.find_first_of("/?", a);
        if (stop == std::string::npos || stop > end) stop = end;
        r.authority = text.substr(a, stop - a);
        i = stop;
    }
    size_t q = text.find('?', i);
    if (q == std::string::npos || q > end) q = end;
    r.path = text.substr(i, q - i);
    if (q < end) {
        r.hasQuery = true;
        r.query = text.substr(q + 1, end - q - 1);
    }
    return r;
}

std::string Compose(const Reference& r) {
    std::string out;
    if (r.hasScheme) out += r.scheme + ":";
    if (r.hasAuthority) out += "//" + r.authority;
    out += r.path;
    if (r.hasQuery) out += "?" + r.query;
    return out;
}

}  // namespace

TUrlParts SplitUrl(const std::string& url) {
    if (url.empty()) throw Exception("Empty URL");
    TUrlParts parts;
    size_t at = 0;
    const size_t scheme = SchemeLength(url);
    const std::string schemeName = AsciiLower(url.substr(0, scheme));
    if (scheme > 0 && url.compare(scheme, 3, "://") == 0) {
        if (schemeName == "https") throw Exception("HTTP Secure Socket is not supported");
        if (schemeName != "http")
            throw Exception("URL scheme '" + schemeName + "' is not supported: only http URLs can be fetched");
        parts.hasScheme = true;
        at = scheme + 3;
    } else if (schemeName == "http" || schemeName == "https") {
        // "http:foo" or "http:/foo": a scheme without its "//" names no host at all.
        throw Exception("URL has no host: " + Shown(url));
    }
    // Otherwise a "host:port/..." or "/path" form, as a redirect or a caller may give.

    if (!parts.hasScheme && url[0] == '/') {
        parts.authorityEnd = 0;
    } else {
        size_t end = url.find_first_of("/?#", at);
        if (end == std::string::npos) end = url.size();
        const std::string authority = url.substr(at, end - at);
        parts.authorityEnd = end;
        if (authority.find('@') != std::string::npos)
            throw Exception("User name and password in the URL are not supported: " + Shown(url));
        std::string portText;
        bool hasPort = false;
        if (!authority.empty() && authority[0] == '[') {
            const size_t close = authority.find(']');
            if (close == std::string::npos) throw Exception("Invalid host in URL: " + Shown(url));
            parts.host = authority.substr(1, close - 1);
            CheckHost(parts.host, true, url);
            const std::string after = authority.substr(close + 1);
            if (!after.empty()) {
                if (after[0] != ':') throw Exception("Invalid host in URL: " + Shown(url));
                hasPort = true;
                portText = after.substr(1);
            }
        } else {
            const size_t colon = authority.find(':');
            parts.host = authority.substr(0, colon);
            if (parts.host.empty()) throw Exception("URL has no host: " + Shown(url));
            CheckHost(parts.host, false, url);
            if (colon != std::string::npos) {
                hasPort = true;
                portText = authority.substr(colon + 1);
            }
        }
        parts.hasHost = true;
        // RFC 3986 allows an empty port ("host:/"), which means the scheme's default.
        if (hasPort && !portText.empty()) parts.port = PortOf(portText, url);
        else if (parts.hasScheme) parts.port = 80;
    }

    const size_t fragment = url.find('#', parts.authorityEnd);
    parts.target = url.substr(parts.authorityEnd,
                              fragment == std::string::npos ? std::string::npos : fragment - parts.authorityEnd);
    return parts;
}

std::string EncodeTarget(const std::string& target) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(target.size() + 1);
    if (target.empty() || target[0] != '/') out += '/';
    for (size_t i = 0; i < target.size(); ++i) {
        const char c = target[i];
        if (c == '%' && i + 2 < target.size() && IsHex(target[i + 1]) && IsHex(target[i + 2])) {
            out += c;
        } else if (c != '%' && (IsUnreserved(c) || IsSubDelim(c) || c == ':' || c == '@' || c == '/' || c == '?')) {
            out += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

std::string AuthorityOf(const std::string& host, int port) {
    std::string authority = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    if (port != 80) authority += ":" + std::to_string(port);
    return authority;
}

std::string RemoveDotSegments(const std::string& path) {
    std::string in = path, out;
    while (!in.empty()) {
        if (in.compare(0, 3, "../") == 0) in.erase(0, 3);
        else if (in.compare(0, 2, "./") == 0) in.erase(0, 2);
        else if (in.compare(0, 3, "/./") == 0) in.erase(0, 2);
        else if (in == "/.") in = "/";
        else if (in.compare(0, 4, "/../") == 0 || in == "/..") {
            in = in.size() == 3 ? "/" : in.substr(3);
            const size_t last = out.rfind('/');
            out.erase(last == std::string::npos ? 0 : last);
        } else if (in == "." || in == "..") {
            in.clear();
        } else {
            const size_t next = in.find('/', 1);
            out += in.substr(0, next);
            in.erase(0, next == std::string::npos ? in.size() : next);
        }
    }
    return out;
}

std::string ResolveReference(const std::string& base, const std::string& reference) {
    const Reference b = SplitReference(base);
    const Reference r = SplitReference(reference);
    Reference t;
    if (r.hasScheme) {
        t = r;
        t.path = RemoveDotSegments(r.path);
    } else {
        t.hasScheme = b.hasScheme;
        t.scheme = b.scheme;
        if (r.hasAuthority) {
            t.hasAuthority = true;
            t.authority = r.authority;
            t.path = RemoveDotSegments(r.path);
            t.hasQuery = r.hasQuery;
            t.query = r.query;
        } else {
            t.hasAuthority = b.hasAuthority;
            t.authority = b.authority;
            if (r.path.empty()) {
                t.path = b.path;
                t.hasQuery = r.hasQuery || b.hasQuery;
                t.query = r.hasQuery ? r.query : b.query;
            } else {
                if (r.path[0] == '/') {
                    t.path = RemoveDotSegments(r.path);
                } else {
                    // Merge (5.2.3): the base's folder, or "/" for a base with an authority
                    // and an empty path.
                    std::string merged;
                    if (b.hasAuthority && b.path.empty()) merged = "/" + r.path;
                    else {
                        const size_t slash = b.path.rfind('/');
                        merged = (slash == std::string::npos ? std::string() : b.path.substr(0, slash + 1)) + r.path;
                    }
                    t.path = RemoveDotSegments(merged);
                }
                t.hasQuery = r.hasQuery;
                t.query = r.query;
            }
        }
    }
    return Compose(t);
}

}  // namespace qvl
