// The end-to-end driver's parts (e2e_driver.cpp says what the program does): the script's lines and texts
// (script.cpp), reading what is on the screen (screen.cpp) and the steps that act and check (steps.cpp).
#pragma once

#include <windows.h>

#include "resources/resource.h"

#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace e2e {

const int PollMs = 25;
const int IdNext = IDOK, IdCancel = IDCANCEL, IdBack = IDC_BACK, IdAgreementText = IDC_AGREEMENT_TEXT,
          IdInfo = IDC_INFO, IdAgree = IDC_AGREE, IdDisagree = IDC_DISAGREE;
const int IdBoxIcon = 0x440; // stc1, the icon of a message box

extern DWORD DefaultTimeoutMs;
extern LARGE_INTEGER ScriptStart; // for the stopwatch step
extern std::string ScriptPath;
extern std::string UpdaterPath;
extern std::string GamePath;
extern int LineNumber; // the script line being run, for the messages
extern std::string LineText;

struct Started {
    HANDLE process;
    DWORD id;
    bool isUpdater;
};
extern std::map<std::string, Started> Processes; // by the name the script gave them
extern std::set<std::string> TempBefore;         // the temporary folder's files before the script ran
extern std::map<std::string, HANDLE> LockedFiles;

// Texts (script.cpp): code page conversion, a shown text for the log, a script value as shown bytes.
std::string Convert(const std::string& text, UINT from, UINT to);
std::string Show(const std::string& cp932);
std::string ScriptText(const std::string& utf8);
// A step that did not hold (exit status 1) and a script that cannot be run (exit status 2).
[[noreturn]] void Failure(const char* format, ...);
[[noreturn]] void ScriptError(const char* message);
std::string Compare(const char* what, const std::string& expected, const std::string& actual);

struct Step {
    std::string verb;
    std::vector<std::string> words;            // positional arguments
    std::map<std::string, std::string> values; // key=value arguments, raw UTF-8 with escapes
    std::set<std::string> used;

    bool Has(const char* key) const { return values.count(key) != 0; }
    std::string Raw(const char* key) {
        used.insert(key);
        return values[key];
    }
    std::string Text(const char* key) { return ScriptText(Raw(key)); }
    DWORD Number(const char* key, DWORD fallback) {
        if (!Has(key)) return fallback;
        return static_cast<DWORD>(std::strtoul(Raw(key).c_str(), nullptr, 0));
    }
    void CheckAllUsed() const {
        for (auto& entry : values)
            if (!used.count(entry.first)) ScriptError(("unknown argument " + entry.first).c_str());
    }
};

// One script line as its verb, positional words and key=value arguments.
Step Parse(const std::string& line);

// The screen (screen.cpp).
std::string ClassOf(HWND window);
std::string TextOf(HWND window);
bool HasStyle(HWND window, LONG style);
std::vector<HWND> TopWindows(DWORD process, bool visibleOnly);
std::vector<HWND> Children(HWND parent);
bool IsDialogClass(HWND window);
bool IsWizard(HWND window);
HWND BoxText(HWND box);
bool IsBox(HWND window);
void DumpWindows();
HWND FindWizard(const Started& started);
std::vector<HWND> FindBoxes(const Started& started);
std::string ControlState(HWND dialog, int id);
int ControlId(const std::string& name);
std::string ButtonName(int id);
int ButtonId(const std::string& name);
std::string BoxButtons(HWND box);
std::string BoxIcon(HWND box);
std::string OwnerName(HWND window, const Started& started);

// Polls check() until it gives an empty string (success) or the time is up; then the last complaint fails
// the step. A check that cannot succeed any more (its process ended) says so by starting with "!".
template <typename Check> void WaitFor(DWORD timeoutMs, Check check) {
    DWORD start = GetTickCount();
    std::string complaint;
    for (;;) {
        complaint = check();
        if (complaint.empty()) return;
        if (complaint[0] == '!' || GetTickCount() - start > timeoutMs) break;
        Sleep(PollMs);
    }
    Failure("%s", complaint[0] == '!' ? complaint.c_str() + 1 : complaint.c_str());
}

// Processes and steps (steps.cpp).
bool Exited(const Started& started, DWORD* code);
std::set<std::string> TempFiles();
void Run(Step& step);

} // namespace e2e
