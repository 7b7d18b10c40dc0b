// Copying the plan's files and folders from the product's discs, one step of the update run.
#pragma once

#include "platform/win32.h"
#include "update/update_walk.h"

#include <cstddef>

struct CopyDecision;
struct CopyItem;
struct StagedUpdate;

// What the run reports while it copies: called once a copy is staged, just before the shell copies it.
typedef void (*CopyProgress)(HWND window, const char* path);

// Copies one decided item with the shell's copy: a file to a name beside its destination, a folder into a
// staging folder beside its place, each recorded in staged for the commit. 1 when done. 0 after deleting
// what staged holds and the copy failure's message, or silently with *cancelled 1 when the user cancelled
// in the shell's window.
int CopyDecidedItem(HWND window, const CopyItem& item, const CopyDecision& decision, StagedUpdate* staged,
                    CopyProgress progress, int* cancelled);

// "SETUP.INI : "path" のコピーに失敗しました" in an error box owned by window.
void ShowCopyFailure(HWND window, const char* path);

// Finds the CD-ROM drive holding disk (1..9) by its check file, asking for the disc (a box owned by window)
// until it is there. 1 with root set to the drive ("E:"); 0 when the user cancelled.
int FindCopySource(HWND window, int disk, char* root, size_t rootCapacity);

// One search for disk's drive, without asking for the disc: a DiscFinder for a run that only looks.
DiscSearch LookForDisc(int disk, char* root, size_t rootCapacity, void* data);
