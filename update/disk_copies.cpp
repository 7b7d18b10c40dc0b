// Copying the plan's files and folders from the product's discs with the shell's copy: the search of drives
// A: to Z: for the disc that holds each item (with the insert-disk prompt), the source and destination
// lists, and the copy's outcome. A file is copied to a name beside its destination, and a folder into a
// staging folder in the installation folder; the commit moves them in. Owns the run's source root: the
// drive of the latest successful search.
#include "update/disk_copies.h"

#include "report/wizard_pages.h"
#include "archive/whole_file.h"
#include "context/updater_context.h"
#include "platform/text_format.h"
#include "setupcfg/path_join.h"
#include "update/run_checks.h"
#include "update/staged_update.h"

#include <cstring>

namespace {

enum { ListCapacity = 264, PlatformPathLimit = MAX_PATH - 1 };

int FailCopy(HWND window, const CopyItem& item, StagedUpdate* staged) {
    DiscardStagedUpdate(staged);
    ShowCopyFailure(window, item.path);
    EndDialog(window, -1);
    return 0;
}

int Abandon(HWND window, StagedUpdate* staged) {
    DiscardStagedUpdate(staged);
    EndDialog(window, -1);
    return 0;
}

// The shell would make the missing folders above a file's destination itself, out of the run's record:
// made here, level by level below the installation folder, they are removed again when the run does not
// complete. Steps over double-byte characters whose trail byte is "\".
void MakeFoldersAbove(StagedUpdate* staged, const char* destination) {
    char folder[ListCapacity];
    size_t start = strlen(Updater.Install.InstPath);
    if (start >= strlen(destination)) return;
    for (const char* p = destination + start; *p; p = CharNextA(p)) {
        if (*p != '\\' || p == destination + start) continue;
        size_t length = static_cast<size_t>(p - destination);
        memcpy(folder, destination, length);
        folder[length] = '\0';
        CreateStagedFolder(staged, folder);
    }
}

// Records the file copy's prepared name before the copy, so that whatever the shell leaves of it is
// deleted with the rest; the list (two NULs) is the prepared name.
int StageFileCopy(StagedUpdate* staged, const CopyItem& item, const char* destination, char* list) {
    MakeFoldersAbove(staged, destination);
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

// One item of a shell list: the joined path and two NULs, within the list buffer and short enough for
// the platform's file calls.
int BuildListItem(char* list, const char* folder, const char* name) {
    if (!CopyText(list, ListCapacity, folder)) return 0;
    if (!JoinPath(list, ListCapacity, name)) return 0;
    return strlen(list) <= PlatformPathLimit;
}

// The folder copy goes into a staging folder named after the folder's place in the installation folder
// ("movie.~up0" for "movie"), recorded before the copy so that whatever the shell leaves in it is deleted
// with the rest; the commit merges what it holds into the installation folder. The list (two NULs) is the
// staging folder. A path without a last name ("", "\") names no folder to copy and is refused.
int StageFolderCopy(StagedUpdate* staged, const CopyItem& item, char* list) {
    const char* name = item.path;
    const char* last = item.path;
    for (const char* p = item.path; *p; p = CharNextA(p)) {
        if (*p == '\\' && p[1] != '\0') name = p + 1;
        last = p;
    }
    size_t nameLength = strlen(name);
    if (nameLength > 0 && *last == '\\') --nameLength; // "movie\" names "movie"
    if (nameLength == 0 || nameLength >= MAX_PATH) return 0;
    char folderName[MAX_PATH];
    memcpy(folderName, name, nameLength);
    folderName[nameLength] = '\0';

    StagedChange change;
    memset(&change, 0, sizeof change);
    change.action = StagedMergeFolder;
    change.message = StagedCopyMessage;
    char place[ListCapacity];
    if (!CopyText(change.target, sizeof change.target, Updater.Install.InstPath) ||
        !CopyText(change.planPath, sizeof change.planPath, item.path) ||
        !BuildListItem(place, Updater.Install.InstPath, folderName) ||
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
        if (MessageBoxA(window, prompt, Updater.Caption, MB_OKCANCEL) != IDOK) {
            EndDialog(window, -1);
            return 0;
        }
    }
}

int CopyFromDisks(HWND window, StagedUpdate* staged) {
    // Not set until the first search of the run; a disk-0 item before it has no source and is refused.
    char sourceRoot[3] = "";
    for (int32_t index = 0; index < Updater.CopyCount; ++index) {
        const CopyItem& item = Updater.CopyItems[index];
        // A disk byte that was not a digit has no check file: refused rather than searched for.
        if (item.disk < 0 || item.disk > 9) return FailCopy(window, item, staged);
        if (item.disk != 0) {
            if (!FindCopySource(window, item.disk, sourceRoot, sizeof sourceRoot)) {
                DiscardStagedUpdate(staged);
                return 0;
            }
        } else if (sourceRoot[0] == '\0') {
            return FailCopy(window, item, staged);
        }

        char source[ListCapacity];
        char destination[ListCapacity];
        if (!BuildListItem(source, sourceRoot, item.path)) return FailCopy(window, item, staged);
        // A source that cannot be read has every attribute bit set and is copied as a folder; the shell
        // then fails without its own error display and the failure box names the item.
        int folderCopy = (GetFileAttributesA(source) & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (folderCopy) {
            if (!StageFolderCopy(staged, item, destination)) return FailCopy(window, item, staged);
        } else if (!BuildListItem(destination, Updater.Install.InstPath, item.path)) {
            return FailCopy(window, item, staged);
        } else {
            char target[ListCapacity];
            CopyText(target, sizeof target, destination);
            if (!StageFileCopy(staged, item, target, destination)) return FailCopy(window, item, staged);
        }

        SetStatusText(window, "%s をコピーしています", item.path);
        SHFILEOPSTRUCTA operation;
        memset(&operation, 0, sizeof operation);
        operation.hwnd = window;
        operation.wFunc = FO_COPY;
        operation.pFrom = source;
        operation.pTo = destination;
        operation.fFlags = static_cast<FILEOP_FLAGS>(FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR |
                                                     (folderCopy ? FOF_NOERRORUI : 0));
        int result = SHFileOperationA(&operation);
        if (operation.fAnyOperationsAborted) return Abandon(window, staged);
        if (result != 0) return FailCopy(window, item, staged);
        // A file loses the read-only attribute the disc gave it; a folder's files keep theirs, and the
        // commit makes the installation folder normal as the shell's copy into it would have.
        if (!folderCopy) SetFileAttributesA(destination, FILE_ATTRIBUTE_NORMAL);
    }
    return 1;
}
