// The stand-in windows that the engine's and the wizard's tests read: controls by id, radio groups, focus,
// top-level windows found by class and title, and the modal dialog call driven by a script.
#include "tests/fakes/script.h"
#include "tests/fakes/window_script.h"

#include <doctest/doctest.h>

#include <string>

namespace {

struct Trace {
    int initialised;
    int commands;
    LPARAM parameter;
};
Trace trace;

INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ++trace.initialised;
        trace.parameter = lParam;
        SetWindowTextA(dialog, "Caption");
    } else if (message == WM_COMMAND && HIWORD(wParam) == 0) {
        ++trace.commands;
        if (LOWORD(wParam) == IDCANCEL) EndDialog(dialog, -1);
        if (LOWORD(wParam) == IDOK) EndDialog(dialog, 0);
    }
    return 0;
}

void ClickCancelWhileFound(HWND dialog, void*) {
    CHECK(FindWindowA("#32770", "caption") == dialog); // titles match without regard to case
    Standin::ClickButton(dialog, 1003);
    Standin::ClickButton(dialog, IDCANCEL);
}

} // namespace

TEST_CASE("controls of a fake dialog keep what the window calls set") {
    Standin::ResetAll();
    const int ids[] = {IDOK, 1002, 1003, 1004};
    HWND dialog = Standin::CreateFakeDialog(ids, 4, nullptr);
    REQUIRE(dialog != nullptr);
    CHECK(GetDlgItem(dialog, 77) == nullptr);
    CHECK_FALSE(SetDlgItemTextA(dialog, 77, "x"));
    CHECK(SetDlgItemTextA(dialog, IDOK, "完了"));
    CHECK(std::string(Standin::ControlText(dialog, IDOK)) == "完了");
    CHECK(EnableWindow(GetDlgItem(dialog, IDOK), FALSE) == FALSE); // was enabled
    CHECK(EnableWindow(GetDlgItem(dialog, IDOK), TRUE) != FALSE);  // was disabled
    ShowWindow(GetDlgItem(dialog, 1004), SW_HIDE);
    CHECK_FALSE(Standin::IsControlVisible(dialog, 1004));
    CHECK(Standin::LastShowCommand(GetDlgItem(dialog, 1004)) == SW_HIDE);
    CheckRadioButton(dialog, 1002, 1003, 1003);
    CHECK(Standin::ControlChecked(dialog, 1002) == BST_UNCHECKED);
    CHECK(Standin::ControlChecked(dialog, 1003) == BST_CHECKED);
    CHECK(Standin::ControlChecked(dialog, 1004) == BST_UNCHECKED);
    SetFocus(GetDlgItem(dialog, IDOK));
    CHECK(Standin::FocusedControlId() == IDOK);
    CHECK(Standin::CurrentCursorId() == 0);
    SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    CHECK(Standin::CurrentCursorId() == 32514);
    CHECK(LoadCursorA(nullptr, MAKEINTRESOURCEA(1)) == nullptr);
}

TEST_CASE("top-level windows are found by class and title") {
    Standin::ResetAll();
    HWND game = Standin::CreateTopLevelWindow("GameClass", "Game");
    CHECK(FindWindowA("GameClass", nullptr) == game);
    CHECK(FindWindowA("gameclass", "game") == game);
    CHECK(FindWindowA(nullptr, "Game") == game);
    CHECK(FindWindowA("Other", nullptr) == nullptr);
    CHECK(SetForegroundWindow(game));
    CHECK(Standin::ForegroundWindow() == game);
    Standin::DestroyFakeWindow(game);
    CHECK(FindWindowA("GameClass", nullptr) == nullptr);
}

TEST_CASE("DialogBoxParamA: template controls, WM_INITDIALOG, the script, EndDialog's result") {
    Standin::ResetAll();
    trace = Trace{0, 0, 0};
    const int ids[] = {IDOK, IDCANCEL, 1003};
    Standin::DefineDialogTemplate(100, ids, 3);
    Standin::SetDialogScript(ClickCancelWhileFound, nullptr);
    CHECK(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(100), nullptr, Procedure, 42) == -1);
    CHECK(trace.initialised == 1);
    CHECK(trace.parameter == 42);
    CHECK(trace.commands == 2);
    CHECK(Standin::LastDialogTemplate() == 100);
    CHECK(FindWindowA("#32770", nullptr) == nullptr); // gone once the call returned

    Standin::SetDialogScript(nullptr, nullptr);
    CHECK(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(101), nullptr, Procedure, 0) == -1); // no such template
    CHECK(Standin::DialogBoxCount() == 2);
}
