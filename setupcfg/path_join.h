// Appends a name to a folder path with one separator, ending the result with two NULs (a one-item list
// for the shell's file copy).
#pragma once

#include <cstddef>

// Returns 1 when the joined path and its two NULs fit capacity; 0 with the buffer left as it was.
int JoinPath(char* path, size_t capacity, const char* name);
