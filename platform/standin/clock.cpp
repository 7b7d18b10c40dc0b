// The host's clock as Windows gives it: FILETIME units (100 ns since 1601-01-01 UTC).
#include "platform/win32.h"

#include <ctime>

void GetSystemTimeAsFileTime(LPFILETIME now) {
    struct timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    uint64_t units = (uint64_t(t.tv_sec) + 11644473600ull) * 10000000ull + uint64_t(t.tv_nsec) / 100;
    now->dwLowDateTime = static_cast<DWORD>(units);
    now->dwHighDateTime = static_cast<DWORD>(units >> 32);
}
