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
#include "update/staged_update.h"
#include "update/update_plan.h"

#include <cstring>

namespace {

// 1 when the run may go on; 0 after the short-of-space page, which leaves "戻る" and "中止" to the user.
// A drive whose free space cannot be queried (an installation path without a drive letter) is not held
// up: the archive writes check each file's space again and fail with their own message.
int CheckFreeSpace(HWND window) {
    char value[260];
    if (!ReadProfileValue("UPDATE", "RequiredDiskSpace", value, sizeof value)) return 1;
    int32_t required = ConvertDecimal(value);
    if (required == 0) return 1;

    char drive[3];
    CopyText(drive, sizeof drive, Updater.Install.InstPath);
    ULARGE_INTEGER freeToCaller, totalBytes;
    freeToCaller.QuadPart = 0;
    totalBytes.QuadPart = 0;
    if (!QueryDiskSpace(drive, &freeToCaller, &totalBytes, nullptr)) return 1;

    uint32_t needed = static_cast<uint32_t>(required);
    if (freeToCaller.u.HighPart != 0 || needed <= freeToCaller.u.LowPart) return 1;

    SetStatusText(window, "ディスク容量が足りません。\r%s ドライブに %i バイトの空き容量が必要です", drive,
                  static_cast<int>(static_cast<int32_t>(needed - freeToCaller.u.LowPart)));
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
        ShowError("ファイルの書き込みに失敗しました");
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
        ShowError("アップデートする必要のあるファイルはありません");
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
