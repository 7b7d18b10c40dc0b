// Copying the plan's files and folders from the product's discs, one step of the update run.
#pragma once

#include "platform/win32.h"

// Copies every CopyItem of the plan in list order into the installation folder with the shell's copy,
// finding each item's disc first. 1 when all are done; 0 after the failure's message (none when the user
// cancelled) and EndDialog(window, -1).
int CopyFromDisks(HWND window);

// Finds the CD-ROM drive holding disk (1..9) by its check file, asking for the disc until it is there.
// 1 with root set to the drive ("E:"); 0 after EndDialog(window, -1) when the user cancelled.
int FindCopySource(HWND window, int disk, char* root, size_t rootCapacity);
