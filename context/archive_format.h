// Byte layout of the archive that the updater carries as its "UPDATE" resource: a 16-byte header, the
// entries' data from offset 16 (each padded to a multiple of 16), and a directory of 280-byte records at
// directoryOffset, plain or as one compressed stream running to the end of the image. Little-endian.
#pragma once

#include "platform/win32.h"

#include <cstdint>

enum : uint32_t {
    ArchiveHeaderSize = 16,
    ArchiveEntrySize = 280,
    ArchiveNameCapacity = 260,
    ArchiveDirectoryCompressed = 1, // header flags bit 0
    ArchiveEntryStored = 1,         // entry flags as the packer writes them
    ArchiveEntryCompressed = 2,     // entry flags bit 1: data are one compressed stream
    ArchiveEntryPatch = 4,          // entry flags bit 2: data are a patch against the installed file
                                    // (archive/patch_format.h); size is the result's. A whole entry of
                                    // the same name, when the archive also carries one, comes before it.
};

struct ArchiveHeader {
    char magic[4]; // "KT2" and a zero byte; the memory source does not examine it
    uint32_t flags;
    uint32_t directoryOffset; // from the start of the image
    uint32_t entryCount;
};

struct ArchiveEntry {
    char name[ArchiveNameCapacity]; // NUL-terminated, code page 932, zero-filled after the NUL
    uint32_t flags;
    FILETIME fileTime;   // last-write time of the packed file
    uint32_t size;       // content length after decoding
    uint32_t storedSize; // bytes in the data area before padding
};

static_assert(sizeof(ArchiveHeader) == ArchiveHeaderSize, "header layout");
static_assert(sizeof(ArchiveEntry) == ArchiveEntrySize, "entry layout");
