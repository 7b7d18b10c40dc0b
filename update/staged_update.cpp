// Commit and rollback of a prepared update. A commit first moves the installed file aside under its backup
// name ("<name>.~bk" and a hex digit), then moves the prepared file ("<name>.~up" and a hex digit) into its
// place; the backups are deleted only once every change is in. A run killed during the commit therefore
// leaves every old file either in place or under its backup name beside it (docs/replacing-files.md tells
// how to restore by hand). Owns nothing beyond the record it is given.
#include "update/staged_update.h"

#include "archive/whole_file.h"
#include "platform/text_format.h"
#include "update/merged_folder.h"

#include <cstring>

namespace {

const DWORD MoveDurably = MOVEFILE_WRITE_THROUGH;

void DeletePrepared(StagedChange& change) {
    if (change.prepared[0] != '\0') {
        if (change.action == StagedMergeFolder)
            DeleteFolderTree(change.prepared);
        else
            DeleteFileA(change.prepared);
    }
    change.prepared[0] = '\0';
}

void RemoveCreatedFolders(StagedUpdate* update) {
    // Deepest last created, so removed first; a folder that is not empty stays.
    uint32_t end = update->foldersSize;
    while (end > 0) {
        uint32_t start = end - 1;
        while (start > 0 && update->createdFolders[start - 1] != '\0')
            --start;
        RemoveDirectoryA(update->createdFolders + start);
        end = start;
    }
    if (update->createdFolders) GlobalFree(update->createdFolders);
    update->createdFolders = nullptr;
    update->foldersSize = 0;
    update->foldersCapacity = 0;
}

// Puts the old file of one committed (or half-committed) change back.
void UndoChange(StagedUpdate* update, StagedChange& change) {
    if (change.action == StagedMergeFolder) {
        UndoMergedFolder(update, change);
        return;
    }
    if (change.action == StagedClearReadOnly) {
        if (change.done && !SetFileAttributesA(change.target, change.oldAttributes))
            NoteUnrestored(update, change.target);
        change.done = 0;
        return;
    }
    if (change.done) {
        SetFileAttributesA(change.target, FILE_ATTRIBUTE_NORMAL);
        // With a backup, the move below replaces it anyway.
        if (!DeleteFileA(change.target) && change.backup[0] == '\0' && !NothingThere(INVALID_FILE_ATTRIBUTES))
            NoteUnrestored(update, change.target);
    }
    if (change.backup[0] != '\0') {
        if (MoveFileExA(change.backup, change.target, MOVEFILE_REPLACE_EXISTING | MoveDurably))
            change.backup[0] = '\0';
        else
            NoteUnrestored(update, change.target);
    }
    change.done = 0;
}

// One change: aside, then in.
int CommitChange(StagedUpdate* update, StagedChange& change) {
    if (change.action == StagedMergeFolder) return MergeFolder(update, change);
    change.oldAttributes = GetFileAttributesA(change.target);
    int exists = change.oldAttributes != INVALID_FILE_ATTRIBUTES;
    // Unknown is not missing: a file there would be replaced without a backup.
    if (!exists && !NothingThere(change.oldAttributes)) return 0;
    if (exists && (change.oldAttributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
    if (change.action == StagedClearReadOnly) {
        if (exists && (change.oldAttributes & FILE_ATTRIBUTE_READONLY) &&
            !SetFileAttributesA(change.target, FILE_ATTRIBUTE_NORMAL))
            return 0;
        change.done = 1;
        return 1;
    }
    // A read-only file may be renamed as it is, so its backup keeps every attribute.
    if (exists) {
        if (!FreeBackupName(change.target, change.backup)) return 0;
        if (!MoveFileExA(change.target, change.backup, MoveDurably)) {
            change.backup[0] = '\0';
            return 0;
        }
    }
    if (!MoveFileExA(change.prepared, change.target, MOVEFILE_REPLACE_EXISTING | MoveDurably)) return 0;
    change.prepared[0] = '\0';
    change.done = 1;
    // Set again in place: a file system may carry the replaced file's creation time over to the new name.
    if (change.hasTime) StampFileTimes(change.target, &change.fileTime);
    return 1;
}

} // namespace

void BeginStagedUpdate(StagedUpdate* update) {
    update->changeCount = 0;
    update->createdFolders = nullptr;
    update->foldersSize = 0;
    update->foldersCapacity = 0;
    update->unrestored[0] = '\0';
    update->mergeJournal = nullptr;
    update->journalSize = 0;
    update->journalCapacity = 0;
}

int AddStagedChange(StagedUpdate* update, const StagedChange& change) {
    if (update->changeCount >= StagedChangeCapacity) return 0;
    StagedChange& added = update->changes[update->changeCount++];
    added = change;
    added.done = 0;
    added.latestStep = 0;
    added.backup[0] = '\0';
    return 1;
}

int CreateStagedFolder(StagedUpdate* update, const char* folder) {
    // Room first: a folder made but not recorded would outlive a rollback.
    uint32_t bytes = static_cast<uint32_t>(strnlen(folder, MAX_PATH)) + 1;
    if (bytes > MAX_PATH) return 0;
    if (update->foldersSize + bytes > update->foldersCapacity) {
        if (update->foldersCapacity > 0x3FFFFFFFu) return 0;
        uint32_t capacity = update->foldersCapacity ? update->foldersCapacity * 2 : 1024;
        char* grown = static_cast<char*>(GlobalAlloc(GMEM_FIXED, capacity));
        if (!grown) return 0;
        if (update->createdFolders) {
            memcpy(grown, update->createdFolders, update->foldersSize);
            GlobalFree(update->createdFolders);
        }
        update->createdFolders = grown;
        update->foldersCapacity = capacity;
    }
    if (!CreateDirectoryA(folder, nullptr)) return 1;
    memcpy(update->createdFolders + update->foldersSize, folder, bytes);
    update->foldersSize += bytes;
    return 1;
}

void DiscardStagedUpdate(StagedUpdate* update) {
    for (int32_t i = 0; i < update->changeCount; ++i)
        DeletePrepared(update->changes[i]);
    update->changeCount = 0;
    ReleaseMergeJournal(update);
    RemoveCreatedFolders(update);
}

int CommitStagedUpdate(StagedUpdate* update, const StagedChange** failed) {
    *failed = nullptr;
    for (int32_t i = 0; i < update->changeCount; ++i) {
        StagedChange& change = update->changes[i];
        if (CommitChange(update, change)) continue;
        if (change.optional) {
            // The player's file stays as it was; only when it cannot be put back does the update fail.
            UndoChange(update, change);
            DeletePrepared(change);
            if (update->unrestored[0] == '\0') continue;
        }
        *failed = &change;
        for (int32_t j = i; j >= 0; --j)
            UndoChange(update, update->changes[j]);
        DiscardStagedUpdate(update);
        return 0;
    }
    for (int32_t i = 0; i < update->changeCount; ++i) {
        StagedChange& change = update->changes[i];
        if (change.action == StagedMergeFolder) {
            DeleteMergeBackups(update, change);
            DeletePrepared(change);
            continue;
        }
        if (change.backup[0] == '\0') continue;
        SetFileAttributesA(change.backup, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(change.backup);
        change.backup[0] = '\0';
    }
    ReleaseMergeJournal(update);
    // The run's folders are in use now: only the record goes.
    if (update->createdFolders) GlobalFree(update->createdFolders);
    update->createdFolders = nullptr;
    update->foldersSize = 0;
    update->foldersCapacity = 0;
    return 1;
}

void NoteUnrestored(StagedUpdate* update, const char* target) {
    if (update->unrestored[0] == '\0') CopyText(update->unrestored, sizeof update->unrestored, target);
}
