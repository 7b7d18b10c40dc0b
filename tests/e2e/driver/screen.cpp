// Reading the screen: windows of a process, the wizard and the message boxes among them, the state of their
// controls, and a dump of every window for a failure's report.
#include "tests/e2e/driver/driver.h"

#include <cstdio>
#include <cstring>

namespace e2e {

namespace {
struct Collect {
    DWORD process;
    bool visibleOnly;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectTop(HWND window, LPARAM parameter) {
    Collect* collect = reinterpret_cast<Collect*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == collect->process && (!collect->visibleOnly || IsWindowVisible(window)))
        collect->windows.push_back(window);
    return TRUE;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM parameter) {
    reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(window);
    return TRUE;
}
} // namespace

std::string ClassOf(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// Text of a window of another process; asks the window itself (controls such as the edit keep their text
// to themselves) and falls back to the system's copy when its thread does not answer.
std::string TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) length = 4096;
    std::vector<char> buffer(length + 1024, '\0');
    DWORD_PTR copied = 0;
    if (SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                            SMTO_ABORTIFHUNG, 2000, &copied))
        return std::string(buffer.data(), copied);
    int got = GetWindowTextA(window, buffer.data(), static_cast<int>(buffer.size()));
    return std::string(buffer.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

bool HasStyle(HWND window, LONG style) {
    return (GetWindowLongA(window, GWL_STYLE) & style) == style;
}

std::vector<HWND> TopWindows(DWORD process, bool visibleOnly) {
    Collect collect{process, visibleOnly, {}};
    EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&collect));
    return collect.windows;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&children));
    return children;
}

bool IsDialogClass(HWND window) {
    return ClassOf(window) == "#32770";
}

// The wizard is the process's dialog with the page text IDC_INFO; every other dialog of it is a box.
bool IsWizard(HWND window) {
    return IsDialogClass(window) && GetDlgItem(window, IdInfo) != nullptr;
}

HWND BoxText(HWND box) {
    HWND text = GetDlgItem(box, 0xFFFF);
    if (!text) text = GetDlgItem(box, 100); // Wine numbers the text of its message box 100
    return text;
}

bool IsBox(HWND window) {
    return IsDialogClass(window) && !IsWizard(window) && BoxText(window) != nullptr;
}

void DumpWindows() {
    for (auto& entry : Processes) {
        DWORD code = 0;
        GetExitCodeProcess(entry.second.process, &code);
        std::printf("  process %s (pid %lu): %s\n", entry.first.c_str(), entry.second.id,
                    code == STILL_ACTIVE ? "running" : ("ended with status " + std::to_string(code)).c_str());
        for (HWND top : TopWindows(entry.second.id, false)) {
            if (!IsWindowVisible(top) && !IsDialogClass(top)) continue;
            HWND owner = GetWindow(top, GW_OWNER);
            std::printf("    window %p class %s caption %s %s%s owner %p\n", static_cast<void*>(top),
                        ClassOf(top).c_str(), Show(TextOf(top)).c_str(),
                        IsWindowVisible(top) ? "visible" : "hidden", IsWindowEnabled(top) ? "" : " disabled",
                        static_cast<void*>(owner));
            for (HWND child : Children(top))
                std::printf("      id %d class %s text %s%s%s\n", GetDlgCtrlID(child), ClassOf(child).c_str(),
                            Show(TextOf(child)).c_str(), HasStyle(child, WS_VISIBLE) ? "" : " hidden",
                            IsWindowEnabled(child) ? "" : " disabled");
        }
    }
    HWND foreground = GetForegroundWindow();
    if (foreground)
        std::printf("  foreground window %p class %s caption %s\n", static_cast<void*>(foreground),
                    ClassOf(foreground).c_str(), Show(TextOf(foreground)).c_str());
}

HWND FindWizard(const Started& started) {
    for (HWND window : TopWindows(started.id, false))
        if (IsWizard(window)) return window;
    return nullptr;
}

std::vector<HWND> FindBoxes(const Started& started) {
    std::vector<HWND> boxes;
    for (HWND window : TopWindows(started.id, true))
        if (IsBox(window)) boxes.push_back(window);
    return boxes;
}

std::string ControlState(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    if (!control) return "absent";
    if (!HasStyle(control, WS_VISIBLE)) return "hidden";
    return IsWindowEnabled(control) ? "enabled" : "disabled";
}

int ControlId(const std::string& name) {
    if (name == "next") return IdNext;
    if (name == "cancel") return IdCancel;
    if (name == "back") return IdBack;
    if (name == "agree") return IdAgree;
    if (name == "disagree") return IdDisagree;
    if (name == "agreement") return IdAgreementText;
    if (name == "info") return IdInfo;
    char* end = nullptr;
    long id = std::strtol(name.c_str(), &end, 0);
    if (name.empty() || *end) ScriptError(("unknown control " + name).c_str());
    return static_cast<int>(id);
}

std::string ButtonName(int id) {
    static const char* names[] = {"",    "OK", "CANCEL", "ABORT", "RETRY",    "IGNORE",
                                  "YES", "NO", "CLOSE",  "HELP",  "TRYAGAIN", "CONTINUE"};
    if (id >= 1 && id <= 11) return names[id];
    return std::to_string(id);
}

int ButtonId(const std::string& name) {
    for (int id = 1; id <= 11; ++id)
        if (ButtonName(id) == name) return id;
    ScriptError(("unknown box button " + name).c_str());
}

std::string BoxButtons(HWND box) {
    std::string list;
    for (HWND child : Children(box)) {
        if (ClassOf(child) != "Button" || !HasStyle(child, WS_VISIBLE)) continue;
        if (!list.empty()) list += ",";
        list += ButtonName(GetDlgCtrlID(child));
    }
    return list;
}

std::string BoxIcon(HWND box) {
    HWND icon = GetDlgItem(box, IdBoxIcon);
    if (!icon || !HasStyle(icon, WS_VISIBLE)) return "none";
    DWORD_PTR handle = 0;
    SendMessageTimeoutA(icon, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &handle);
    // Icon handles of another process cannot be compared with ours; the updater shows only the error icon or
    // none, so a shown icon is taken for the error icon.
    return handle ? "error" : "none";
}

std::string OwnerName(HWND window, const Started& started) {
    HWND owner = GetWindow(window, GW_OWNER);
    if (!owner) return "none";
    if (owner == FindWizard(started)) return "wizard";
    return "other window (" + ClassOf(owner) + " " + Show(TextOf(owner)) + ")";
}

} // namespace e2e
