// The wizard: the updater's only window and its main loop.
#pragma once

#include "platform/win32.h"

INT_PTR CALLBACK WizardDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void ShowStartPage(HWND dialog);
void ShowConfirmPage(HWND dialog);
// Opens the wizard with no owner, template 101 when there is an agreement text, 100 otherwise, and returns
// the dialog's result (0 after "完了"). Updater.OwnerWindow is cleared again once the window is gone.
INT_PTR RunWizard(HINSTANCE instance);
