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
    FILETIME fileTime;     //
    DWORD oldAttributes;   // INVALID_FILE_ATTRIBUTES when the target did not exist
    uint32_t latestStep;   // StagedMergeFolder: its latest step in the run's merge journal (offset + 1), or 0
    char target[MAX_PATH]; // StagedMergeFolder: the folder it is merged into
    char prepared[MAX_PATH]; // beside the target, named as WriteWholeFile's temporary file; a folder for
                             // StagedMergeFolder, holding the copied folder under its own name
    char backup[MAX_PATH];   // the old file while the commit runs; empty when there was none
    char planPath[MAX_PATH]; // the plan's path, for the copy failure's message
};

enum { StagedChangeCapacity = 2 * UpdateListCapacity, StagedFolderCapacity = 2 * UpdateListCapacity };

// Lives in RunUpdate for one run: every archive file, data-rule rewrite and disc copy of the plan at most
// once, and the folders the run created.
struct StagedUpdate {
    StagedChange changes[StagedChangeCapacity];
    int32_t changeCount;
    char createdFolders[StagedFolderCapacity][MAX_PATH];
    int32_t folderCount;
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

// Creates the folder and records it when this call made it, so that a rollback removes it again. Outcome
// as CreateDirectoryA's.
int CreateStagedFolder(StagedUpdate* update, const char* folder);

// Before the commit: deletes every prepared file and staged folder, and the folders the run created.
// Nothing installed has changed.
void DiscardStagedUpdate(StagedUpdate* update);

// Moves each target aside under its backup name and the prepared file into its place, in order, each move
// written through (a merged folder: each of its files so, its missing folders created); then deletes the
// backups and the emptied staged folders. 1 when every change is in place. On a failure every change
// made so far is undone (backups back, with their attributes; what was moved in removed), what is left
// prepared is deleted, the created folders removed, and 0 is returned with *failed the change that failed
// (the caller shows its message).
int CommitStagedUpdate(StagedUpdate* update, const StagedChange** failed);
