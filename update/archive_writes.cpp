// Preparing the plan's archive files: for each UpdateItem the target folder (base joined with DataFolder,
// created one level deep and recorded), the existing-file rule, the data rule that keeps a player's file,
// and the extraction under the mode's time rule into a file beside the target, which the commit moves in.
// Owns only the target path buffers of the item in hand.
#include "update/archive_writes.h"

#include "archive/archive.h"
#include "archive/whole_file.h"
#include "context/updater_context.h"
#include "report/messages.h"
#include "platform/text_format.h"
#include "update/archive_item_rules.h"
#include "update/run_checks.h"
#include "update/staged_update.h"

#include <cstring>

namespace {

// Nothing of the run stays: the files prepared so far are deleted before the message.
int Fail(HWND window, StagedUpdate* staged) {
    DiscardStagedUpdate(staged);
    ShowError(WriteFailedText);
    EndDialog(window, -1);
    return 0;
}

// Records one prepared change of an archive item; a file that cannot be recorded is deleted again. 1 or 0.
int Stage(StagedUpdate* staged, const char* target, const char* prepared, int32_t action,
          const FILETIME* fileTime) {
    StagedChange change;
    memset(&change, 0, sizeof change);
    change.action = action;
    change.message = StagedWriteMessage;
    change.hasTime = fileTime != nullptr;
    if (fileTime) change.fileTime = *fileTime;
    if (!CopyText(change.target, sizeof change.target, target) ||
        !CopyText(change.prepared, sizeof change.prepared, prepared) || !AddStagedChange(staged, change)) {
        if (prepared[0] != '\0') DeleteFileA(prepared);
        return 0;
    }
    return 1;
}

// The data rule. 1 when the item is done here: an existing file keeps its content (re-written so that
// its time becomes the update's; whether that re-write can be prepared does not matter, the content is
// the player's either way). An existing file that cannot be read is left as it is rather than replaced
// by the archive's copy, which would lose the player's data; a read-only one stays as it is too. 0 when
// the target does not exist (or is a folder) and the archive's copy is to be written.
int KeepExistingData(const char* target, StagedUpdate* staged) {
    unsigned char* content;
    uint32_t size;
    if (ChooseDataRule(target, &content, &size) == DataFromArchive) return 0;
    if (!content) return 1;
    char prepared[MAX_PATH];
    if (PrepareWholeFile(target, content, size, nullptr, prepared))
        Stage(staged, target, prepared, StagedReplace, nullptr);
    GlobalFree(content);
    return 1;
}

} // namespace

int PrepareArchiveFiles(HWND window, int overwriteOnly, StagedUpdate* staged) {
    for (int32_t index = 0; index < Updater.UpdateCount; ++index) {
        const UpdateItem& item = Updater.UpdateItems[index];
        char folder[ArchiveTargetCapacity];
        char target[ArchiveTargetCapacity];
        if (!BuildArchiveTarget(item, folder, target)) return Fail(window, staged);

        // Outcome ignored: an existing folder is the common case, and a missing base shows up as the
        // write's failure. A folder made here is removed again when the run does not complete.
        CreateStagedFolder(staged, folder);

        if (SkippedAsMissing(item, overwriteOnly, target)) continue;
        if (item.mode == ModeData && KeepExistingData(target, staged)) continue;

        const char* name = item.path + item.nameOffset;
        char prepared[MAX_PATH];
        FILETIME fileTime;
        if (!PrepareEntry(target, name, item.mode == ModeNewer ? 1 : 0, prepared, &fileTime))
            return Fail(window, staged);
        int staging;
        if (prepared[0] != '\0') {
            staging = Stage(staged, target, prepared, StagedReplace, &fileTime);
        } else {
            // Kept as newer: a read-only file still ends writable, once the update is committed.
            DWORD attributes = GetFileAttributesA(target);
            staging = !(attributes & FILE_ATTRIBUTE_READONLY) ||
                      Stage(staged, target, "", StagedClearReadOnly, nullptr);
        }
        if (!staging) return Fail(window, staged);
    }
    return 1;
}
