#pragma once
// The Windows headers for test files. <windows.h> maps names such as PostMessage and
// GetEnvironmentVariable to their "A" variants with macros; the product's platform calls have
// those names, so the macros go.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#undef PostMessage
#undef GetEnvironmentVariable
#undef GetFileAttributes
#undef CreateDirectory
#undef CreateProcess
