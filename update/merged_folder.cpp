// Merging a staged folder into the installation. The journal is a run of steps in one global-memory
// block, each [offset of the step before it, plus 1 (0: none)][kind]["path" NUL]["backup" NUL]; walked
// backwards from a change's latest step, it undoes the merge. A folder on a disc can hold any number of
// files, so the record's fixed changes cannot hold them one by one.
#include "update/merged_folder.h"

#include "archive/whole_file.h"
#include "platform/text_format.h"
#include "update/staged_update.h"

#include <cstring>

namespace {

enum StepKind : unsigned char {
    StepFileMovedIn = 'F',   // path: the file moved in; backup: the old file aside, or empty
    StepFolderCreated = 'D', // path: a folder the merge made
};

const DWORD MoveDurably = MOVEFILE_WRITE_THROUGH;

int ReserveJournal(StagedUpdate* update, uint32_t bytes) {
    if (bytes > 0x7FFFFFFFu - update->journalSize) return 0;
    uint32_t needed = update->journalSize + bytes;
    if (needed <= update->journalCapacity) return 1;
    uint32_t capacity = update->journalCapacity ? update->journalCapacity : 4096;
    while (capacity < needed)
        capacity = capacity <= 0x3FFFFFFFu ? capacity * 2 : needed;
    unsigned char* grown = static_cast<unsigned char*>(GlobalAlloc(GMEM_FIXED, capacity));
    if (!grown) return 0;
    if (update->mergeJournal) {
        memcpy(grown, update->mergeJournal, update->journalSize);
        GlobalFree(update->mergeJournal);
    }
    update->mergeJournal = grown;
    update->journalCapacity = capacity;
    return 1;
}

int AddStep(StagedUpdate* update, StagedChange& change, StepKind kind, const char* path, const char* backup) {
    uint32_t pathBytes = static_cast<uint32_t>(strlen(path)) + 1;
    uint32_t backupBytes = static_cast<uint32_t>(strlen(backup)) + 1;
    if (!ReserveJournal(update, 5 + pathBytes + backupBytes)) return 0;
    unsigned char* step = update->mergeJournal + update->journalSize;
    uint32_t previous = change.latestStep;
    memcpy(step, &previous, 4);
    step[4] = kind;
    memcpy(step + 5, path, pathBytes);
    memcpy(step + 5 + pathBytes, backup, backupBytes);
    change.latestStep = update->journalSize + 1;
    update->journalSize += 5 + pathBytes + backupBytes;
    return 1;
}

// Reads the step at offset + 1 = entry; returns the entry of the change's step before it, 0 at its first.
uint32_t ReadStep(const StagedUpdate* update, uint32_t entry, StepKind* kind, const char** path,
                  const char** backup) {
    const unsigned char* step = update->mergeJournal + (entry - 1);
    uint32_t previous;
    memcpy(&previous, step, 4);
    *kind = static_cast<StepKind>(step[4]);
    *path = reinterpret_cast<const char*>(step + 5);
    *backup = *path + strlen(*path) + 1;
    return previous;
}

// folder, "\" unless its last character is one, and name. Unlike the plan's joins, a name from a listing
// may end in a double-byte character whose trail byte is "\", so the last character is found whole.
int JoinedPath(char* path, const char* folder, const char* name) {
    const char* last = folder;
    for (const char* p = folder; *p; p = CharNextA(p))
        last = p;
    size_t folderLength = strlen(folder);
    size_t separator = folderLength > 0 && *last != '\\' ? 1 : 0;
    size_t nameLength = strlen(name);
    if (folderLength + separator + nameLength >= MAX_PATH) return 0;
    memcpy(path, folder, folderLength);
    if (separator) path[folderLength] = '\\';
    memcpy(path + folderLength + separator, name, nameLength + 1);
    return 1;
}

int IsDotEntry(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// One file: the installed one aside (logged before the new one moves in, so that a rollback finds it),
// then the staged one in.
int MoveInFile(StagedUpdate* update, StagedChange& change, const char* source, const char* target) {
    DWORD attributes = GetFileAttributesA(target);
    char backup[MAX_PATH] = "";
    if (attributes == INVALID_FILE_ATTRIBUTES && !NothingThere(attributes)) return 0;
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return 0;
        if (!FreeBackupName(target, backup) || !MoveFileExA(target, backup, MoveDurably)) return 0;
    }
    if (!AddStep(update, change, StepFileMovedIn, target, backup)) {
        if (backup[0] != '\0') MoveFileExA(backup, target, MOVEFILE_REPLACE_EXISTING | MoveDurably);
        return 0;
    }
    return MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MoveDurably) != 0;
}

