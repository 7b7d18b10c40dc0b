// Stand-in windows and dialog controls that tests create and read. Owns a fixed table of windows (dialogs,
// their controls and top-level windows), the focus, the cursor, the foreground window, dialog templates
// (lists of control ids) and the script that stands for a modal dialog's message loop.
#include "tests/fakes/script.h"
#include "platform/standin/standin_state.h"
#include "tests/fakes/fakes_state.h"
#include "tests/fakes/window_script.h"

#include <cstring>

struct StandinWindow {
    int used;
    int alive; // FindWindowA sees it; cleared by DestroyFakeWindow
    int isDialog;
    StandinWindow* parent; // the dialog of a control; null for top-level windows
    int id;                // control id; 0 for top-level windows
    char className[260];
    char text[1024];
    int enabled;
    int visible;
    UINT checked;
    int showCommand;
    DLGPROC procedure;
    int ended;
    INT_PTR result;
};

struct StandinCursor {
    int resourceId;
};

namespace {

enum { WindowCapacity = 512, TemplateCapacity = 8, TemplateControlCapacity = 32 };

struct DialogTemplate {
    int templateId;
    int count;
    int ids[TemplateControlCapacity];
};

StandinWindow windows[WindowCapacity];
DialogTemplate templates[TemplateCapacity];
int templateCount = 0;
HWND focus = nullptr;
HWND foreground = nullptr;
StandinCursor cursors[2] = {{32512}, {32514}};
HCURSOR currentCursor = nullptr;
int cursorSets = 0;
Standin::DialogScript dialogScript = nullptr;
void* dialogScriptData = nullptr;
int dialogBoxes = 0;
int lastTemplate = 0;
HWND lastOwner = nullptr;
LPARAM lastParameter = 0;

bool IsStandinWindow(HWND window) {
    return window && window >= windows && window < windows + WindowCapacity && window->used;
}

HWND NewWindow(StandinWindow* parent, int id, const char* className) {
    for (StandinWindow& window : windows) {
        if (window.used) continue;
        memset(&window, 0, sizeof window);
        window.used = 1;
        window.alive = 1;
        window.parent = parent;
        window.id = id;
        window.enabled = 1;
        window.visible = 1;
        window.showCommand = -1;
        Standin::CopyHostText(window.className, sizeof window.className, className ? className : "");
        return &window;
    }
    return nullptr;
}

HWND ControlOf(HWND dialog, int id) {
    return IsStandinWindow(dialog) ? GetDlgItem(dialog, id) : nullptr;
}

// Resource ids arrive as MAKEINTRESOURCEA values: a pointer whose value fits 16 bits.
int ResourceIdOf(LPCSTR name) {
    uintptr_t value = reinterpret_cast<uintptr_t>(name);
    return value <= 0xFFFF ? static_cast<int>(value) : -1;
}

} // namespace

namespace Standin {

void ResetWindows() {
    memset(windows, 0, sizeof windows);
    memset(templates, 0, sizeof templates);
    templateCount = 0;
    focus = nullptr;
    foreground = nullptr;
    currentCursor = nullptr;
    cursorSets = 0;
    dialogScript = nullptr;
    dialogScriptData = nullptr;
    dialogBoxes = 0;
    lastTemplate = 0;
    lastOwner = nullptr;
    lastParameter = 0;
}

HWND CreateFakeDialog(const int* controlIds, int count, DLGPROC procedure) {
    HWND dialog = NewWindow(nullptr, 0, "#32770");
    if (!dialog) return nullptr;
    dialog->isDialog = 1;
    dialog->procedure = procedure;
    for (int i = 0; i < count; ++i) {
        if (!NewWindow(dialog, controlIds[i], "")) return nullptr;
    }
    return dialog;
}

HWND CreateTopLevelWindow(const char* className, const char* title) {
    HWND window = NewWindow(nullptr, 0, className);
    if (window) CopyHostText(window->text, sizeof window->text, title ? title : "");
    return window;
}

void DestroyFakeWindow(HWND window) {
    if (IsStandinWindow(window)) window->alive = 0;
}

void DefineDialogTemplate(int templateId, const int* controlIds, int count) {
    DialogTemplate* slot = nullptr;
    for (int i = 0; i < templateCount; ++i) {
        if (templates[i].templateId == templateId) slot = &templates[i];
    }
    if (!slot) {
        if (templateCount == TemplateCapacity) return;
        slot = &templates[templateCount++];
    }
    slot->templateId = templateId;
    slot->count = count < TemplateControlCapacity ? count : TemplateControlCapacity;
    for (int i = 0; i < slot->count; ++i)
        slot->ids[i] = controlIds[i];
}

void SetDialogScript(DialogScript script, void* data) {
    dialogScript = script;
    dialogScriptData = data;
}

int DialogBoxCount() {
    return dialogBoxes;
}
int LastDialogTemplate() {
    return lastTemplate;
}
HWND LastDialogOwner() {
    return lastOwner;
}
LPARAM LastDialogParameter() {
    return lastParameter;
}

INT_PTR SendDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!IsStandinWindow(dialog) || !dialog->procedure) return 0;
    return dialog->procedure(dialog, message, wParam, lParam);
}

INT_PTR ClickButton(HWND dialog, int id) {
    HWND control = ControlOf(dialog, id);
    WPARAM wParam = static_cast<WPARAM>(static_cast<WORD>(id)); // notification code 0 in the high half
    return SendDialogMessage(dialog, WM_COMMAND, wParam, reinterpret_cast<LPARAM>(control));
}

