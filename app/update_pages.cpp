// The pages of the update run (update_pages.h). The engine decides and does; this is the only place that
// draws its pages and ends the dialog after it.
#include "app/update_pages.h"

#include "report/wizard_pages.h"
#include "update/plan_execution.h"

namespace {

// "戻る" and "中止" are left to the user.
void ShowShortOfSpacePage(HWND window, const RequiredSpace& space) {
    SetStatusText(window, ShortOfSpaceText, space.drive, static_cast<int>(space.shortfall));
    EnableControl(window, IDC_BACK, 1);
    EnableControl(window, IDOK, 0);
    EnableControl(window, IDCANCEL, 1);
    // The busy page's wait cursor is set only once the space was there at the start.
    if (space.preparedBytes != 0) SetCursor(LoadCursorA(nullptr, IDC_ARROW));
}

void ShowBusyPage(HWND window) {
    SetStatusText(window, "アップデートを実行しています");
    EnableControl(window, IDC_BACK, 0);
    EnableControl(window, IDOK, 0);
    EnableControl(window, IDCANCEL, 0);
    SetCursor(LoadCursorA(nullptr, IDC_WAIT));
}

void ShowCopyPage(HWND window, const char* path) {
    SetStatusText(window, "%s をコピーしています", path);
}

// "戻る" and "中止" stay disabled: "完了" is the only way on.
void ShowCompletionPage(HWND window) {
    SetStatusText(window, "アップデートは完了しました");
    SetDlgItemTextA(window, IDOK, "完了");
    EnableControl(window, IDOK, 1);
    SetFocus(GetDlgItem(window, IDOK));
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
}

} // namespace

void RunUpdate(HWND window) {
    // Its decisions, about 18 KB, kept out of the stack; the wizard runs one update at a time.
    static UpdateWalk walk;
    BeginWalk(&walk, 1);
    UpdateRunOptions options = {};
    options.progress.busy = ShowBusyPage;
    options.progress.copying = ShowCopyPage;
    RequiredSpace space;
    int overwriteOnly;
    UpdateOutcome outcome = RunUpdateEngine(window, options, &walk, &space, &overwriteOnly);
    EndWalk(&walk);
    switch (outcome) {
    case UpdateCompleted:
    case UpdateNothingToDo:
        ShowCompletionPage(window);
        break;
    case UpdateShortOfSpace:
        ShowShortOfSpacePage(window, space);
        break;
    default:
        EndDialog(window, -1);
        break;
    }
}
