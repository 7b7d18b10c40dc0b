// The archive carried in the resource: loading its header and directory, finding entries without regard
// to case, handing out their bytes, and writing an entry to a file under the overwrite policy. Works on
// Updater.ArchiveImage and Updater.ArchiveDirectory.
#pragma once

#include "context/archive_format.h"
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

// Where the next entry's data begin after those of entry at dataOffset (the first at ArchiveHeaderSize):
// each entry's stored bytes are padded to 16. Walked in 64 bits, so that a damaged directory cannot wrap
// it back into the image.
uint64_t NextEntryDataOffset(uint64_t dataOffset, const ArchiveEntry& entry);

// The checks every reader makes before it takes an entry's data from an image of imageSize bytes: they lie
// inside the data area (before the directory and inside the image), and a compressed entry claims no more
// than its stream can decode to.
enum EntryDataFault { EntryDataSound, EntryDataOutside, EntryDataOverclaimed };
EntryDataFault CheckEntryData(const ArchiveHeader& header, uint32_t imageSize, const ArchiveEntry& entry,
                              uint64_t dataOffset);

// The patch entry named name (without regard to case), without a message: its patch bytes in the image
// (not to be released) and its record, or null when the archive carries no patch of that name or its bytes
// do not lie in the data area. Entries of the other forms are looked up by the routines below, which never
// take a patch for a file's content.
const ArchiveEntry* FindPatchEntry(const char* name, const unsigned char** patch);

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

// The write's decision against a target whose state the caller knows (as the items before it leave it):
// targetAttributes (INVALID_FILE_ATTRIBUTES when nothing is there) and its last-write time (null when it
// cannot be had: never later). The lookup, the free-space check for the entry alone and their messages,
// the refusal of a folder in the way (no message), and the time rule; nothing is read or written.
struct EntryWrite {
    uint32_t size;
    FILETIME fileTime; // the entry's
    int32_t keep;      // 1 when the file there stays (checkTime, and it is later)
};
inline int DecideEntryWrite(const char* targetPath, const char* name, int checkTime, DWORD targetAttributes,
                            const FILETIME* targetTime, EntryWrite* write);

// DecideEntryWrite for the patch entry named name (FindPatchEntry): the same checks over the result's size
// and time. 0 when there is none, silently, or after the free-space check's message.
inline int DecidePatchWrite(const char* targetPath, const char* name, int checkTime, DWORD targetAttributes,
                            const FILETIME* targetTime, EntryWrite* write);

// What the two share: DecideEntryWrite (patch 0) or DecidePatchWrite (patch 1). They call it in line rather
// than through wrappers, which in the 32-bit updater take more room than the routine's own checks.
int DecideWrite(int patch, const char* targetPath, const char* name, int checkTime, DWORD targetAttributes,
                const FILETIME* targetTime, EntryWrite* write);
inline int DecideEntryWrite(const char* targetPath, const char* name, int checkTime, DWORD targetAttributes,
                            const FILETIME* targetTime, EntryWrite* write) {
    return DecideWrite(0, targetPath, name, checkTime, targetAttributes, targetTime, write);
}
inline int DecidePatchWrite(const char* targetPath, const char* name, int checkTime, DWORD targetAttributes,
                            const FILETIME* targetTime, EntryWrite* write) {
    return DecideWrite(1, targetPath, name, checkTime, targetAttributes, targetTime, write);
}

// Whether the archive carries the whole file named name beside a patch of it (updpack build --keep-whole),
// asked without a message.
int CarriesWholeEntry(const char* name);
