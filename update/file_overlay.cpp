// The overlay of what earlier items leave (file_overlay.h). Paths are compared as Windows names them:
// without regard to case, a final "\" of a folder aside. Owns its block of entries until EndOverlay.
#include "update/file_overlay.h"

#include "archive/whole_file.h"
#include "platform/text_format.h"
#include "setupcfg/path_join.h"

#include <cstring>

namespace {

enum { FirstCapacity = 16 };

// Bytes of path without a final single-byte "\" (double-byte characters stepped over whole).
size_t PathLength(const char* path) {
    const char* last = nullptr;
    for (const char* p = path; *p; p = CharNextA(p))
        last = p;
    size_t length = strlen(path);
    return last && *last == '\\' && last[1] == '\0' && length > 1 ? length - 1 : length;
}

// Whether the first length bytes of a and b name the same thing, without regard to case.
int SamePrefix(const char* a, const char* b, size_t length) {
    if (length >= MAX_PATH) return 0;
    char left[MAX_PATH], right[MAX_PATH];
    memcpy(left, a, length);
    left[length] = '\0';
    memcpy(right, b, length);
    right[length] = '\0';
    return lstrcmpiA(left, right) == 0;
}

int SamePath(const char* a, const char* b) {
    size_t length = PathLength(a);
    return length == PathLength(b) && strlen(b) >= length && SamePrefix(a, b, length);
}

// When path is folder or lies below it: the rest of path after folder ("" or "\..."), else null.
const char* BelowFolder(const char* path, const char* folder) {
    size_t length = PathLength(folder);
    if (strlen(path) < length || !SamePrefix(path, folder, length)) return nullptr;
    const char* rest = path + length;
    return *rest == '\0' || *rest == '\\' ? rest : nullptr;
}

// The disc's path for a path below a merged tree, or 0 when it does not fit.
int DiscPathOf(const OverlayEntry& tree, const char* rest, char* discPath) {
    if (!CopyText(discPath, MAX_PATH, tree.source)) return 0;
    return *rest == '\0' || JoinPath(discPath, MAX_PATH, rest + 1);
}

OverlayEntry* Add(FileOverlay* overlay, int32_t kind, const char* path, const char* source) {
    if (overlay->count == overlay->capacity) {
        if (overlay->capacity > 0x3FFFFF) return nullptr;
        int32_t capacity = overlay->capacity ? overlay->capacity * 2 : FirstCapacity;
        OverlayEntry* grown =
            static_cast<OverlayEntry*>(GlobalAlloc(GMEM_FIXED, sizeof(OverlayEntry) * size_t(capacity)));
        if (!grown) return nullptr;
        if (overlay->entries) {
            memcpy(grown, overlay->entries, sizeof(OverlayEntry) * size_t(overlay->count));
            GlobalFree(overlay->entries);
        }
        overlay->entries = grown;
        overlay->capacity = capacity;
    }
    OverlayEntry& entry = overlay->entries[overlay->count];
    memset(&entry, 0, sizeof entry);
    entry.kind = kind;
    if (!CopyText(entry.path, sizeof entry.path, path) ||
        !CopyText(entry.source, sizeof entry.source, source))
        return nullptr;
    ++overlay->count;
    return &entry;
}

// The latest entry that speaks for path: a file or folder recorded at path, or a merged tree whose disc
// holds something at path's place. For a tree, discPath is that place on the disc.
const OverlayEntry* Lookup(const FileOverlay* overlay, const char* path, char* discPath) {
    for (int32_t i = overlay->count - 1; i >= 0; --i) {
        const OverlayEntry& entry = overlay->entries[i];
        if (entry.kind != OverlayMergedTree) {
            if (SamePath(entry.path, path)) return &entry;
            continue;
        }
        const char* rest = BelowFolder(path, entry.path);
        if (rest && DiscPathOf(entry, rest, discPath) &&
            GetFileAttributesA(discPath) != INVALID_FILE_ATTRIBUTES)
            return &entry;
    }
    return nullptr;
}

} // namespace

void BeginOverlay(FileOverlay* overlay) {
    overlay->entries = nullptr;
    overlay->count = 0;
    overlay->capacity = 0;
}

void EndOverlay(FileOverlay* overlay) {
    if (overlay->entries) GlobalFree(overlay->entries);
    BeginOverlay(overlay);
}

int OverlayAddFile(FileOverlay* overlay, const char* path, DWORD attributes, uint32_t size,
                   const FILETIME& lastWrite, int32_t content, const char* source) {
    OverlayEntry* entry = Add(overlay, OverlayFile, path, source);
    if (!entry) return 0;
    entry->attributes = attributes;
    entry->size = size;
    entry->lastWrite = lastWrite;
    entry->content = content;
    return 1;
}

int OverlayAddFolder(FileOverlay* overlay, const char* path) {
    return Add(overlay, OverlayFolder, path, "") != nullptr;
}

int OverlayAddMergedTree(FileOverlay* overlay, const char* path, const char* discFolder) {
    return Add(overlay, OverlayMergedTree, path, discFolder) != nullptr;
}

DWORD OverlayAttributes(const FileOverlay* overlay, const char* path) {
    char discPath[MAX_PATH];
    const OverlayEntry* entry = Lookup(overlay, path, discPath);
    if (!entry) return GetFileAttributesA(path);
    if (entry->kind == OverlayFile) return entry->attributes;
    if (entry->kind == OverlayFolder) return FILE_ATTRIBUTE_DIRECTORY;
    return GetFileAttributesA(discPath);
}

int OverlayFolderExists(const FileOverlay* overlay, const char* folder) {
    char path[MAX_PATH];
    size_t length = PathLength(folder);
    if (length >= sizeof path) return 0;
    memcpy(path, folder, length);
    path[length] = '\0';
    DWORD attributes = OverlayAttributes(overlay, path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int OverlayLastWriteTime(const FileOverlay* overlay, const char* path, FILETIME* lastWrite) {
    char discPath[MAX_PATH];
    const OverlayEntry* entry = Lookup(overlay, path, discPath);
    if (entry && entry->kind == OverlayFile) {
        *lastWrite = entry->lastWrite;
        return 1;
    }
    if (entry && entry->kind == OverlayFolder) return 0;
    return ReadLastWriteTime(entry ? discPath : path, lastWrite);
}

int OverlayWrittenFile(const FileOverlay* overlay, const char* path, int32_t* content, char* source,
                       uint32_t* size) {
    char discPath[MAX_PATH];
    const OverlayEntry* entry = Lookup(overlay, path, discPath);
    if (!entry || entry->kind == OverlayFolder) return 0;
    if (entry->kind == OverlayFile) {
        *content = entry->content;
        *size = entry->size;
        return CopyText(source, MAX_PATH, entry->source);
    }
    *content = ContentOfFile;
    *size = 0;
    return CopyText(source, MAX_PATH, discPath);
}
