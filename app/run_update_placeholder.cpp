// Stands in for the update engine until it is part of the tree: leaves the completion page at once, so
// the wizard can be walked to its end.
#include "app/wizard_pages.h"
#include "update/plan_execution.h"

void RunUpdate(HWND window) {
    SetStatusText(window, "%s", "アップデートは完了しました");
    SetDlgItemTextA(window, IDOK, "完了");
    EnableControl(window, IDOK, 1);
    EnableControl(window, IDC_BACK, 0);
    EnableControl(window, IDCANCEL, 1);
    SetFocus(GetDlgItem(window, IDOK));
}
