// Preparing the plan's archive files as the walk decided them: the target folder made and recorded, the
// entry's content written into a file beside the target (which the commit moves in), a data file's kept
// content re-written beside it. Owns only the content in hand.
#include "update/archive_writes.h"

#include "archive/archive.h"
#include "archive/patch_decoder.h"
#include "archive/whole_file.h"
#include "context/updater_context.h"
#include "report/messages.h"
#include "platform/text_format.h"
#include "update/run_checks.h"
#include "update/staged_update.h"
#include "update/update_walk.h"

#include <cstring>

namespace {

// Nothing of the run stays: the files prepared so far are deleted before the message.
int Fail(ArchiveDecision& decision, StagedUpdate* staged, int32_t refusal = RefusedWithWriteFailure) {
    if (staged) DiscardStagedUpdate(staged);
    if (refusal == RefusedNotPatchBase)
        ShowNotPatchBase(decision.target);
    else
        ShowError(WriteFailedText);
    decision.verdict = VerdictRefused;
    decision.refusal = refusal;
    return 0;
}

// Records one prepared change of an archive item; a file that cannot be recorded is deleted again. 1 or 0.
int Stage(StagedUpdate* staged, const char* target, const char* prepared, int32_t action,
          const FILETIME* fileTime, int optional) {
    StagedChange change;
    memset(&change, 0, sizeof change);
    change.action = action;
    change.message = StagedWriteMessage;
    change.optional = optional;
    change.hasTime = fileTime != nullptr;
    if (fileTime) change.fileTime = *fileTime;
    if (!CopyText(change.target, sizeof change.target, target) ||
        !CopyText(change.prepared, sizeof change.prepared, prepared) || !AddStagedChange(staged, change)) {
        if (prepared[0] != '\0') DeleteFileA(prepared);
        return 0;
    }
    return 1;
}

// The entry's content complete beside the target, stamped with the entry's time. 0 after the content's
// own message when it cannot be had, or silently when the file cannot be written.
int PrepareWrittenFile(const ArchiveDecision& decision, const char* name, StagedUpdate* staged) {
    uint32_t size = 0;
    unsigned char* content = FindEntryData(name, &size);
    if (!content) return 0;
    int done = 1;
    if (staged) {
        char prepared[MAX_PATH];
        FILETIME fileTime = decision.fileTime;
        done = PrepareWholeFile(decision.target, content, size, &fileTime, prepared) &&
               Stage(staged, decision.target, prepared, StagedReplace, &fileTime, 0);
    }
    if (ArchiveDataIsOwned(content)) GlobalFree(content);
    return done;
}

// The patch applied to the installed file, its result beside it stamped with the entry's time. An
// installed file that turns out not to be the patch's base takes the whole file the archive carries
// beside the patch (the decision becomes a write); without one the item is refused (*refusal).
int PreparePatchedFile(ArchiveDecision& decision, const char* name, StagedUpdate* staged, int32_t* refusal) {
    *refusal = RefusedWithWriteFailure;
    const unsigned char* patch;
    const ArchiveEntry* entry = FindPatchEntry(name, &patch);
    char prepared[MAX_PATH];
    if (!entry || !FreePreparedName(decision.target, prepared)) return 0;
    PatchFault fault;
    if (ApplyPatch(decision.target, patch, entry->storedSize, prepared, &fault)) {
        FILETIME fileTime = decision.fileTime;
        if (StampFileTimes(prepared, &fileTime))
            return Stage(staged, decision.target, prepared, StagedReplace, &fileTime, 0);
        DeleteFileA(prepared);
        return 0;
    }
    // The walk saw a file there: one that cannot be read now is a failed read, not another release.
    if (fault != PatchBaseMismatch) return 0;
    if (!CarriesWholeEntry(name)) {
        *refusal = RefusedNotPatchBase;
        return 0;
    }
    decision.verdict = VerdictReplaced;
    return PrepareWrittenFile(decision, name, staged);
}

// The data rule's re-write: the kept content beside the target, taking the update's time. It does not
// matter whether it can be made (the content is the player's either way), so nothing here fails the run:
// a content that cannot be read again, or a file that cannot be prepared, leaves the player's file as it
// is. The content of an archive entry an earlier item writes there is the entry's.
void PrepareRewrite(const ArchiveDecision& decision, StagedUpdate* staged) {
    uint32_t size = 0;
    unsigned char* content = nullptr;
    int owned = 1;
    if (decision.content == ContentOfEntry) {
        content = FindEntryData(decision.source, &size);
        owned = ArchiveDataIsOwned(content);
    } else {
        content = ReadWholeFile(decision.source, &size);
    }
    if (!content) return;
    char prepared[MAX_PATH];
    if (PrepareWholeFile(decision.target, content, size, nullptr, prepared))
        Stage(staged, decision.target, prepared, StagedReplace, nullptr, 1);
    if (owned) GlobalFree(content);
}

} // namespace

int PrepareArchiveFiles(UpdateWalk* walk, StagedUpdate* staged) {
    for (int32_t index = 0; index < walk->archiveCount; ++index) {
        ArchiveDecision& decision = walk->archive[index];
        const UpdateItem& item = Updater.UpdateItems[index];
        // Whether it could be made is not examined: a missing base shows up as the write's failure. A
        // folder made here is removed again when the run does not complete.
        if (decision.createsFolder && staged && !CreateStagedFolder(staged, decision.folder))
            return Fail(decision, staged);
        switch (decision.verdict) {
        case VerdictWrittenNew:
        case VerdictReplaced:
            if (!PrepareWrittenFile(decision, item.path + item.nameOffset, staged))
                return Fail(decision, staged);
            break;
        case VerdictPatched: {
            // The plan's walk checked the base already; only the run applies the patch.
            int32_t refusal;
            if (staged && !PreparePatchedFile(decision, item.path + item.nameOffset, staged, &refusal))
                return Fail(decision, staged, refusal);
            break;
        }
        case VerdictKeptLater:
            // Kept as later: a read-only file still ends writable, once the update is committed.
            if (decision.readOnly && staged &&
                !Stage(staged, decision.target, "", StagedClearReadOnly, nullptr, 0))
                return Fail(decision, staged);
            break;
        case VerdictDataRewritten:
            if (staged) PrepareRewrite(decision, staged);
            break;
        default:
            break;
        }
    }
    return 1;
}
