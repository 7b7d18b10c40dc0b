// Internals shared by the stand-in's files: each area's reset, called by Standin::ResetAll.
#pragma once

#include "platform/win32.h"

#include <cstddef>

namespace Standin {
void ResetFileSystem();
void ResetBoxes();
void ResetRegistry();
void ResetWindows();
void ResetShell();
void ResetDllSearch();
// GetProcAddress's answer for the DLL search calls of kernel32; null for any other name.
FARPROC DllSearchProcedure(const char* name);
void CopyHostText(char* destination, size_t capacity, const char* source);
} // namespace Standin
