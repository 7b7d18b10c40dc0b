// Copying the plan's files and folders from the product's discs, one step of the update run.
#pragma once

#include "platform/win32.h"

struct StagedUpdate;

// Copies every CopyItem of the plan in list order with the shell's copy, finding each item's disc first:
// a file to a name beside its destination, a folder into a staging folder beside its place, each recorded
// in staged for the commit. 1 when all are done; 0 after deleting what staged holds, the failure's
// message (none when the user cancelled) and EndDialog(window, -1).
int CopyFromDisks(HWND window, StagedUpdate* staged);

// "SETUP.INI : "path" のコピーに失敗しました" in an error box owned by window.
void ShowCopyFailure(HWND window, const char* path);

// Finds the CD-ROM drive holding disk (1..9; CopyFromDisks refuses any other first) by its check file,
// asking for the disc until it is there. 1 with root set to the drive ("E:"); 0 after EndDialog(window, -1)
// when the user cancelled.
int FindCopySource(HWND window, int disk, char* root, size_t rootCapacity);
