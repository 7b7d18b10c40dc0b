// The walk of decisions (update_walk.h). Each item is decided through the overlay and then leaves its
// mark there, so that the next one sees the file, folder or merged tree it will find. Shows only the boxes
// of the archive's routines it calls (an entry's lookup, its free-space check); the update shows the
// refusal's own message. Owns the overlay until EndWalk.
#include "update/update_walk.h"

#include "archive/archive.h"
#include "archive/patch_decoder.h"
#include "archive/whole_file.h"
#include "context/updater_context.h"
#include "platform/text_format.h"
#include "setupcfg/path_join.h"
#include "update/archive_item_rules.h"

#include <cstring>

namespace {

enum { ListCapacity = 264, PlatformPathLimit = MAX_PATH - 1 };

int Refuse(int32_t* verdict, int32_t* refusal, int32_t message) {
    *verdict = VerdictRefused;
    *refusal = message;
    return 0;
}

// The folder that holds path (everything before its last single-byte "\"; a final "\" is not counted), in
// MAX_PATH bytes; 0 when path has no "\" before its last name.
int ParentOf(const char* path, char* parent) {
    size_t length = strlen(path);
    const char* last = nullptr;
    for (const char* p = path; *p; p = CharNextA(p)) {
        if (*p == '\\' && p[1] != '\0') last = p; // a folder's final separator is not counted
    }
    if (!last || length >= MAX_PATH) return 0;
    size_t kept = static_cast<size_t>(last - path);
    memcpy(parent, path, kept);
    parent[kept] = '\0';
    return 1;
}

int OnDrive(const char* path, const char* drivePath) {
    auto letter = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    return drivePath[0] != '\0' && drivePath[1] == ':' && path[0] != '\0' && path[1] == ':' &&
           letter(path[0]) == letter(drivePath[0]);
}

// The time a re-written file takes: the moment of the update.
FILETIME UpdateTime() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return now;
}

// Whether the folder that holds path is there once the earlier items are in. A path without one lies in
// the current folder (a relative "DataFolder" without "DataPath").
int HoldingFolderThere(const FileOverlay* overlay, const char* path) {
    char parent[MAX_PATH];
    return !ParentOf(path, parent) || OverlayFolderExists(overlay, parent);
}

// The item's target folder is made (one level) when it is not there and the folder that holds it is.
int DecideTargetFolder(UpdateWalk* walk, ArchiveDecision& decision) {
    if (decision.folder[0] == '\0' || OverlayFolderExists(&walk->overlay, decision.folder)) return 1;
    if (!HoldingFolderThere(&walk->overlay, decision.folder)) return 1;
    decision.createsFolder = 1;
    return OverlayAddFolder(&walk->overlay, decision.folder);
}

int DecideDataRule(UpdateWalk* walk, ArchiveDecision& decision) {
    uint32_t size;
    DataRuleChoice choice =
        ChooseDataRule(decision.target, &walk->overlay, &decision.content, decision.source, &size);
    if (choice == DataFromArchive) return 0;
    if (choice == DataReadOnly) {
        decision.verdict = VerdictDataReadOnly;
    } else if (choice == DataUnreadable) {
        decision.verdict = VerdictDataUnreadable;
    } else {
        decision.verdict = VerdictDataRewritten;
        decision.bytes = size;
        if (!OverlayAddFile(&walk->overlay, decision.target, FILE_ATTRIBUTE_ARCHIVE, size, UpdateTime(),
                            decision.content, decision.source))
            Refuse(&decision.verdict, &decision.refusal, RefusedWithWriteFailure);
    }
    return 1;
}

// How an item whose entry is a patch is made: 1 from the file at target, which is the patch's base: a
// file as installed (not one an earlier item writes, whose content is had only once prepared) and, with
// walk->checkPatchBases, of the size and digest the patch names. 0 from the whole file the archive carries
// beside the patch, when the file there is not the base. -1 when the item is refused (*refusal): not the
// base and no whole file, or the base cannot be read or the patch is damaged.
int PatchOrWhole(const UpdateWalk* walk, const char* target, DWORD attributes, int attributesUnknown,
                 const char* name, const unsigned char* patch, uint32_t patchSize, int32_t* refusal) {
    *refusal = RefusedWithWriteFailure;
    // What is there is not known: nothing may be taken for another release.
    if (attributesUnknown) return -1;
    int32_t content;
    char source[MAX_PATH];
    uint32_t size;
    int base = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    // A kept read-only file an earlier item only made writable is still the installed one.
    if (base && OverlayWrittenFile(&walk->overlay, target, &content, source, &size) &&
        !(content == ContentOfFile && lstrcmpiA(source, target) == 0))
        base = 0;
    PatchFault checked = PatchSound;
    if (base && walk->checkPatchBases && !CheckPatchBase(target, patch, patchSize, &checked)) {
        // Only another size or digest tells another release.
        if (checked != PatchBaseMismatch) return -1;
        base = 0;
    }
    if (base) return 1;
    if (CarriesWholeEntry(name)) return 0;
    *refusal = RefusedNotPatchBase;
    return -1;
}

