// What tests control and read of the Linux stand-in: the host layer's drives (with their types) and
// temporary folder (platform/standin/host_files.h), and the scripted fakes of tests/fakes: free space, the
// DLL search, the message box recorder and its answers. Windows, registry and the shell's copy have their
// own script headers.
#pragma once

#include "platform/standin/host_files.h"
#include "platform/win32.h"

namespace Standin {

// Clears every scripted state of the stand-in (drives, boxes, answers, registry, windows, shell, DLL search,
// and the fault script of fault_script.h).
void ResetAll();

// Free bytes reported for a drive; without it the host file system's figures are used.
void SetFreeSpace(char letter, uint64_t freeBytes);
// Whether GetProcAddress finds "GetDiskFreeSpaceExA" (the fallback query is used otherwise).
void SetExtendedFreeSpaceQuery(bool available);
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
