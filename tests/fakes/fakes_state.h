// Internals shared by the fakes' files: each area's reset, called by Standin::ResetAll.
#pragma once

#include "platform/win32.h"

namespace Standin {
void ResetBoxes();
void ResetRegistry();
void ResetWindows();
void ResetShell();
void ResetDllSearch();
void ResetFreeSpace();
void ResetFaults(); // the fault script, the refused move and the durability counts (fault_script.h)
} // namespace Standin

// The scripted shell's copy, which the fakes' hooks put behind SHFileOperationA (tests/fakes/shell.cpp).
int FakeShellCopy(LPSHFILEOPSTRUCTA operation);