int MergeTree(StagedUpdate* update, StagedChange& change, const char* source, const char* target) {
    DWORD attributes = GetFileAttributesA(target);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (!NothingThere(attributes) || !CreateDirectoryA(target, nullptr)) return 0;
        if (!AddStep(update, change, StepFolderCreated, target, "")) {
            RemoveDirectoryA(target);
            return 0;
        }
    } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return 0;
    }
    char pattern[MAX_PATH];
    if (!JoinedPath(pattern, source, "*")) return 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int merged = 1;
    do {
        if (IsDotEntry(found.cFileName)) continue;
        char from[MAX_PATH], to[MAX_PATH];
        if (!JoinedPath(from, source, found.cFileName) || !JoinedPath(to, target, found.cFileName)) {
            merged = 0;
            break;
        }
        // A listing may report an entry again after it was moved away; it is gone from the source then.
        DWORD kind = GetFileAttributesA(from);
        if (kind == INVALID_FILE_ATTRIBUTES) {
            if (NothingThere(kind)) continue;
            merged = 0;
            break;
        }
        merged = (kind & FILE_ATTRIBUTE_DIRECTORY) ? MergeTree(update, change, from, to)
                                                   : MoveInFile(update, change, from, to);
    } while (merged && FindNextFileA(search, &found));
    // A listing that fails before its end would leave the rest of the folder unmerged.
    if (merged && GetLastError() != ERROR_NO_MORE_FILES) merged = 0;
    FindClose(search);
    return merged;
}

// The folder the shell copied into the staging folder, under its own name.
int StagedFolderName(const char* staging, char* name) {
    char pattern[MAX_PATH];
    if (!JoinedPath(pattern, staging, "*")) return 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int named = 0;
    do {
        if (IsDotEntry(found.cFileName) || !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        named = CopyText(name, MAX_PATH, found.cFileName);
        break;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return named;
}

} // namespace

int MergeFolder(StagedUpdate* update, StagedChange& change) {
    change.latestStep = 0;
    change.oldAttributes = GetFileAttributesA(change.target);
    char name[MAX_PATH], source[MAX_PATH], target[MAX_PATH];
    if (!StagedFolderName(change.prepared, name) || !JoinedPath(source, change.prepared, name) ||
        !JoinedPath(target, change.target, name) || !MergeTree(update, change, source, target))
        return 0;
    change.done = 1;
    // As the shell's copy leaves it: the folder merged into becomes normal, the copied files keep theirs.
    SetFileAttributesA(change.target, FILE_ATTRIBUTE_NORMAL);
    return 1;
}

void UndoMergedFolder(StagedUpdate* update, StagedChange& change) {
    for (uint32_t entry = change.latestStep; entry != 0;) {
        StepKind kind;
        const char *path, *backup;
        entry = ReadStep(update, entry, &kind, &path, &backup);
        if (kind == StepFolderCreated) {
            RemoveDirectoryA(path);
            continue;
        }
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
        // The step is logged before its move: a file never moved in is not there to delete.
        if (!DeleteFileA(path) && backup[0] == '\0' && !NothingThere(INVALID_FILE_ATTRIBUTES))
            NoteUnrestored(update, path);
        if (backup[0] != '\0' && !MoveFileExA(backup, path, MOVEFILE_REPLACE_EXISTING | MoveDurably))
            NoteUnrestored(update, path);
    }
    change.latestStep = 0;
    if (change.done && change.oldAttributes != INVALID_FILE_ATTRIBUTES &&
        !SetFileAttributesA(change.target, change.oldAttributes))
        NoteUnrestored(update, change.target);
    change.done = 0;
}

void DeleteMergeBackups(StagedUpdate* update, const StagedChange& change) {
    for (uint32_t entry = change.latestStep; entry != 0;) {
        StepKind kind;
        const char *path, *backup;
        entry = ReadStep(update, entry, &kind, &path, &backup);
        if (kind != StepFileMovedIn || backup[0] == '\0') continue;
        SetFileAttributesA(backup, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(backup);
    }
}

void ReleaseMergeJournal(StagedUpdate* update) {
    if (update->mergeJournal) GlobalFree(update->mergeJournal);
    update->mergeJournal = nullptr;
    update->journalSize = 0;
    update->journalCapacity = 0;
}

void DeleteFolderTree(const char* folder) {
    char pattern[MAX_PATH];
    if (JoinedPath(pattern, folder, "*")) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(pattern, &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                char path[MAX_PATH];
                if (IsDotEntry(found.cFileName) || !JoinedPath(path, folder, found.cFileName)) continue;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    DeleteFolderTree(path);
                } else {
                    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
                    DeleteFileA(path);
                }
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
    }
    SetFileAttributesA(folder, FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(folder);
}
