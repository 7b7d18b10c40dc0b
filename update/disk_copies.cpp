// Copying the plan's files and folders from the product's discs with the shell's copy: the search of drives
// A: to Z: for the disc that holds an item (with the insert-disk prompt), the staging of the copy and its
// outcome. A file is copied to a name beside its destination, and a folder into a staging folder in the
// installation folder; the commit moves them in. Owns nothing beyond the lists of one copy.
#include "update/disk_copies.h"

#include "archive/whole_file.h"
#include "context/updater_context.h"
#include "platform/text_format.h"
#include "update/run_checks.h"
#include "update/staged_update.h"
#include "update/update_walk.h"

#include <cstring>

namespace {

enum { ListCapacity = 264 };

int FailCopy(HWND window, const CopyItem& item, StagedUpdate* staged) {
    DiscardStagedUpdate(staged);
    ShowCopyFailure(window, item.path);
    return 0;
}

// The shell would make the missing folders above a file's destination itself, out of the run's record:
// made here, level by level below the installation folder, they are removed again when the run does not
// complete. Steps over double-byte characters whose trail byte is "\".
int MakeFoldersAbove(StagedUpdate* staged, const char* destination) {
    char folder[ListCapacity];
    size_t start = strlen(Updater.Install.InstPath);
    if (start >= strlen(destination)) return 1;
    for (const char* p = destination + start; *p; p = CharNextA(p)) {
        if (*p != '\\' || p == destination + start) continue;
        size_t length = static_cast<size_t>(p - destination);
        memcpy(folder, destination, length);
        folder[length] = '\0';
        if (GetFileAttributesA(folder) == INVALID_FILE_ATTRIBUTES && !CreateStagedFolder(staged, folder))
            return 0;
    }
    return 1;
}

// Records the file copy's prepared name before the copy, so that whatever the shell leaves of it is
// deleted with the rest; the list (two NULs) is the prepared name.
int StageFileCopy(StagedUpdate* staged, const CopyItem& item, const char* destination, char* list) {
    if (!MakeFoldersAbove(staged, destination)) return 0;
    StagedChange change;
    memset(&change, 0, sizeof change);
    change.action = StagedReplace;
    change.message = StagedCopyMessage;
    if (!CopyText(change.target, sizeof change.target, destination) ||
        !CopyText(change.planPath, sizeof change.planPath, item.path) ||
        !FreePreparedName(destination, change.prepared) || !AddStagedChange(staged, change))
        return 0;
    memset(list, 0, ListCapacity);
    return CopyText(list, ListCapacity - 1, change.prepared);
}

// The folder copy goes into a staging folder named after the folder's place in the installation folder
// ("movie.~up0" for "movie"), recorded before the copy so that whatever the shell leaves in it is deleted
// with the rest; the commit merges what it holds into the installation folder. The list (two NULs) is the
// staging folder.
int StageFolderCopy(StagedUpdate* staged, const CopyItem& item, const char* place, char* list) {
    StagedChange change;
    memset(&change, 0, sizeof change);
    change.action = StagedMergeFolder;
    change.message = StagedCopyMessage;
    if (!CopyText(change.target, sizeof change.target, Updater.Install.InstPath) ||
        !CopyText(change.planPath, sizeof change.planPath, item.path) ||
        !FreePreparedName(place, change.prepared) || !CreateDirectoryA(change.prepared, nullptr))
        return 0;
    if (!AddStagedChange(staged, change)) {
        RemoveDirectoryA(change.prepared);
        return 0;
    }
    memset(list, 0, ListCapacity);
    return CopyText(list, ListCapacity - 1, change.prepared);
}

// One search pass over the drive letters.
int SearchDrives(int disk, char* root, size_t rootCapacity) {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        if (!DriveHoldsDisk(letter, disk)) continue;
        char drive[3] = {letter, ':', '\0'};
        return CopyText(root, rootCapacity, drive);
    }
    return 0;
}

} // namespace

void ShowCopyFailure(HWND window, const char* path) {
    char message[1024];
    FormatCopyFailure(message, sizeof message, path);
    MessageBoxA(window, message, Updater.Caption, MB_OK | MB_ICONERROR);
}

int FindCopySource(HWND window, int disk, char* root, size_t rootCapacity) {
    for (;;) {
        if (SearchDrives(disk, root, rootCapacity)) return 1;
        char prompt[1024];
        FormatDiskPrompt(prompt, sizeof prompt, disk);
        if (MessageBoxA(window, prompt, Updater.Caption, MB_OKCANCEL) != IDOK) return 0;
    }
}

int CopyDecidedItem(HWND window, const CopyItem& item, const CopyDecision& decision, StagedUpdate* staged,
                    CopyProgress progress, int* cancelled) {
    *cancelled = 0;
    char source[ListCapacity];
    char destination[ListCapacity];
    memset(source, 0, sizeof source);
    if (!CopyText(source, sizeof source - 1, decision.source)) return FailCopy(window, item, staged);
    int folderCopy = decision.verdict == VerdictDiscFolder;
    if (folderCopy ? !StageFolderCopy(staged, item, decision.destination, destination)
                   : !StageFileCopy(staged, item, decision.destination, destination))
        return FailCopy(window, item, staged);

    if (progress) progress(window, item.path);
    SHFILEOPSTRUCTA operation;
    memset(&operation, 0, sizeof operation);
    operation.hwnd = window;
    operation.wFunc = FO_COPY;
    operation.pFrom = source;
    operation.pTo = destination;
    operation.fFlags =
        static_cast<FILEOP_FLAGS>(FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | (folderCopy ? FOF_NOERRORUI : 0));
    int result = SHFileOperationA(&operation);
    if (operation.fAnyOperationsAborted) {
        DiscardStagedUpdate(staged);
        *cancelled = 1;
        return 0;
    }
    if (result != 0) return FailCopy(window, item, staged);
    // A file loses the read-only attribute the disc gave it; a folder's files keep theirs, and the commit
    // makes the installation folder normal as the shell's copy into it would have.
    if (!folderCopy) SetFileAttributesA(destination, FILE_ATTRIBUTE_NORMAL);
    return 1;
}

DiscSearch LookForDisc(int disk, char* root, size_t rootCapacity, void*) {
    return SearchDrives(disk, root, rootCapacity) ? DiscFound : DiscNotThere;
}
