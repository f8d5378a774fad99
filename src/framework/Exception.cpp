#include "framework/Exception.h"

#include <cctype>
#include <cstdint>

namespace qvl {

int StrToInt(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) throw EConvertError(text);
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        int digit;
        if (std::isdigit(c)) digit = c - '0';
        else if (base == 16 && std::isxdigit(c)) digit = std::tolower(c) - 'a' + 10;
        else throw EConvertError(text);
        value = value * base + digit;
        const int64_t limit = negative ? int64_t{2147483648} : int64_t{2147483647};
        // Hexadecimal may spell the full 32-bit pattern, as the runtime allows.
        if (value > limit && !(base == 16 && value <= int64_t{0xFFFFFFFF})) throw EConvertError(text);
    }
    if (negative) value = -value;
    return static_cast<int>(static_cast<int32_t>(static_cast<uint32_t>(value)));
}

}  // namespace qvl
