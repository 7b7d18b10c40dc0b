// The fault seam of the Linux host layer: every operating-system call that the updater's file work makes
// (files, folders, searches, free space, memory, temporary names, and the shell's copy of tests/fakes) is
// announced to one table of hooks before it runs, and the hook may make it fail as Windows fails it. This
// is for the tests' fault sweep: a run is made once to count its calls, then once per call N with call N
// failing (tests/fakes/fault_script.h), to show that every failure the updater can meet ends cleanly.
// What ships (updpack) never sets the table: every call then runs as it is.
#pragma once

#include "platform/win32.h"

namespace Standin {

enum HostCallKind {
    HostCreateFile,      // CreateFileA
    HostReadFile,        // ReadFile
    HostWriteFile,       // WriteFile
    HostFlushFile,       // FlushFileBuffers
    HostCloseHandle,     // CloseHandle (fails, but closes the handle all the same)
    HostSetFilePointer,  // SetFilePointer
    HostGetFileSize,     // GetFileSize
    HostGetFileTime,     // GetFileTime
    HostSetFileTime,     // SetFileTime
    HostGetAttributes,   // GetFileAttributesA
    HostSetAttributes,   // SetFileAttributesA
    HostCreateFolder,    // CreateDirectoryA
    HostRemoveFolder,    // RemoveDirectoryA
    HostDeleteFile,      // DeleteFileA
    HostMoveFile,        // MoveFileExA
    HostFindFirst,       // FindFirstFileA
    HostFindNext,        // FindNextFileA (fails with the hook's code, never ERROR_NO_MORE_FILES)
    HostFindClose,       // FindClose (fails, but ends the search all the same)
    HostDiskFreeSpace,   // GetDiskFreeSpaceA
    HostDiskFreeSpaceEx, // GetDiskFreeSpaceExA, as GetProcAddress hands it out
    HostGlobalAlloc,     // GlobalAlloc
    HostTempPath,        // GetTempPathA
    HostTempFileName,    // GetTempFileNameA (one call, the file it makes included)
    HostShellCopy,       // SHFileOperationA (tests/fakes/shell.cpp; one call, its own file work included)
    HostCallKindCount
};

// One call as the hooks see it.
struct HostCall {
    HostCallKind kind;
    // The path as the caller named it: CreateFileA's, the folder or file of a path call, the pattern of a
    // search, the root of a free-space query, GetTempFileNameA's folder, the shell copy's first source. A
    // call on a handle gives the path the handle was opened with (CreateFileA, FindFirstFileA). Null for
    // GlobalAlloc and GetTempPathA.
    const char* path;
    // MoveFileExA's destination, the shell copy's destination; null otherwise.
    const char* secondPath;
    // MoveFileExA's flags (MOVEFILE_WRITE_THROUGH ...), CreateFileA's access (GENERIC_WRITE ...),
    // SetFileAttributesA's attributes, GlobalAlloc's flags, the shell operation's wFunc; 0 otherwise.
    DWORD flags;
    // CloseHandle: the handle has writes not flushed since its last FlushFileBuffers.
    bool unflushedWrites;
};

struct HostHooks {
    // Called before each call. 0 lets it run; an error code makes it fail without touching anything, with
    // the value Windows gives on failure (INVALID_HANDLE_VALUE, FALSE, INVALID_FILE_ATTRIBUTES, null, 0,
    // a shell result that is not 0) and GetLastError giving the code.
    DWORD (*before)(const HostCall& call);
    // Called after each call that ran (not one the hook failed): whether it succeeded. May be null.
    void (*after)(const HostCall& call, bool succeeded);
    // The shell's copy behind SHFileOperationA. Null: the host has no shell, and every copy fails.
    int (*shellCopy)(LPSHFILEOPSTRUCTA operation);
};

// The table in use; null (what ships) for none. Nothing in platform/ sets it.
void SetHostHooks(const HostHooks* hooks);

} // namespace Standin
