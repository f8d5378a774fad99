#pragma once
// Whether this test program runs under wine rather than on Windows itself (or on Linux).
// Wine differs from Windows in a few observable ways; tests that depend on one say so and skip.
#ifdef _WIN32
#include "Win32Headers.h"
#endif

namespace qvl::test {

inline bool RunningUnderWine() {
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

}  // namespace qvl::test
