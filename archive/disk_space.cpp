// The free space of a drive: GetDiskFreeSpaceExA where the system has it (looked up by name, as systems
// without it exist), else GetDiskFreeSpaceA. Owns the kept address of the extended query.
#include "archive/archive_internal.h"
#include "archive/disk_space.h"

#include <cstdint>

namespace {

typedef BOOL(WINAPI* DiskFreeSpaceExFunction)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);

// Resolved by the first QueryDiskSpace that finds it; null until then (and the lookup is retried).
DiskFreeSpaceExFunction ExtendedFreeSpaceQuery = nullptr;

} // namespace

void ForgetExtendedFreeSpaceQuery() {
    ExtendedFreeSpaceQuery = nullptr;
}

int QueryDiskSpace(const char* root, ULARGE_INTEGER* freeToCaller, ULARGE_INTEGER* totalBytes,
                   ULARGE_INTEGER* totalFree) {
    if (!ExtendedFreeSpaceQuery) {
        HMODULE kernel = LoadLibraryA("kernel32.dll");
        if (kernel) {
            FARPROC address = GetProcAddress(kernel, "GetDiskFreeSpaceExA");
            ExtendedFreeSpaceQuery =
                reinterpret_cast<DiskFreeSpaceExFunction>(reinterpret_cast<void*>(address));
            // kernel32 stays loaded in every process; only this call's reference is given back.
            FreeLibrary(kernel);
        }
    }
    if (ExtendedFreeSpaceQuery) {
        BOOL result = ExtendedFreeSpaceQuery(root, freeToCaller, totalBytes, totalFree);
        if (result) return result;
    }
    DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
    BOOL result = GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters);
    if (!result) return 0;
    uint32_t bytesPerCluster = sectorsPerCluster * bytesPerSector;
    freeToCaller->QuadPart = uint64_t(freeClusters) * bytesPerCluster;
    totalBytes->QuadPart = uint64_t(totalClusters) * bytesPerCluster;
    if (totalFree) totalFree->QuadPart = freeToCaller->QuadPart;
    return result;
}