// One archive item. 1 when the update goes on after it.
int DecideArchiveItem(UpdateWalk* walk, const UpdateItem& item, int overwriteOnly,
                      ArchiveDecision& decision) {
    char folder[ArchiveTargetCapacity], target[ArchiveTargetCapacity];
    folder[0] = target[0] = '\0';
    int formed = BuildArchiveTarget(item, folder, target);
    CopyText(decision.folder, sizeof decision.folder, folder);
    CopyText(decision.target, sizeof decision.target, target);
    if (!formed) return Refuse(&decision.verdict, &decision.refusal, RefusedWithWriteFailure);
    if (item.mode == ModeData && !walk->dataFolderKnown) {
        decision.verdict = VerdictNoDataFolder;
        return 1;
    }
    if (!DecideTargetFolder(walk, decision))
        return Refuse(&decision.verdict, &decision.refusal, RefusedWithWriteFailure);

    if (SkippedAsMissing(item, overwriteOnly, decision.target, &walk->overlay)) {
        decision.verdict = VerdictSkippedMissing;
        return 1;
    }
    if (item.mode == ModeData && DecideDataRule(walk, decision)) {
        if (decision.verdict == VerdictRefused) return 0;
        if (decision.verdict == VerdictDataRewritten && OnDrive(decision.target, Updater.Install.InstPath))
            walk->installDriveBytes += decision.bytes;
        return 1;
    }

    DWORD attributes = OverlayAttributes(&walk->overlay, decision.target);
    int attributesUnknown = attributes == INVALID_FILE_ATTRIBUTES && !NothingThere(attributes);
    const unsigned char* patch = nullptr;
    int32_t refusal;
    const char* name = item.path + item.nameOffset;
    // A data file's base would be the player's: such an item never takes a patch.
    const ArchiveEntry* patchEntry = item.mode == ModeData ? nullptr : FindPatchEntry(name, &patch);
    int patched = patchEntry ? PatchOrWhole(walk, decision.target, attributes, attributesUnknown, name, patch,
                                            patchEntry->storedSize, &refusal)
                             : 0;
    int checkTime = item.mode == ModeNewer;
    FILETIME targetTime;
    int timeKnown = checkTime && attributes != INVALID_FILE_ATTRIBUTES &&
                    !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                    OverlayLastWriteTime(&walk->overlay, decision.target, &targetTime);
    // The whole file carried beside a patch is made from the same file: its size and time are the patch's.
    EntryWrite write;
    if (!DecideEntryWrite(decision.target, name, patchEntry != nullptr, checkTime, attributes,
                          timeKnown ? &targetTime : nullptr, &write))
        return Refuse(&decision.verdict, &decision.refusal, RefusedWithWriteFailure);
    decision.readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (write.keep) {
        decision.verdict = VerdictKeptLater;
        // A kept read-only file ends writable; its content stays the disk's.
        if (decision.readOnly &&
            !OverlayAddFile(&walk->overlay, decision.target, attributes & ~DWORD(FILE_ATTRIBUTE_READONLY), 0,
                            targetTime, ContentOfFile, decision.target))
            return Refuse(&decision.verdict, &decision.refusal, RefusedWithWriteFailure);
        return 1;
    }
    if (patched < 0) return Refuse(&decision.verdict, &decision.refusal, refusal);
    // The file is prepared beside its target, so the folder that holds it must be there by then.
    if (!HoldingFolderThere(&walk->overlay, decision.target))
        return Refuse(&decision.verdict, &decision.refusal, RefusedWithWriteFailure);
    decision.verdict = patched                                 ? VerdictPatched
                       : attributes == INVALID_FILE_ATTRIBUTES ? VerdictWrittenNew
                                                               : VerdictReplaced;
    decision.bytes = write.size;
    decision.fileTime = write.fileTime;
    if (!OverlayAddFile(&walk->overlay, decision.target, FILE_ATTRIBUTE_ARCHIVE, write.size, write.fileTime,
                        patched ? ContentOfPatch : ContentOfEntry, name))
        return Refuse(&decision.verdict, &decision.refusal, RefusedWithWriteFailure);
    if (OnDrive(decision.target, Updater.Install.InstPath)) walk->installDriveBytes += write.size;
    return 1;
}

// One item of a shell list: the joined path and two NULs, short enough for the platform's file calls.
int BuildListItem(char* list, const char* folder, const char* name) {
    if (!CopyText(list, ListCapacity, folder)) return 0;
    if (!JoinPath(list, ListCapacity, name)) return 0;
    return strlen(list) <= PlatformPathLimit;
}

// The name a folder copy takes in the installation folder: the path's last name ("movie\" names "movie").
// 0 for a path without one ("", "\"), which names no folder to copy.
int FolderNameOf(const char* path, char* name) {
    const char* start = path;
    const char* last = path;
    for (const char* p = path; *p; p = CharNextA(p)) {
        if (*p == '\\' && p[1] != '\0') start = p + 1;
        last = p;
    }
    size_t length = strlen(start);
    if (length > 0 && *last == '\\') --length;
    if (length == 0 || length >= MAX_PATH) return 0;
    memcpy(name, start, length);
    name[length] = '\0';
    return 1;
}

