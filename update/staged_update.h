// The record of an update that is prepared before anything installed changes, and its commit or rollback.
#pragma once

#include "platform/win32.h"
#include "context/update_plan_model.h"

#include <cstdint>

enum StagedAction : int32_t {
    StagedReplace = 0,       // the prepared file takes the target's place
    StagedClearReadOnly = 1, // a kept read-only file only becomes writable
    StagedMergeFolder = 2,   // the one folder inside prepared is merged into target, file by file
};

enum StagedMessage : int32_t {
    StagedWriteMessage = 0, // "ファイルの書き込みに失敗しました"
    StagedCopyMessage = 1,  // the copy failure naming the plan's path
};

struct StagedChange {
    int32_t action;        // a StagedAction
    int32_t message;       // a StagedMessage: what a failed commit of this change shows
    int32_t hasTime;       // 1: the target is stamped with fileTime once it is in place
    int32_t done;          // 1 once committed
    int32_t optional;      // 1: a change that does not matter (a data file's re-write): when it cannot be
                           // committed it is undone alone and the update goes on
    FILETIME fileTime;     //
    DWORD oldAttributes;   // INVALID_FILE_ATTRIBUTES when the target did not exist
    uint32_t latestStep;   // StagedMergeFolder: its latest step in the run's merge journal (offset + 1), or 0
    char target[MAX_PATH]; // StagedMergeFolder: the folder it is merged into
    char prepared[MAX_PATH]; // beside the target, named as WriteWholeFile's temporary file; a folder for
                             // StagedMergeFolder, holding the copied folder under its own name
    char backup[MAX_PATH];   // the old file while the commit runs; empty when there was none
    char planPath[MAX_PATH]; // the plan's path, for the copy failure's message
};

enum { StagedChangeCapacity = 2 * UpdateListCapacity };

// Lives for one run of the update: every archive file, data-rule rewrite and disc copy of the plan at most
// once, and the folders the run created.
struct StagedUpdate {
    StagedChange changes[StagedChangeCapacity];
    int32_t changeCount;
    // The folders the run created, in order, each a NUL-ended path, in a global-memory block that grows (a
    // disc path may be any number of folders deep); null until the first.
    char* createdFolders;
    uint32_t foldersSize;
    uint32_t foldersCapacity;
    // What the commit could not put back when a rollback failed: the first such target (empty: none).
    char unrestored[MAX_PATH];
    // What the commit of merged folders did, step by step, so that a rollback can undo exactly that: a
    // folder can hold any number of files. A global-memory block owned by the record between the commit's
    // start and its end; null otherwise.
    unsigned char* mergeJournal;
    uint32_t journalSize;
    uint32_t journalCapacity;
};

void BeginStagedUpdate(StagedUpdate* update);

// Adds a change whose prepared file exists (or, for StagedClearReadOnly, none). 0 when the record is full
// or a path does not fit; the caller then deletes what it prepared.
int AddStagedChange(StagedUpdate* update, const StagedChange& change);

// Creates the folder and records it when this call made it, so that a rollback removes it again. Whether
// the folder could be made is not examined (an existing one is the common case); 0 only when the record
// cannot hold it, and then nothing is created: the run must stop.
int CreateStagedFolder(StagedUpdate* update, const char* folder);

// Before the commit: deletes every prepared file and staged folder, and the folders the run created.
// Nothing installed has changed. Also releases what the record holds.
void DiscardStagedUpdate(StagedUpdate* update);

// Moves each target aside under its backup name and the prepared file into its place, in order, each move
// written through (a merged folder: each of its files so, its missing folders created); then deletes the
// backups and the emptied staged folders. 1 when every change is in place. On a failure every change
// made so far is undone (backups back, with their attributes; what was moved in removed), what is left
// prepared is deleted, the created folders removed, and 0 is returned with *failed the change that failed
// (the caller shows its message; when an old file could not be put back, update->unrestored names it and
// its backup stays beside it). An optional change that cannot be committed is undone alone and skipped.
int CommitStagedUpdate(StagedUpdate* update, const StagedChange** failed);

// Keeps the first target whose old file a failed rollback could not put back (see unrestored).
void NoteUnrestored(StagedUpdate* update, const char* target);
