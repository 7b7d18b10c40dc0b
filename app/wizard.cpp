// The wizard dialog: the start page (with the agreement when there is one), the confirmation page, and the
// page machine that runs the update on the second "次へ". Owns Updater.WizardStep, Updater.WizardBusy and
// Updater.OwnerWindow while the window exists.
#include "app/wizard.h"

#include "report/wizard_pages.h"
#include "context/updater_context.h"
#include "app/update_pages.h"

namespace {
void HideAgreement(HWND dialog) {
    ShowControl(dialog, IDC_AGREEMENT_TEXT, SW_HIDE);
    ShowControl(dialog, IDC_AGREE, SW_HIDE);
    ShowControl(dialog, IDC_DISAGREE, SW_HIDE);
}

void EndCompleted(HWND dialog) {
    EndDialog(dialog, 0);
}

// The wizard's transitions: on a page, a button's action and the page it leads to. A button without a
// transition on the shown page (as "戻る", disabled before the update ran) does nothing.
struct Transition {
    WizardPage from;
    int button;
    void (*action)(HWND dialog);
    WizardPage to;
};
const Transition Transitions[] = {
    {WizardStartPage, IDOK, ShowConfirmPage, WizardConfirmPage},
    {WizardConfirmPage, IDOK, RunUpdate, WizardUpdateRan},
    {WizardUpdateRan, IDOK, EndCompleted, WizardEnded},
    {WizardUpdateRan, IDC_BACK, ShowConfirmPage, WizardConfirmPage},
};

// "次へ" and "戻る". The busy flag keeps the commands that nested message loops (boxes, the shell's copy)
// deliver while the update runs from re-entering the page machine.
void Step(HWND dialog, int id) {
    if (Updater.WizardBusy) return;
    Updater.WizardBusy = 1;
    SetDlgItemTextA(dialog, IDC_INFO, "");
    for (const Transition& transition : Transitions) {
        if (transition.from != Updater.WizardStep || transition.button != id) continue;
        transition.action(dialog);
        Updater.WizardStep = transition.to;
        break;
    }
    Updater.WizardBusy = 0;
}

void Command(HWND dialog, int id) {
    switch (id) {
    case IDOK:
    case IDC_BACK:
        Step(dialog, id);
        break;
    case IDCANCEL:
        // Escape and the close box arrive here too; while the update runs they must not end the dialog.
        if (!Updater.WizardBusy) EndDialog(dialog, -1);
        break;
    case IDC_AGREE:
        EnableControl(dialog, IDOK, 1);
        CheckRadioButton(dialog, IDC_AGREE, IDC_DISAGREE, IDC_AGREE);
        break;
    case IDC_DISAGREE:
        EnableControl(dialog, IDOK, 0);
        CheckRadioButton(dialog, IDC_AGREE, IDC_DISAGREE, IDC_DISAGREE);
        break;
    default:
        break;
    }
}
} // namespace

void ShowStartPage(HWND dialog) {
    Updater.OwnerWindow = dialog;
    Updater.WizardBusy = 0;
    Updater.WizardStep = WizardStartPage;
    SetWindowTextA(dialog, Updater.Caption);
    // The title is shown as written: "%s" keeps a "%" in it from being read as a format.
    if (Updater.AgreementTitleData)
        SetStatusText(dialog, "%s", Updater.AgreementTitleData);
    else
        SetStatusText(dialog, "「%s」のアップデートを開始します", Updater.Setup.GameTitle);
    EnableControl(dialog, IDC_BACK, 0);
    EnableControl(dialog, IDCANCEL, 1);
    if (Updater.AgreementTextData) {
        EnableControl(dialog, IDOK, 0);
        SetDlgItemTextA(dialog, IDC_AGREEMENT_TEXT, Updater.AgreementTextData);
        EnableControl(dialog, IDC_AGREEMENT_TEXT, 1);
        EnableControl(dialog, IDC_AGREE, 1);
        EnableControl(dialog, IDC_DISAGREE, 1);
        CheckRadioButton(dialog, IDC_AGREE, IDC_DISAGREE, IDC_DISAGREE);
        ShowControl(dialog, IDC_AGREEMENT_TEXT, SW_SHOW);
        ShowControl(dialog, IDC_AGREE, SW_SHOW);
        ShowControl(dialog, IDC_DISAGREE, SW_SHOW);
    } else {
        EnableControl(dialog, IDOK, 1);
        HideAgreement(dialog);
    }
}

void ShowConfirmPage(HWND dialog) {
    SetDlgItemTextA(dialog, IDC_INFO, "アップデートを実行します");
    EnableControl(dialog, IDC_BACK, 0);
    EnableControl(dialog, IDOK, 1);
    EnableControl(dialog, IDCANCEL, 1);
    HideAgreement(dialog);
}

INT_PTR CALLBACK WizardDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        ShowStartPage(dialog);
        return FALSE;
    case WM_COMMAND:
        if (HIWORD(wParam) == 0) Command(dialog, LOWORD(wParam));
        return FALSE;
    case WM_SETCURSOR:
        if (!Updater.WizardBusy) return FALSE;
        SetCursor(LoadCursorA(nullptr, IDC_WAIT));
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR RunWizard(HINSTANCE instance) {
    int templateId = Updater.AgreementTextData ? IDD_UPDATE_AGREEMENT : IDD_UPDATE;
    INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId), nullptr, WizardDialogProc, 0);
    // The window is gone: later boxes must not name it as their owner.
    Updater.OwnerWindow = nullptr;
    return result;
}
