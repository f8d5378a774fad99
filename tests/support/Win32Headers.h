#pragma once
// The Windows headers for test files, as the platform layer includes them: <windows.h> maps
// names such as PostMessage and GetEnvironmentVariable to their "A" variants with macros, and
// the product's platform calls have those names, so the macros go.
#include "platform/windows/Win32.h"
