// Writing the plan's archive files, one step of the update run.
#pragma once

#include "platform/win32.h"

// Writes every UpdateItem of the plan in list order under the rule of its mode and the overwrite-only
// switch. 1 when all are done; 0 after the failure's message and EndDialog(window, -1).
int WriteArchiveFiles(HWND window, int overwriteOnly);
