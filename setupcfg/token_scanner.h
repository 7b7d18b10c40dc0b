// Scanner of comma-separated list values with an optional one-character disk prefix ("1:data.bin").
#pragma once

#include <cstddef>

int IsBlank(unsigned char c);
int IsTokenEnd(unsigned char c);

// Scans the next token at *cursor into destination (capacity bytes). Returns 1 and the token, or 0 when
// no token starts at the cursor. A token longer than capacity - 1 is cut there and *cut (may be null)
// becomes 1; otherwise 0. May set Updater.CurrentDisk from a disk prefix.
int NextToken(char* destination, size_t capacity, const char** cursor, int* cut);
