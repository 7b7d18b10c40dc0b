// File times between the host (seconds and nanoseconds since 1970) and the archive (FILETIME: 100 ns units
// since 1601-01-01 UTC, kept here as one 64-bit number). The host's nanoseconds are cut to 100 ns.
#include "tools/updpack/updpack.h"

#include "platform/text_format.h"

namespace {
const int64_t UnitsPerSecond = 10000000;
const int64_t SecondsFrom1601To1970 = 11644473600;
} // namespace

int FileTimeFromHost(const timespec& time, uint64_t* fileTime) {
    // Before 1601 there is no FILETIME; far in the future the 64 bits run out.
    const int64_t latestSecond =
        static_cast<int64_t>(UINT64_MAX / UnitsPerSecond) - SecondsFrom1601To1970 - 1;
    if (time.tv_sec < -SecondsFrom1601To1970 || time.tv_sec > latestSecond) return 0;
    *fileTime = static_cast<uint64_t>(time.tv_sec + SecondsFrom1601To1970) * UnitsPerSecond +
                static_cast<uint64_t>(time.tv_nsec / 100);
    return 1;
}

timespec HostTimeFromFileTime(uint64_t fileTime) {
    timespec time;
    time.tv_sec = static_cast<time_t>(fileTime / UnitsPerSecond) - SecondsFrom1601To1970;
    time.tv_nsec = static_cast<long>(fileTime % UnitsPerSecond) * 100;
    return time;
}

void FormatFileTime(uint64_t fileTime, char* text, size_t capacity) {
    timespec time = HostTimeFromFileTime(fileTime);
    tm parts;
    if (!gmtime_r(&time.tv_sec, &parts)) {
        FormatText(text, capacity, "(FILETIME %llu)", static_cast<unsigned long long>(fileTime));
        return;
    }
    FormatText(text, capacity, "%04d-%02d-%02d %02d:%02d:%02d", parts.tm_year + 1900, parts.tm_mon + 1,
               parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
}

uint64_t EntryFileTime(const ArchiveEntry& entry) {
    return (static_cast<uint64_t>(entry.fileTime.dwHighDateTime) << 32) | entry.fileTime.dwLowDateTime;
}
