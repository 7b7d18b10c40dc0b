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
    // Days since 1601-01-01 to a civil date, counted in 400-year eras from 1600-03-01 so that the leap
    // day ends each counted year; the same on every host, whatever its time_t and calendar routines.
    uint64_t seconds = fileTime / UnitsPerSecond;
    uint64_t days = seconds / 86400 + 306; // 1601-01-01 is day 306 (from 0) of the year from 1600-03-01
    unsigned secondOfDay = static_cast<unsigned>(seconds % 86400);
    uint64_t era = days / 146097;
    unsigned dayOfEra = static_cast<unsigned>(days % 146097);
    unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    unsigned monthIndex = (5 * dayOfYear + 2) / 153; // 0 is March
    unsigned day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    unsigned month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    uint64_t year = 1600 + era * 400 + yearOfEra + (month <= 2 ? 1 : 0);
    FormatText(text, capacity, "%04llu-%02u-%02u %02u:%02u:%02u", static_cast<unsigned long long>(year),
               month, day, secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60);
}

uint64_t EntryFileTime(const ArchiveEntry& entry) {
    return (static_cast<uint64_t>(entry.fileTime.dwHighDateTime) << 32) | entry.fileTime.dwLowDateTime;
}