const char* WindowText(HWND window) {
    return IsStandinWindow(window) ? window->text : "";
}
int WindowEnabled(HWND window) {
    return IsStandinWindow(window) ? window->enabled : 0;
}
int WindowVisible(HWND window) {
    return IsStandinWindow(window) ? window->visible : 0;
}
UINT CheckedState(HWND window) {
    return IsStandinWindow(window) ? window->checked : BST_UNCHECKED;
}
int LastShowCommand(HWND window) {
    return IsStandinWindow(window) ? window->showCommand : -1;
}

const char* ControlText(HWND dialog, int id) {
    return WindowText(ControlOf(dialog, id));
}
int IsControlEnabled(HWND dialog, int id) {
    return WindowEnabled(ControlOf(dialog, id));
}
int IsControlVisible(HWND dialog, int id) {
    return WindowVisible(ControlOf(dialog, id));
}
UINT ControlChecked(HWND dialog, int id) {
    return CheckedState(ControlOf(dialog, id));
}

HWND FocusWindow() {
    return focus;
}
int FocusedControlId() {
    return IsStandinWindow(focus) && focus->parent ? focus->id : 0;
}
int CurrentCursorId() {
    return currentCursor ? currentCursor->resourceId : 0;
}
int SetCursorCount() {
    return cursorSets;
}
HWND ForegroundWindow() {
    return foreground;
}
int DialogEnded(HWND dialog) {
    return IsStandinWindow(dialog) ? dialog->ended : 0;
}
INT_PTR DialogResult(HWND dialog) {
    return IsStandinWindow(dialog) ? dialog->result : 0;
}

} // namespace Standin

BOOL SetWindowTextA(HWND window, LPCSTR text) {
    if (!IsStandinWindow(window)) return FALSE;
    Standin::CopyHostText(window->text, sizeof window->text, text ? text : "");
    return TRUE;
}

HWND GetDlgItem(HWND dialog, int id) {
    if (!IsStandinWindow(dialog)) return nullptr;
    for (StandinWindow& window : windows) {
        if (window.used && window.parent == dialog && window.id == id) return &window;
    }
    return nullptr;
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    return SetWindowTextA(GetDlgItem(dialog, id), text);
}

BOOL EnableWindow(HWND window, BOOL enable) {
    if (!IsStandinWindow(window)) return FALSE;
    BOOL wasDisabled = window->enabled ? FALSE : TRUE;
    window->enabled = enable ? 1 : 0;
    return wasDisabled;
}

BOOL ShowWindow(HWND window, int command) {
    if (!IsStandinWindow(window)) return FALSE;
    BOOL wasVisible = window->visible ? TRUE : FALSE;
    window->visible = command != SW_HIDE;
    window->showCommand = command;
    return wasVisible;
}

HWND SetFocus(HWND window) {
    if (window && !IsStandinWindow(window)) return nullptr;
    HWND previous = focus;
    focus = window;
    return previous;
}

BOOL CheckRadioButton(HWND dialog, int first, int last, int check) {
    if (!IsStandinWindow(dialog)) return FALSE;
    for (StandinWindow& window : windows) {
        if (!window.used || window.parent != dialog || window.id < first || window.id > last) continue;
        window.checked = window.id == check ? BST_CHECKED : BST_UNCHECKED;
    }
    return TRUE;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    if (!IsStandinWindow(dialog) || !dialog->isDialog) return FALSE;
    dialog->ended = 1;
    dialog->result = result;
    return TRUE;
}

HWND FindWindowA(LPCSTR className, LPCSTR title) {
    for (StandinWindow& window : windows) {
        if (!window.used || !window.alive || window.parent) continue;
        if (window.isDialog && window.ended) continue;
        if (className && lstrcmpiA(window.className, className) != 0) continue;
        if (title && lstrcmpiA(window.text, title) != 0) continue;
        return &window;
    }
    return nullptr;
}

BOOL SetForegroundWindow(HWND window) {
    if (!IsStandinWindow(window)) return FALSE;
    foreground = window;
    return TRUE;
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
    if (instance) return nullptr; // only the system's cursors exist here
    int id = ResourceIdOf(name);
    for (StandinCursor& cursor : cursors) {
        if (cursor.resourceId == id) return &cursor;
    }
    return nullptr;
}

HCURSOR SetCursor(HCURSOR cursor) {
    HCURSOR previous = currentCursor;
    currentCursor = cursor;
    ++cursorSets;
    return previous;
}

INT_PTR DialogBoxParamA(HINSTANCE, LPCSTR templateName, HWND owner, DLGPROC procedure, LPARAM parameter) {
    int templateId = ResourceIdOf(templateName);
    ++dialogBoxes;
    lastTemplate = templateId;
    lastOwner = owner;
    lastParameter = parameter;
    const DialogTemplate* found = nullptr;
    for (int i = 0; i < templateCount; ++i) {
        if (templates[i].templateId == templateId) found = &templates[i];
    }
    if (!found) return -1;
    HWND dialog = Standin::CreateFakeDialog(found->ids, found->count, procedure);
    if (!dialog) return -1;
    Standin::SendDialogMessage(dialog, WM_INITDIALOG, 0, parameter);
    if (!dialog->ended && dialogScript) dialogScript(dialog, dialogScriptData);
    dialog->alive = 0;
    return dialog->ended ? dialog->result : -1;
}
