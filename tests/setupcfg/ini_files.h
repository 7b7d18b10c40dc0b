// Helpers of the configuration tests: INI files written into the temporary folder through the same calls in
// both builds, so a test can hand the real or the stand-in reader a file of its own.
#pragma once

#include <cstddef>

// Writes text as the whole file; 1 on success.
int WriteTextFile(const char* path, const char* text);

// A unique base name in the temporary folder (GetTempFileNameA creates it); numbered files are named after
// it. The real reader caches files by name and time stamp, so every distinct text gets a name of its own.
struct TempFiles {
    char base[260];
    int next;
};
int OpenTempFiles(TempFiles* files);
// Writes text into the next numbered file and puts its name into path; 1 on success.
int WriteNextFile(TempFiles* files, const char* text, char* path, size_t capacity);
// Name of the next numbered file without writing it (a file that does not exist).
void NextFileName(TempFiles* files, char* path, size_t capacity);
void CloseTempFiles(TempFiles* files);
