// The update run behind the wizard's second "次へ": the free-space check of the installation drive, the
// busy page, the plan, the preparation of the archive files and disc copies, their commit, and the
// completion page. Nothing installed changes until every item is prepared; a failure or cancel before
// that deletes what was prepared, and a failure during the commit puts every old file back. Owns the
// record of one run's prepared changes; each run starts from the section again.
#include "update/plan_execution.h"

#include "report/wizard_pages.h"
#include "archive/disk_space.h"
#include "context/updater_context.h"
#include "report/messages.h"
#include "platform/text_format.h"
#include "setupcfg/profile_access.h"
#include "update/archive_writes.h"
#include "update/disk_copies.h"
#include "update/run_checks.h"
#include "update/staged_update.h"
#include "update/update_plan.h"

#include <cstring>

namespace {

// 1 when the run may go on; 0 after the short-of-space page, which leaves "戻る" and "中止" to the user.
int CheckFreeSpace(HWND window) {
    RequiredSpace space;
    if (MeasureRequiredSpace(&space)) return 1;
    SetStatusText(window, ShortOfSpaceText, space.drive, static_cast<int>(space.shortfall));
    EnableControl(window, IDC_BACK, 1);
    EnableControl(window, IDOK, 0);
    EnableControl(window, IDCANCEL, 1);
    return 0;
}

void ShowBusyPage(HWND window) {
    SetStatusText(window, "アップデートを実行しています");
    EnableControl(window, IDC_BACK, 0);
    EnableControl(window, IDOK, 0);
    EnableControl(window, IDCANCEL, 0);
    SetCursor(LoadCursorA(nullptr, IDC_WAIT));
}

// "戻る" and "中止" stay disabled: "完了" is the only way on.
void ShowCompletionPage(HWND window) {
    SetStatusText(window, "アップデートは完了しました");
    SetDlgItemTextA(window, IDOK, "完了");
    EnableControl(window, IDOK, 1);
    SetFocus(GetDlgItem(window, IDOK));
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
}

// The commit of everything prepared. 1 when it is all in place; 0 after the rollback, the message that
// the failed item shows when its write or copy fails, and EndDialog(window, -1).
int CommitPrepared(HWND window, StagedUpdate* staged) {
    const StagedChange* failed = nullptr;
    if (CommitStagedUpdate(staged, &failed)) return 1;
    if (failed->message == StagedCopyMessage)
        ShowCopyFailure(window, failed->planPath);
    else
        ShowError(WriteFailedText);
    EndDialog(window, -1);
    return 0;
}

} // namespace

void RunUpdate(HWND window) {
    if (!CheckFreeSpace(window)) return;
    ShowBusyPage(window);

    int overwriteOnly = 0;
    if (!ReadUpdatePlan(&overwriteOnly)) {
        EndDialog(window, -1);
        return;
    }
    if (Updater.UpdateCount == 0 && Updater.CopyCount == 0) {
        ShowError(NothingToUpdateText);
    } else {
        // About 42 KB, kept out of the stack; the wizard runs one update at a time (WizardBusy).
        static StagedUpdate staged;
        BeginStagedUpdate(&staged);
        if (Updater.UpdateCount != 0 && !PrepareArchiveFiles(window, overwriteOnly, &staged)) return;
        if (Updater.CopyCount != 0 && !CopyFromDisks(window, &staged)) return;
        if (!CommitPrepared(window, &staged)) return;
    }
    ShowCompletionPage(window);
}
