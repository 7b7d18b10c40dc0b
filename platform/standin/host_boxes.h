// Message boxes in a host program on Linux, where nobody can answer one: each goes to standard error,
// answered IDCANCEL, and is counted as a fault of the program, unless the program takes them itself.
#pragma once

#include "platform/win32.h"

namespace Standin {

// The answer to a box the program takes (its text and caption in code page 932).
typedef int (*MessageBoxTaker)(const char* text, const char* caption, UINT type, void* data);
// From now on every box goes to taker (null: to standard error again).
void TakeMessageBoxes(MessageBoxTaker taker, void* data);
// Boxes written to standard error so far.
int MessageBoxesOnStandardError();
// For MessageBoxA: 1 with the taker's answer in *answer when a taker has the box; 0 after counting it.
int HandOverMessageBox(const char* text, const char* caption, UINT type, int* answer);

} // namespace Standin
