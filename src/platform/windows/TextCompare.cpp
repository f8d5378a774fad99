#include "platform/TextCompare.h"

#include <climits>

#include "platform/windows/Win32.h"

namespace qvl::platform {

int CompareTextIgnoringCase(const std::string& a, const std::string& b) {
    // Longer than CompareStringA can take: the texts are no header names; tell them apart.
    if (a.size() > INT_MAX || b.size() > INT_MAX) return a < b ? -1 : a == b ? 0 : 1;
    const int result = CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                                      b.data(), static_cast<int>(b.size()));
    // 0 is a refused call (no such locale, bad flags): the bytes decide rather than nothing.
    if (result == 0) return a < b ? -1 : a == b ? 0 : 1;
    return result - CSTR_EQUAL;
}

}  // namespace qvl::platform
