// Preparing the plan's archive files, the first step of the update run.
#pragma once

#include "platform/win32.h"

struct StagedUpdate;

// Prepares every UpdateItem of the plan in list order under the rule of its mode and the overwrite-only
// switch: each file to be written goes complete into a file beside its target, recorded in staged; nothing
// installed changes. 1 when all are prepared; 0 after deleting what staged holds, the failure's message
// and EndDialog(window, -1).
int PrepareArchiveFiles(HWND window, int overwriteOnly, StagedUpdate* staged);
