// Path join shared with the installer: folder, one separator when the folder does not already end in one,
// the name, and two NULs so that the result is also a one-item list for the shell's file copy.
#include "setupcfg/path_join.h"

#include <cstring>

int JoinPath(char* path, size_t capacity, const char* name) {
    size_t length = strnlen(path, capacity);
    if (length == capacity) return 0; // not a terminated text within its own buffer
    // The test is on the final byte alone, even when that byte is the trail byte (0x5C) of a double-byte
    // character: the installer joins with this very rule, so folders it laid out are found by the same rule.
    size_t separator = length > 0 && path[length - 1] != '\\' && path[length - 1] != '/' ? 1 : 0;
    size_t nameLength = strlen(name);
    if (length + separator + nameLength + 2 > capacity) return 0;
    if (separator) path[length++] = '\\';
    memcpy(path + length, name, nameLength);
    length += nameLength;
    path[length] = '\0';
    path[length + 1] = '\0';
    return 1;
}