// The folders above a copied file's place that are not there, below the installation folder: the run
// makes them before the copy.
int AddFoldersAbove(FileOverlay* overlay, const char* destination) {
    size_t start = strlen(Updater.Install.InstPath);
    if (start >= strlen(destination)) return 1;
    char folder[MAX_PATH];
    for (const char* p = destination + start; *p; p = CharNextA(p)) {
        if (*p != '\\' || p == destination + start) continue;
        size_t length = static_cast<size_t>(p - destination);
        memcpy(folder, destination, length);
        folder[length] = '\0';
        if (!OverlayFolderExists(overlay, folder) && !OverlayAddFolder(overlay, folder)) return 0;
    }
    return 1;
}

} // namespace

void BeginWalk(UpdateWalk* walk, int dataFolderKnown) {
    memset(walk, 0, sizeof *walk);
    BeginOverlay(&walk->overlay);
    walk->dataFolderKnown = dataFolderKnown;
}

void EndWalk(UpdateWalk* walk) {
    EndOverlay(&walk->overlay);
}

int DecideArchiveItems(UpdateWalk* walk, int overwriteOnly) {
    for (int32_t index = 0; index < Updater.UpdateCount; ++index) {
        ArchiveDecision& decision = walk->archive[index];
        memset(&decision, 0, sizeof decision);
        walk->archiveCount = index + 1;
        if (!DecideArchiveItem(walk, Updater.UpdateItems[index], overwriteOnly, decision)) return 0;
    }
    return 1;
}

int DecideCopyItem(UpdateWalk* walk, DiscFinder finder, void* finderData) {
    CopyDecision& decision = walk->copies[walk->copyCount];
    const CopyItem& item = Updater.CopyItems[walk->copyCount++];
    memset(&decision, 0, sizeof decision);
    // A disk byte that was not a digit has no check file: refused rather than searched for.
    if (item.disk < 0 || item.disk > 9)
        return Refuse(&decision.verdict, &decision.refusal, RefusedWithCopyFailure);
    if (item.disk != 0) {
        DiscSearch search = finder(item.disk, walk->sourceRoot, sizeof walk->sourceRoot, finderData);
        if (search == DiscCancelled) return Refuse(&decision.verdict, &decision.refusal, RefusedSilently);
        if (search != DiscFound) {
            decision.verdict = VerdictDiscMissing;
            return 0;
        }
    } else if (walk->sourceRoot[0] == '\0') {
        // Not set until the first search of the run: a disk-0 item before it has no source.
        return Refuse(&decision.verdict, &decision.refusal, RefusedWithCopyFailure);
    }
    CopyText(decision.sourceRoot, sizeof decision.sourceRoot, walk->sourceRoot);

    char source[ListCapacity], destination[ListCapacity];
    if (!BuildListItem(source, walk->sourceRoot, item.path))
        return Refuse(&decision.verdict, &decision.refusal, RefusedWithCopyFailure);
    CopyText(decision.source, sizeof decision.source, source);
    // A source that cannot be read has every attribute bit set and is copied as a folder; the shell then
    // fails without its own error display and the failure names the item.
    DWORD attributes = GetFileAttributesA(source);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        decision.verdict = VerdictDiscFolder;
        decision.sourceMissing = attributes == INVALID_FILE_ATTRIBUTES;
        char name[MAX_PATH];
        if (!FolderNameOf(item.path, name) || !BuildListItem(destination, Updater.Install.InstPath, name))
            return Refuse(&decision.verdict, &decision.refusal, RefusedWithCopyFailure);
        CopyText(decision.destination, sizeof decision.destination, destination);
        decision.replaces = OverlayFolderExists(&walk->overlay, destination);
        if (!decision.sourceMissing && !OverlayAddMergedTree(&walk->overlay, destination, source))
            return Refuse(&decision.verdict, &decision.refusal, RefusedWithCopyFailure);
        return 1;
    }
    decision.verdict = VerdictDiscFile;
    if (!BuildListItem(destination, Updater.Install.InstPath, item.path))
        return Refuse(&decision.verdict, &decision.refusal, RefusedWithCopyFailure);
    CopyText(decision.destination, sizeof decision.destination, destination);
    decision.replaces = OverlayAttributes(&walk->overlay, destination) != INVALID_FILE_ATTRIBUTES;
    FILETIME unknown = {0, 0};
    // The copy loses the read-only attribute the disc gave it.
    if (!AddFoldersAbove(&walk->overlay, destination) ||
        !OverlayAddFile(&walk->overlay, destination, FILE_ATTRIBUTE_NORMAL, 0, unknown, ContentOfFile,
                        source))
        return Refuse(&decision.verdict, &decision.refusal, RefusedWithCopyFailure);
    return 1;
}
