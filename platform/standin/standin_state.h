// Internals of the Linux host layer, shared by its files and by the tests' fakes (tests/fakes), which
// script drive types and free space over the same drive table.
#pragma once

#include "platform/standin/host_hooks.h"
#include "platform/win32.h"

#include <cstddef>
#include <cstdint>

namespace Standin {

struct DriveMapping {
    bool mapped;
    bool hasFolder;
    char folder[1024];
    UINT type;
    bool hasFreeSpace; // set by a test: reported instead of the host's figure
    uint64_t freeBytes;
};
// The drive of a path "X:..." (either case), null for any other path.
DriveMapping* DriveOf(const char* path);
// What the tests' fakes script over the host layer; all empty in a host program.
struct HostScript {
    bool extendedQueryHidden;                    // GetProcAddress does not find "GetDiskFreeSpaceExA"
    FARPROC (*moreProcedures)(const char* name); // further kernel32 procedures, null for a name not theirs
};
HostScript& Script();
// Sets what GetLastError returns and gives FALSE.
BOOL FailWith(DWORD error);
// The hooks of host_hooks.h around one call: the code the call must fail with (GetLastError then gives
// it), 0 when it runs; then, for a call that ran, whether it succeeded.
DWORD BeforeHostCall(const HostCall& call);
void AfterHostCall(const HostCall& call, bool succeeded);
// The shell's copy the hooks give, or null.
int (*ShellCopyOfHooks())(LPSHFILEOPSTRUCTA);
void CopyHostText(char* destination, size_t capacity, const char* source);

} // namespace Standin
