// What tests control and read of the stand-in windows: fake dialogs made of control ids, top-level windows
// for FindWindowA, the modal dialog call driven by a test's script, and the state every window call left:
// texts, enabled, visible and checked states, the focus, the cursor, the foreground window and EndDialog's
// result. Windows live until Standin::ResetAll (an ended dialog stays readable).
#pragma once

#include "platform/win32.h"

namespace Standin {

// A dialog window (class "#32770") with one child control per id, all enabled and visible, with empty
// texts. Its procedure (may be null) receives SendDialogMessage's messages. Null when the stand-in's
// window table is full.
HWND CreateFakeDialog(const int* controlIds, int count, DLGPROC procedure);
// A top-level window that FindWindowA finds by class and title.
HWND CreateTopLevelWindow(const char* className, const char* title);
// Removes a window from FindWindowA's view (its state stays readable).
void DestroyFakeWindow(HWND window);

// The control ids that DialogBoxParamA gives a dialog made from the numeric template id.
void DefineDialogTemplate(int templateId, const int* controlIds, int count);
// Runs inside DialogBoxParamA after WM_INITDIALOG, standing for the dialog's message loop: it sends the
// user's commands with SendDialogMessage/ClickButton. DialogBoxParamA returns EndDialog's result, or -1
// when the dialog was never ended (or its template was never defined, as when the platform cannot
// create it).
typedef void (*DialogScript)(HWND dialog, void* data);
void SetDialogScript(DialogScript script, void* data);
// Template id, owner and parameter of the latest DialogBoxParamA call; DialogBoxCount counts the calls.
int DialogBoxCount();
int LastDialogTemplate();
HWND LastDialogOwner();
LPARAM LastDialogParameter();

// Calls the dialog's procedure as the message loop would; 0 when it has none.
INT_PTR SendDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// A button click: WM_COMMAND with the id, notification code 0 and the control's window.
INT_PTR ClickButton(HWND dialog, int id);

// Reading one window. A null window reads as empty, disabled, hidden and unchecked.
const char* WindowText(HWND window);
int WindowEnabled(HWND window);
int WindowVisible(HWND window);
UINT CheckedState(HWND window);   // BST_CHECKED or BST_UNCHECKED
int LastShowCommand(HWND window); // the command of the latest ShowWindow, -1 when none
// The same by dialog and control id (an id the dialog lacks reads as a null window).
const char* ControlText(HWND dialog, int id);
int IsControlEnabled(HWND dialog, int id);
int IsControlVisible(HWND dialog, int id);
UINT ControlChecked(HWND dialog, int id);

// The focused window and the id of that control (0 when none or not a control).
HWND FocusWindow();
int FocusedControlId();
// The resource id of the cursor last set (32512 IDC_ARROW, 32514 IDC_WAIT), 0 when none or null.
int CurrentCursorId();
// How often SetCursor was called (to tell "not touched" from "set again to the same").
int SetCursorCount();
HWND ForegroundWindow();
// Whether EndDialog was called for the dialog, and its result.
int DialogEnded(HWND dialog);
INT_PTR DialogResult(HWND dialog);

} // namespace Standin
