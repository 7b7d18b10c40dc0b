// The commit of a folder copied from a disc: merged into the installation file by file, each step written
// to the run's journal so that a rollback undoes exactly what was done.
#pragma once

struct StagedUpdate;
struct StagedChange;

// Merges the one folder inside change.prepared into change.target under its own name: its missing folders
// are created, each installed file it replaces is moved aside under its backup name, each of its files is
// moved in, written through; then change.target is made FILE_ATTRIBUTE_NORMAL. 1 when all is in; 0 at the
// first step that fails (what was done stays in the journal for UndoMergedFolder).
int MergeFolder(StagedUpdate* update, StagedChange& change);

// Undoes the change's journal steps, latest first: removes what was moved in, puts the backups back,
// removes the folders the merge created, and gives change.target its attributes back.
void UndoMergedFolder(StagedUpdate* update, StagedChange& change);

// After a commit that completed: deletes the change's backups.
void DeleteMergeBackups(StagedUpdate* update, const StagedChange& change);

// Frees the journal.
void ReleaseMergeJournal(StagedUpdate* update);

// Deletes a folder with everything in it, read-only files too; what cannot be deleted stays.
void DeleteFolderTree(const char* folder);
