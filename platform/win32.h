// The only door to the operating system. On Windows this is the ANSI Win32 API itself; on Linux it is a
// host layer with the same names: real files (drive letters mapped to host folders), a lstrcmpiA and profile
// reader that behave as Windows does for what the logic relies on, and a message box written to standard
// error. The scripted windows, boxes, registry and drives that tests control are in tests/fakes.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>
#include <objbase.h>
#else
#include "platform/standin/win32_standin.h"
#endif
