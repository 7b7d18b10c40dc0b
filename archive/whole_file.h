// Whole files on disk: read whole, replaced whole through a flushed file beside them, or prepared beside
// their target for a commit that moves them in later; and the free names beside a file.
#pragma once

#include "platform/win32.h"

#include <cstdint>

// Writes size bytes of data into a new file beside path under the temporary name of WriteWholeFile, flushed
// and, when fileTime is given, stamped; its name in prepared (MAX_PATH bytes). path is not touched. 1, or 0
// with nothing left behind.
int PrepareWholeFile(const char* path, const void* data, uint32_t size, const FILETIME* fileTime,
                     char* prepared);

// Free names beside path (MAX_PATH bytes): for a prepared file, the temporary name of WriteWholeFile; for
// the old file that a commit moves aside, the target's name with ".~bk" and a hex digit, or "~b" and a
// hex digit where that passes 259 bytes. 0 when none is free.
int FreePreparedName(const char* path, char* prepared);
int FreeBackupName(const char* path, char* backup);

// Sets all three times of the file. 1 or 0.
int StampFileTimes(const char* path, const FILETIME* fileTime);

// The whole file in a new GlobalAlloc buffer (the caller releases it), or null. sizeOut may be null.
unsigned char* ReadWholeFile(const char* path, uint32_t* sizeOut);

// Replaces the file at path with size bytes of data and, when fileTime is given, stamps all three times.
// The data go through a temporary file in the same folder, flushed before it replaces the target, so a
// failed or killed write leaves the old file whole; the temporary name is the target's with ".~up" and a
// hex digit, or "~" and a hex digit where that passes 259 bytes (a folder of 258 bytes leaves room for
// neither: written in place). A read-only target or a path of more than 259 bytes is refused. 1 or 0.
int WriteWholeFile(const char* path, const void* data, uint32_t size, const FILETIME* fileTime);

// WriteWholeFile's replace, which with clearReadOnly also replaces a read-only target (made writable only
// just before it is replaced, so that a write that fails before leaves it as it was).
int ReplaceWholeFile(const char* path, const void* data, uint32_t size, const FILETIME* fileTime,
                     int clearReadOnly);

// The file's last-write time. 0 when the file cannot be opened or its time read.
int ReadLastWriteTime(const char* path, FILETIME* lastWrite);
// 1 when a is later than b (compared as 64-bit numbers, high words first).
int IsLaterTime(const FILETIME& a, const FILETIME& b);

// Whether attributes, just returned by GetFileAttributesA, say that nothing is there: the query failed
// because no such file or folder exists. A query that failed otherwise (access, sharing, the device)
// leaves unknown what is there, and nothing may then be written over it as if it were missing. Given
// INVALID_FILE_ATTRIBUTES right after another call failed, tells whether that one found nothing there.
int NothingThere(DWORD attributes);
