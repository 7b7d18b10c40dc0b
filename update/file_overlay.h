// What the files of the installation will be once the items decided so far are in place, seen through
// the disk. The update decides each item against the state the earlier items leave, while nothing has
// been written yet (the run prepares beside the targets and commits at the end; the publisher's plan
// writes nothing at all), so every question an item's rules ask of a path goes through here: what an
// earlier item writes, creates or merges answers first, the disk answers the rest.
#pragma once

#include "platform/win32.h"

#include <cstdint>

enum OverlayKind : int32_t {
    OverlayFile = 0,       // a file an earlier item writes
    OverlayFolder = 1,     // a folder an earlier item creates
    OverlayMergedTree = 2, // a disc folder merged over path: whatever the disc holds below it
};

// Where the content of a written file comes from, for a data rule that keeps it.
enum OverlayContent : int32_t {
    ContentOfFile = 0,  // the file at source (the installed file itself, or a disc's file)
    ContentOfEntry = 1, // the archive entry named source
    ContentOfPatch = 2, // the patch entry named source applied to the file there: had only once prepared
};

struct OverlayEntry {
    int32_t kind;       // an OverlayKind
    int32_t content;    // OverlayFile: an OverlayContent
    DWORD attributes;   // OverlayFile: the attributes it ends with
    uint32_t size;      // OverlayFile: its bytes
    FILETIME lastWrite; // OverlayFile: its last-write time
    char path[MAX_PATH];
    char source[MAX_PATH]; // OverlayFile: see content; OverlayMergedTree: the disc folder merged
};

// A run of entries in one global-memory block that grows: a disc path may hold any number of folders.
// Later entries answer first.
struct FileOverlay {
    OverlayEntry* entries;
    int32_t count;
    int32_t capacity;
};

void BeginOverlay(FileOverlay* overlay);
void EndOverlay(FileOverlay* overlay);

// Records what an item leaves at path. 0 when the record cannot grow or a path does not fit.
int OverlayAddFile(FileOverlay* overlay, const char* path, DWORD attributes, uint32_t size,
                   const FILETIME& lastWrite, int32_t content, const char* source);
int OverlayAddFolder(FileOverlay* overlay, const char* path);
int OverlayAddMergedTree(FileOverlay* overlay, const char* path, const char* discFolder);

// GetFileAttributesA of path as the earlier items leave it.
DWORD OverlayAttributes(const FileOverlay* overlay, const char* path);
// Whether the folder is there afterwards: a path ending in "\" names the folder before it.
int OverlayFolderExists(const FileOverlay* overlay, const char* folder);
// The last-write time of the file at path. 0 when it cannot be had (no file, or it cannot be read).
int OverlayLastWriteTime(const FileOverlay* overlay, const char* path, FILETIME* lastWrite);
// The written file an earlier item leaves at path: 1 with where its content comes from (*content, source
// of MAX_PATH bytes) and its size; 0 when path is as the disk holds it.
int OverlayWrittenFile(const FileOverlay* overlay, const char* path, int32_t* content, char* source,
                       uint32_t* size);
