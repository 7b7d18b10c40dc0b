// Bounded formatting for every message, key name and path built from a format: the output is always
// NUL-terminated and cut at the capacity, whatever the arguments.
#pragma once

#include <cstddef>

// Returns 1 when the whole text fitted, 0 when it was cut (or the capacity is 0).
int FormatText(char* destination, size_t capacity, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
int FormatTextV(char* destination, size_t capacity, const char* format, __builtin_va_list arguments);

// Copies source into destination of the given capacity; 1 when it fitted, 0 when it was cut.
int CopyText(char* destination, size_t capacity, const char* source);
