// The host layer's drives and kernel32: a drive's type is the one its mapping gave, its free space the host
// file system's (or what a test set in the mapping), and kernel32 is the one module, handing out the
// extended free-space query by name. The fakes of the tests add procedures and hide the query through
// Standin::Script (standin_state.h); a host program leaves that empty. Both free-space queries are
// announced to the fault seam's hooks (host_hooks.h).
#include "platform/standin/standin_state.h"

#include <cstring>
#include <strings.h>
#include <sys/statvfs.h>

namespace {
Standin::HostScript script;
} // namespace

Standin::HostScript& Standin::Script() {
    return script;
}

UINT GetDriveTypeA(LPCSTR root) {
    Standin::DriveMapping* drive = Standin::DriveOf(root);
    if (!drive || !drive->mapped) return DRIVE_NO_ROOT_DIR;
    if (root[2] != '\0' && !(root[2] == '\\' && root[3] == '\0')) return DRIVE_NO_ROOT_DIR;
    return drive->type;
}

static BOOL FreeSpaceOf(LPCSTR root, uint64_t* freeBytes, uint64_t* totalBytes) {
    Standin::DriveMapping* drive = Standin::DriveOf(root);
    if (!drive || !drive->mapped || !drive->hasFolder) return Standin::FailWith(3);
    struct statvfs info;
    if (statvfs(drive->folder, &info) != 0) return Standin::FailWith(3);
    *totalBytes = static_cast<uint64_t>(info.f_blocks) * info.f_frsize;
    *freeBytes =
        drive->hasFreeSpace ? drive->freeBytes : static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
    return TRUE;
}

BOOL GetDiskFreeSpaceA(LPCSTR root, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector, LPDWORD freeClusters,
                       LPDWORD totalClusters) {
    Standin::HostCall call = {Standin::HostDiskFreeSpace, root, nullptr, 0, false};
    if (Standin::BeforeHostCall(call)) return FALSE;
    uint64_t freeBytes = 0, totalBytes = 0;
    BOOL known = FreeSpaceOf(root, &freeBytes, &totalBytes);
    Standin::AfterHostCall(call, known);
    if (!known) return FALSE;
    // Reported as 512-byte clusters of one sector; counts saturate as the real call's do.
    uint64_t freeCount = freeBytes / 512, totalCount = totalBytes / 512;
    *sectorsPerCluster = 1;
    *bytesPerSector = 512;
    *freeClusters = freeCount > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(freeCount);
    *totalClusters = totalCount > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(totalCount);
    return TRUE;
}

namespace {
BOOL WINAPI StandinGetDiskFreeSpaceExA(LPCSTR root, PULARGE_INTEGER freeToCaller, PULARGE_INTEGER totalBytes,
                                       PULARGE_INTEGER totalFree) {
    Standin::HostCall call = {Standin::HostDiskFreeSpaceEx, root, nullptr, 0, false};
    if (Standin::BeforeHostCall(call)) return FALSE;
    uint64_t freeBytes = 0, total = 0;
    BOOL known = FreeSpaceOf(root, &freeBytes, &total);
    Standin::AfterHostCall(call, known);
    if (!known) return FALSE;
    if (freeToCaller) freeToCaller->QuadPart = freeBytes;
    if (totalBytes) totalBytes->QuadPart = total;
    if (totalFree) totalFree->QuadPart = freeBytes;
    return TRUE;
}
} // namespace

static StandinModule* const Kernel32 = reinterpret_cast<StandinModule*>(static_cast<uintptr_t>(0x4B3200));

HMODULE LoadLibraryA(LPCSTR name) {
    if (strcasecmp(name, "kernel32.dll") != 0 && strcasecmp(name, "kernel32") != 0) return nullptr;
    return Kernel32;
}

HMODULE GetModuleHandleA(LPCSTR name) {
    if (!name || (strcasecmp(name, "kernel32.dll") != 0 && strcasecmp(name, "kernel32") != 0)) return nullptr;
    return Kernel32;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    if (module != Kernel32) return nullptr;
    if (script.moreProcedures)
        if (FARPROC procedure = script.moreProcedures(name)) return procedure;
    if (script.extendedQueryHidden || strcmp(name, "GetDiskFreeSpaceExA") != 0) return nullptr;
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&StandinGetDiskFreeSpaceExA));
}

BOOL FreeLibrary(HMODULE module) {
    return module == Kernel32;
}
