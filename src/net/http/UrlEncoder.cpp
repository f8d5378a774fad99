#include "net/http/UrlEncoder.h"

#include <exception>

namespace qvl {

namespace {

bool KeptAsIs(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

std::string TUrlEncoder::EncodeText(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    try {
        std::string result;
        result.reserve(text.size());
        for (const char ch : text) {
            const auto c = static_cast<unsigned char>(ch);
            if (KeptAsIs(c)) {
                result += ch;
            } else if (c == ' ') {
                result += '+';
            } else {
                result += '%';
                result += kHex[c >> 4];
                result += kHex[c & 0x0F];
            }
        }
        return result;
    } catch (const std::exception& error) {
        // Only memory can run out here; the caller then sends the text as it is.
        const std::string message = error.what();
        if (OnError) {
            try {
                OnError(this, "Error during encode", message);
            } catch (...) {
                // A failing error handler must not turn the fallback into a failure.
            }
        }
        return text;
    }
}

}  // namespace qvl
