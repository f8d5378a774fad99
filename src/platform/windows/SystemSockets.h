#pragma once
// The system's socket headers, for the parts of the platform layer that every platform shares.
#include "platform/windows/Win32.h"
