#pragma once
// The Windows headers, once, for the files of this folder. <windows.h> maps many names to their
// "A"/"W" variants with macros; some of them are also the names of our own platform calls
// (PostMessage, GetEnvironmentVariable, ...), so those macros are removed and the "A" functions
// are called by their full names.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#undef PostMessage
#undef GetEnvironmentVariable
#undef GetFileAttributes
#undef CreateDirectory
#undef CreateProcess
#undef GetMessage
#undef DispatchMessage
#undef PeekMessage
