// The one walk of decisions over the plan: every item decided once, in list order, against the state the
// earlier items leave (file_overlay.h), as a record of data. The update run carries the decisions out;
// updpack's plan prints them. Nothing here writes.
#pragma once

#include "context/update_plan_model.h"
#include "platform/win32.h"
#include "update/file_overlay.h"

#include <cstdint>

enum ItemVerdict : int32_t {
    VerdictNotReached = 0, // the update stopped before this item
    VerdictWrittenNew,     // the archive's file where there was none
    VerdictReplaced,       // the archive's file over the one there
    VerdictPatched,        // the file there is the base of the archive's patch, which makes the new one
    VerdictKeptLater,      // "u": the file there is later than the archive's and stays
    VerdictSkippedMissing, // only an existing file may be written over, and there is none
    VerdictDataRewritten,  // "d": the player's file keeps its content and takes the update's time
    VerdictDataReadOnly,   // "d": a read-only player's file stays as it is
    VerdictDataUnreadable, // "d": a player's file that cannot be read stays as it is
    VerdictNoDataFolder,   // "d", and the walk was told the data folder is not known (the plan)
    VerdictDiscFile,       // a file copied from a disc
    VerdictDiscFolder,     // a folder copied from a disc, merged into the installation folder
    VerdictDiscMissing,    // no drive holds the disc (the plan; the run asks for it)
    VerdictRefused,        // the update stops here with its message
};

// What a refused item shows, once the boxes of the routines below have been shown.
enum RefusalMessage : int32_t {
    RefusedWithWriteFailure = 0, // "ファイルの書き込みに失敗しました"
    RefusedWithCopyFailure = 1,  // "SETUP.INI : "path" のコピーに失敗しました"
    RefusedSilently = 2,         // the user cancelled: no message of the update's own
    RefusedNotPatchBase = 3,     // NotPatchBaseText, naming the target
};

struct ArchiveDecision {
    int32_t verdict;       // an ItemVerdict
    int32_t refusal;       // VerdictRefused: a RefusalMessage
    int32_t createsFolder; // 1: the target folder is not there and preparing the item makes it
    int32_t readOnly;      // the file there is read-only (it ends writable)
    uint32_t bytes;        // what preparing puts beside the target: the entry, or the kept content
    FILETIME fileTime;     // written or patched: the entry's time
    int32_t content;       // VerdictDataRewritten: an OverlayContent, the content kept
    char source[MAX_PATH]; // VerdictDataRewritten: the file or entry that content comes from
    char folder[MAX_PATH]; // the target folder (base joined with DataFolder), as far as it was formed
    char target[MAX_PATH]; // as far as it was formed
};

struct CopyDecision {
    int32_t verdict;            // VerdictDiscFile, VerdictDiscFolder, VerdictDiscMissing or VerdictRefused
    int32_t refusal;            // VerdictRefused: a RefusalMessage
    int32_t replaces;           // something is there already, as the earlier items leave it
    int32_t sourceMissing;      // VerdictDiscFolder: the disc holds nothing of that name; the copy fails
    char sourceRoot[3];         // the drive copied from ("E:")
    char source[MAX_PATH];      // on the disc
    char destination[MAX_PATH]; // a file: its place; a folder: its place in the installation folder
};

struct UpdateWalk {
    FileOverlay overlay;
    int32_t dataFolderKnown; // 0: data items are not decided (VerdictNoDataFolder)
    // 1: a patch's base is read whole for its digest now (the plan). The run leaves that to applying the
    // patch, which reads the base anyway and tells a wrong one by the result's digest.
    int32_t checkPatchBases;
    ArchiveDecision archive[UpdateListCapacity];
    int32_t archiveCount; // decided so far
    CopyDecision copies[UpdateListCapacity];
    int32_t copyCount;
    char sourceRoot[3];         // the drive of the latest disc search; empty before the first
    uint64_t installDriveBytes; // what preparing the archive files puts on the installation's drive
};

void BeginWalk(UpdateWalk* walk, int dataFolderKnown);
void EndWalk(UpdateWalk* walk);

// Decides Updater.UpdateItems in list order. 1 when every item can go on; 0 at the item that stops the
// update (its decision VerdictRefused, after the boxes of the routines below: the entry's lookup and its
// free-space check), later ones left VerdictNotReached.
int DecideArchiveItems(UpdateWalk* walk, int overwriteOnly);

// How the disc of a copy item is found: the run asks for it until it is there or the user cancels; the
// plan only looks. DiscFound with root ("E:") set.
enum DiscSearch { DiscNotThere = 0, DiscFound = 1, DiscCancelled = 2 };
typedef DiscSearch (*DiscFinder)(int disk, char* root, size_t rootCapacity, void* data);

// Decides the next copy item (Updater.CopyItems[walk->copyCount]): its source drive (a disk of 0 keeps the
// latest one; a disk outside 0..9, or 0 before any search, is refused), its source and destination, and
// what it leaves. 1 when it can go on; 0 when it is refused (VerdictRefused, silently when the user
// cancelled the disc's prompt) or its disc is not there (VerdictDiscMissing).
int DecideCopyItem(UpdateWalk* walk, DiscFinder finder, void* finderData);
