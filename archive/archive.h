// The archive carried in the resource: loading its header and directory, finding entries without regard
// to case, handing out their bytes, and writing an entry to a file under the overwrite policy. Works on
// Updater.ArchiveImage and Updater.ArchiveDirectory.
#pragma once

#include "archive/archive_format.h"
#include "platform/win32.h"

#include <cstdint>

// Where LoadArchive reads from: a memory image (the updater's resource), or a file (header and directory
// only; entry data are read from a memory image alone).
struct ArchiveSource {
    const unsigned char* image;
    uint32_t imageSize;
    const char* path; // used when image is null
};

// Returns a GlobalAlloc block of the header and the plain directory, or null (no message).
unsigned char* LoadArchive(const ArchiveSource& source);

// The entry's content: a pointer into the image for an entry stored as is (not to be released), or a new
// GlobalAlloc buffer for a compressed one (the caller releases it; ArchiveDataIsOwned tells which).
// Null after a message. sizeOut may be null.
unsigned char* FindEntryData(const char* name, uint32_t* sizeOut);
int ArchiveDataIsOwned(const unsigned char* data);

// Writes the entry to targetPath (free-space check, no folder replaced, read-only cleared, with
// checkTime 1 a later file on disk is kept), stamped with the entry's time. 1 on success.
int ExtractEntry(const char* targetPath, const char* name, int checkTime);

// The first half of ExtractEntry, for an update that replaces nothing until every file is ready: the same
// checks and messages, and the entry's content written complete into a new file beside targetPath (its
// name in prepared, MAX_PATH bytes) stamped with the entry's time, also returned in fileTime. prepared
// stays empty when the file on disk is kept (checkTime 1, later). The target is not touched. 1 or 0.
int PrepareEntry(const char* targetPath, const char* name, int checkTime, char* prepared, FILETIME* fileTime);

// PrepareEntry's decision alone, writing nothing: the same lookup, checks and messages. 1 with *keep 1 when
// the file on disk would stay and the entry's size in *size (may be null); 0 after the message.
int CheckEntryWrite(const char* targetPath, const char* name, int checkTime, int* keep, uint32_t* size);

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

// Free bytes for the caller, total bytes and total free bytes of the drive named by root. totalFree may
// be null. Nonzero on success.
int QueryDiskSpace(const char* root, ULARGE_INTEGER* freeToCaller, ULARGE_INTEGER* totalBytes,
                   ULARGE_INTEGER* totalFree);

// The whole file in a new GlobalAlloc buffer (the caller releases it), or null. sizeOut may be null.
unsigned char* ReadWholeFile(const char* path, uint32_t* sizeOut);

// Replaces the file at path with size bytes of data and, when fileTime is given, stamps all three times.
// The data go through a temporary file in the same folder, flushed before it replaces the target, so a
// failed or killed write leaves the old file whole; the temporary name is the target's with ".~up" and a
// hex digit, or "~" and a hex digit where that passes 259 bytes (a folder of 258 bytes leaves room for
// neither: written in place). A read-only target or a path of more than 259 bytes is refused. 1 or 0.
int WriteWholeFile(const char* path, const void* data, uint32_t size, const FILETIME* fileTime);
