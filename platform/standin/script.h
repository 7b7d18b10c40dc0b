// What tests control and read in the Linux stand-in: drives, the temporary folder, free space, the message
// box recorder and its answers. Windows, registry and the shell's copy have their own script headers.
#pragma once

#include "platform/win32.h"

namespace Standin {

// Clears every scripted state of the stand-in (drives, boxes, answers, registry, windows, shell).
void ResetAll();

// Drives: letter 'A'..'Z' mapped to a host folder. A CD-ROM drive with a null folder has no disc.
void SetDrive(char letter, const char* hostFolder, UINT driveType);
void RemoveDrive(char letter);
// Free bytes reported for a drive; without it the host file system's figures are used.
void SetFreeSpace(char letter, uint64_t freeBytes);
// Whether GetProcAddress finds "GetDiskFreeSpaceExA" (the fallback query is used otherwise).
void SetExtendedFreeSpaceQuery(bool available);
// What the stand-in did to put written files on the disk, counted since the last reset: FlushFileBuffers
// calls, handles closed with writes never flushed, and moves made with MOVEFILE_WRITE_THROUGH.
struct DurabilityCounts {
    int flushes;
    int unflushedCloses;
    int writeThroughMoves;
};
const DurabilityCounts& Durability();
// After this many more MoveFileExA calls the next one is refused with a sharing violation, as for a file
// another program holds open at that moment; the moves after it are made again. -1 refuses none.
void RefuseMoveAfter(int moves);
// The DLL search: whether GetProcAddress finds "SetDefaultDllDirectories" in kernel32, and what
// SetDefaultDllDirectories and SetDllDirectoryA were asked since the last reset.
struct DllSearchRecord {
    int defaultCalls;
    DWORD defaultDirectories; // the flags of the last SetDefaultDllDirectories
    int dllDirectoryCalls;
    bool dllDirectorySet; // the last SetDllDirectoryA named a folder (an empty one included)
    char dllDirectory[MAX_PATH];
};
void SetDefaultDllDirectoriesAvailable(bool available);
const DllSearchRecord& DllSearch();
// Folder that GetTempPathA reports (a trailing separator is added); null restores $TMPDIR or /tmp.
void SetTempPath(const char* folder);
// Host path for a path as the logic writes it; 0 when the path names an unmapped drive or does not fit.
int HostPath(const char* path, char* hostPath, size_t capacity);
// Rewrites the part of a drive path's host path after its drive's folder (folderLength bytes), as a host
// that spells names otherwise needs (updpack's plan: UTF-8 names, matched without regard to case as on
// Windows). 1, or 0 when the path does not fit. Null (the default, and after a reset): kept as it is.
typedef int (*HostPathResolver)(char* hostPath, size_t capacity, size_t folderLength);
void SetHostPathResolver(HostPathResolver resolver);

// Message boxes: every MessageBoxA call is recorded; answers come from the handler, else the queue,
// else IDOK.
struct RecordedBox {
    HWND owner;
    char text[1024];
    char caption[1024];
    UINT type;
    int answer;
};
typedef int (*BoxHandler)(const RecordedBox& box, int index, void* data);
int BoxCount();
const RecordedBox& Box(int index);
void QueueBoxAnswer(int answer);
void SetBoxHandler(BoxHandler handler, void* data);

} // namespace Standin
