#pragma once
// ASCII case and white space for protocol text: host names, schemes, header names and values.
// Bytes outside ASCII stay as they are whatever the locale, which is what such names need.
#include <string>
#include <string_view>

namespace qvl {

// `text` with A-Z made a-z.
std::string AsciiLower(std::string text);

// `text` without the bytes of `blanks` at either end (space and tab by default: the white space
// of a header line).
std::string Trimmed(std::string_view text, std::string_view blanks = " \t");

}  // namespace qvl
