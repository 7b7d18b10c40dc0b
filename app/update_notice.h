// The optional update notice of "UPDATE.INI", shown once before the installation checks.
#pragma once

#include <cstddef>

// Copies the notice into output (capacity bytes, always NUL-terminated), turning each single-byte "\"
// followed by "n" into one carriage return. Double-byte characters are copied whole, so a trail byte
// 0x5C never starts an escape.
void ConvertUpdateNotice(const char* text, char* output, size_t capacity);
// Shows Updater.UpdateMessage, converted, as an error box; nothing when it is empty.
void ShowUpdateNotice();
