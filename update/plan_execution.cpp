// The update engine: the free-space check of the installation drive, the plan, the walk of decisions, the
// preparation of the archive files and disc copies, and their commit. Nothing installed changes until
// every item is prepared; a failure or cancel before that deletes what was prepared, and a failure during
// the commit puts every old file back. Owns the record of one run's prepared changes; each run starts
// from the section again.
#include "update/plan_execution.h"

#include "context/updater_context.h"
#include "platform/text_format.h"
#include "report/messages.h"
#include "update/archive_writes.h"
#include "update/staged_update.h"

#include <cstring>

namespace {

// Named after the failure's own box when the rollback could not put a file back.
const char RollbackFailedText[] = "元に戻せなかったファイルがあります：\r%s\r"
                                  "元のファイルがあれば、同じフォルダーに .~bk の付いた名前で残っています";

DiscSearch AskForDisc(int disk, char* root, size_t rootCapacity, void* data) {
    return FindCopySource(static_cast<HWND>(data), disk, root, rootCapacity) ? DiscFound : DiscCancelled;
}

// Preparing needs room for every prepared file while the old files are still there: when the update
// checks space at all, it asks for the larger of "RequiredDiskSpace" and what it prepares on that drive.
int EnoughForPrepared(RequiredSpace* space, uint64_t preparedBytes) {
    space->preparedBytes = preparedBytes;
    if (space->required == 0 || !space->checked) return 1;
    uint64_t needed = static_cast<uint32_t>(space->required);
    if (preparedBytes > needed) needed = preparedBytes;
    if (needed <= space->freeBytes.QuadPart) return 1;
    uint64_t shortfall = needed - space->freeBytes.QuadPart;
    space->shortfall = shortfall > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(shortfall);
    return 0;
}

void ShowRefusal(HWND window, int32_t refusal, const char* path) {
    if (refusal == RefusedWithWriteFailure) ShowError(WriteFailedText);
    if (refusal == RefusedWithCopyFailure) ShowCopyFailure(window, path);
    if (refusal == RefusedNotPatchBase) ShowNotPatchBase(path);
}

// The copies, in list order, each decided once its disc is found. A dry run stops at a disc no drive holds.
UpdateOutcome CopyItems(HWND window, const UpdateRunOptions& options, UpdateWalk* walk,
                        StagedUpdate* staged) {
    DiscFinder finder = options.finder ? options.finder : AskForDisc;
    void* finderData = options.finder ? options.finderData : window;
    while (walk->copyCount < Updater.CopyCount) {
        const CopyItem& item = Updater.CopyItems[walk->copyCount];
        int decided = DecideCopyItem(walk, finder, finderData);
        CopyDecision& decision = walk->copies[walk->copyCount - 1];
        if (!decided) {
            if (decision.verdict == VerdictDiscMissing) return UpdateWaitsForDisc;
            if (staged) DiscardStagedUpdate(staged);
            ShowRefusal(window, decision.refusal, item.path);
            return decision.refusal == RefusedSilently ? UpdateCancelled : UpdateFailed;
        }
        if (!staged) {
            // The shell cannot copy what is not there.
            if (!decision.sourceMissing) continue;
            decision.verdict = VerdictRefused;
            decision.refusal = RefusedWithCopyFailure;
            ShowRefusal(window, decision.refusal, item.path);
            return UpdateFailed;
        }
        int cancelled = 0;
        if (!CopyDecidedItem(window, item, decision, staged, options.progress.copying, &cancelled)) {
            decision.verdict = VerdictRefused;
            decision.refusal = cancelled ? RefusedSilently : RefusedWithCopyFailure;
            return cancelled ? UpdateCancelled : UpdateFailed;
        }
    }
    return UpdateCompleted;
}

// The commit of everything prepared. 0 after the rollback and the message the failed item shows when its
// write or copy fails, and the message that names an old file the rollback could not put back.
int CommitPrepared(HWND window, StagedUpdate* staged) {
    const StagedChange* failed = nullptr;
    if (CommitStagedUpdate(staged, &failed)) return 1;
    if (failed->message == StagedCopyMessage)
        ShowCopyFailure(window, failed->planPath);
    else
        ShowError(WriteFailedText);
    if (staged->unrestored[0] != '\0') {
        char message[1024];
        FormatText(message, sizeof message, RollbackFailedText, staged->unrestored);
        ShowError(message);
    }
    return 0;
}

} // namespace

UpdateOutcome RunUpdateEngine(HWND window, const UpdateRunOptions& options, UpdateWalk* walk,
                              RequiredSpace* space, int* overwriteOnly) {
    *overwriteOnly = 0;
    if (!MeasureRequiredSpace(space) && !options.dryRun) return UpdateShortOfSpace;
    if (options.progress.busy) options.progress.busy(window);

    if (!ReadUpdatePlanEntries(overwriteOnly, options.entrySeen, options.entryData)) return UpdateFailed;
    if (Updater.UpdateCount == 0 && Updater.CopyCount == 0) {
        ShowError(NothingToUpdateText);
        return UpdateNothingToDo;
    }
    walk->checkPatchBases = options.dryRun;
    if (!DecideArchiveItems(walk, *overwriteOnly)) {
        const ArchiveDecision& refused = walk->archive[walk->archiveCount - 1];
        ShowRefusal(window, refused.refusal, refused.target);
        return UpdateFailed;
    }
    if (space->shortfall == 0 && !EnoughForPrepared(space, walk->installDriveBytes) && !options.dryRun)
        return UpdateShortOfSpace;

    // About 42 KB, kept out of the stack; the wizard runs one update at a time (WizardBusy).
    static StagedUpdate record;
    StagedUpdate* staged = options.dryRun ? nullptr : &record;
    if (staged) BeginStagedUpdate(staged);
    if (!PrepareArchiveFiles(walk, staged)) return UpdateFailed;
    UpdateOutcome copied = CopyItems(window, options, walk, staged);
    if (copied != UpdateCompleted) return copied;
    if (staged && !CommitPrepared(window, staged)) return UpdateFailed;
    return UpdateCompleted;
}
