// What the update run checks and says without a window: the free-space check that opens it, the rule by
// which a drive holds a disc, and the texts of its pages and boxes. The run shows them; the publisher's
// tool plans with the same routines.
#pragma once

#include "platform/win32.h"

#include <cstddef>
#include <cstdint>

// The free-space check that opens the run, as it measures it: "RequiredDiskSpace" (0 when missing or
// empty: no check) against the free bytes of the installation's drive, compared in the low 32 bits.
struct RequiredSpace {
    int32_t required;
    int32_t checked; // 1 when the drive's free space could be queried
    char drive[3];   // "C:"
    ULARGE_INTEGER freeBytes;
    int32_t shortfall; // the bytes the page says are missing (at most 2147483647); 0 when the run goes on
    uint64_t preparedBytes; // what the update prepares on the drive, once its decisions are made
};
// 1 when the run goes on, 0 when it stops at the short-of-space page. Reads only; shows nothing.
int MeasureRequiredSpace(RequiredSpace* space);

// The short-of-space page (with the drive and the shortfall), the box of a plan with nothing in it, and the
// box of a write that fails.
extern const char ShortOfSpaceText[];
extern const char NothingToUpdateText[];
extern const char WriteFailedText[];
// The box of a patched file whose installed file is missing or is not the patch's base (%s: its path).
extern const char NotPatchBaseText[];
void ShowNotPatchBase(const char* path);

// The copy failure's text ("SETUP.INI : "path" のコピーに失敗しました") and the insert-disk prompt's, in
// 1024-byte buffers (cut there).
void FormatCopyFailure(char* message, size_t capacity, const char* path);
void FormatDiskPrompt(char* message, size_t capacity, int disk);

// Whether the drive of letter is a CD-ROM drive holding disk (1..9): its check file (or folder) of
// "SETUP.INI" is there. The search for a disc takes the first such drive from A: on.
int DriveHoldsDisk(char letter, int disk);
