#pragma once
// TExStringList: a list of text lines that knows HTTP header lines ("Name: value"). It finds the
// line of a header by name and sets or removes a header by name; everything else is the plain
// string list. The HTTP client composes its request in one.
#include <string>

#include "framework/StringList.h"

namespace qvl {

class TExStringList : public TStringList {
public:
    // Index of a line whose header name (the text before its first colon) equals `name`,
    // compared by the user's locale with case ignored; -1 when there is none.
    // Unsorted: the first such line; lines without a colon are skipped.
    // Sorted: a binary search for the first line of that name, in which a line without a
    // colon has the empty name. A sorted list is ordered by the same comparison of names
    // (lines of one name keep the order they came in), so the search finds what is there.
    int IndexOfHeader(const std::string& name) const;

    // Sets header `name` to "name: value": the first line of that header is replaced in place,
    // or a line is appended when there is none. An empty value removes the first line of that
    // header (nothing happens when it is absent). On a sorted list, setting a value raises
    // EStringListError "Operation not allowed on sorted list" and leaves the list unchanged.
    void SetHeader(const std::string& name, const std::string& value);

protected:
    int CompareLines(const std::string& a, const std::string& b) const override;
};

// Compares two header names by the platform's locale, ignoring case (on Windows the user's
// locale, elsewhere the current C locale: platform::CompareTextIgnoringCase), a NUL byte
// ranking below every other character. Negative, zero or positive like strcmp. In the "C"
// locale ASCII names compare as their lower-case bytes do.
int CompareHeaderNames(const std::string& a, const std::string& b);

}  // namespace qvl
