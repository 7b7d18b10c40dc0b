// Internals shared by the stand-in's files: each area's reset, called by Standin::ResetAll.
#pragma once

#include <cstddef>

namespace Standin {
void ResetFileSystem();
void ResetBoxes();
void ResetRegistry();
void ResetWindows();
void ResetShell();
void CopyHostText(char* destination, size_t capacity, const char* source);
} // namespace Standin
