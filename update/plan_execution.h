// The update itself, run by the wizard's second "次へ".
#pragma once

#include "platform/win32.h"

// Runs to its end: leaves the wizard on the completion page or the short-of-space page, or ends the
// dialog with result -1 after its message.
void RunUpdate(HWND window);
