// Scanner of comma-separated list values shared with the installer. A token may start with a one-character
// disk prefix ("1:data.bin"); the prefix's number stays in Updater.CurrentDisk until the next prefix, so a
// caller that records disks clears it before its list.
#include "setupcfg/token_scanner.h"

#include "context/updater_context.h"

int IsBlank(unsigned char c) {
    return c == '\t' || c == ' ';
}

int IsTokenEnd(unsigned char c) {
    return c == '\0' || c == '\n' || c == '\r' || c == ',';
}

int NextToken(char* destination, size_t capacity, const char** cursor, int* cut) {
    if (cut) *cut = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(*cursor);
    while (IsBlank(*p))
        ++p;
    if (IsTokenEnd(*p)) {
        *cursor = reinterpret_cast<const char*>(p);
        return 0;
    }
    // *p is not NUL here, so p[1] is still inside the text. Trail bytes of code page 932 are never ':'.
    if (p[1] == ':') {
        Updater.CurrentDisk = *p >= '0' && *p <= '9' ? *p - '0' : 0;
        p += 2;
    }
    size_t length = 0;
    for (; !IsTokenEnd(*p); ++p) {
        if (length + 1 < capacity) {
            destination[length++] = static_cast<char>(*p);
        } else if (cut) {
            *cut = 1;
        }
    }
    if (capacity > 0) destination[length] = '\0';
    if (*p != '\0') ++p; // past the line feed, carriage return or comma that ended the token
    *cursor = reinterpret_cast<const char*>(p);
    return 1;
}
