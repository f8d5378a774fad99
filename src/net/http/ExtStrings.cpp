#include "net/http/ExtStrings.h"

#include "framework/Exception.h"
#include "platform/TextCompare.h"

namespace qvl {

namespace {

// The header name of a line: the text before its first colon; `found` says whether it had one.
std::string HeaderName(const std::string& line, bool& found) {
    const size_t colon = line.find(':');
    found = colon != std::string::npos;
    return found ? line.substr(0, colon) : std::string();
}

}  // namespace

int CompareHeaderNames(const std::string& a, const std::string& b) {
    // The C library compares up to a NUL byte, so texts with NUL bytes are compared piece by
    // piece, the NUL ranking below every other character.
    size_t ia = 0, ib = 0;
    for (;;) {
        const size_t ea = a.find('\0', ia), eb = b.find('\0', ib);
        const std::string pa = a.substr(ia, ea == std::string::npos ? std::string::npos : ea - ia);
        const std::string pb = b.substr(ib, eb == std::string::npos ? std::string::npos : eb - ib);
        const int c = platform::CompareTextIgnoringCase(pa, pb);
        if (c != 0) return c;
        const bool moreA = ea != std::string::npos, moreB = eb != std::string::npos;
        if (!moreA || !moreB) return moreA == moreB ? 0 : (moreA ? 1 : -1);
        ia = ea + 1;
        ib = eb + 1;
    }
}

int TExStringList::IndexOfHeader(const std::string& name) const {
    if (!Sorted()) {
        for (int i = 0; i < Count(); ++i) {
            bool hasColon = false;
            const std::string lineName = HeaderName(Get(i), hasColon);
            if (hasColon && CompareHeaderNames(lineName, name) == 0) return i;
        }
        return -1;
    }
    // The first line whose name is not below `name`; it is the header's line when it has
    // that name.
    int low = 0, high = Count();
    while (low < high) {
        const int probe = low + (high - low) / 2;
        bool hasColon = false;
        if (CompareHeaderNames(HeaderName(Get(probe), hasColon), name) < 0) low = probe + 1;
        else high = probe;
    }
    bool hasColon = false;
    return low < Count() && CompareHeaderNames(HeaderName(Get(low), hasColon), name) == 0 ? low : -1;
}

int TExStringList::CompareLines(const std::string& a, const std::string& b) const {
    bool colonA = false, colonB = false;
    return CompareHeaderNames(HeaderName(a, colonA), HeaderName(b, colonB));
}

void TExStringList::SetHeader(const std::string& name, const std::string& value) {
    int index = IndexOfHeader(name);
    if (!value.empty()) {
        // A sorted list refuses the replace below; refuse before appending the placeholder
        // line, so that a refused call leaves the list as it was.
        if (Sorted()) throw EStringListError("Operation not allowed on sorted list");
        if (index == -1) index = Add(std::string());
        Put(index, name + ": " + value);
    } else if (index != -1) {
        Delete(index);
    }
}

}  // namespace qvl
