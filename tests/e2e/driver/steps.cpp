// The steps: starting the updater and the game, checking pages, boxes, windows, files and exit statuses,
// pressing buttons and keys, and the script's own file, registry and timing work.
#include "tests/e2e/driver/driver.h"

#include <cstdio>
#include <cstring>

namespace e2e {

std::set<std::string> TempBefore;
std::map<std::string, HANDLE> LockedFiles;

Started& ProcessNamed(Step& step) {
    std::string name = step.Has("process") ? step.Raw("process") : "main";
    auto found = Processes.find(name);
    if (found == Processes.end()) ScriptError(("no process started as " + name).c_str());
    return found->second;
}

bool Exited(const Started& started, DWORD* code) {
    if (WaitForSingleObject(started.process, 0) != WAIT_OBJECT_0) return false;
    GetExitCodeProcess(started.process, code);
    return true;
}

// Files in the temporary folder, to find what a run leaves behind.
std::set<std::string> TempFiles() {
    char folder[MAX_PATH] = {};
    GetTempPathA(sizeof folder, folder);
    std::set<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((std::string(folder) + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (std::strcmp(found.cFileName, ".") && std::strcmp(found.cFileName, ".."))
            names.insert(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

namespace {

std::string ProcessGone(const Started& started) {
    DWORD code = 0;
    if (Exited(started, &code)) return "!  the process ended with status " + std::to_string(code) + "\n";
    return "";
}

void Start(Step& step) {
    std::string name = step.Has("process") ? step.Raw("process") : "main";
    if (Processes.count(name)) ScriptError("process name already in use");
    std::string commandLine = "\"" + UpdaterPath + "\"";
    std::string directory = step.Has("cwd") ? step.Text("cwd") : "C:\\";
    step.CheckAllUsed();
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, directory.c_str(),
                        &startup, &info))
        Failure("cannot start %s (error %lu)", UpdaterPath.c_str(), GetLastError());
    CloseHandle(info.hThread);
    Processes[name] = Started{info.hProcess, info.dwProcessId, true};
}

HWND FindTop(const std::string& windowClass, const std::string& title) {
    return FindWindowA(windowClass.empty() ? nullptr : windowClass.c_str(), title.c_str());
}

void StartGame(Step& step) {
    if (GamePath.empty()) ScriptError("no game program given on the command line");
    std::string name = step.Has("process") ? step.Raw("process") : "game";
    std::string windowClass = step.Text("class");
    std::string title = step.Text("title");
    step.CheckAllUsed();
    if (Processes.count(name)) ScriptError("process name already in use");
    std::string commandLine = "\"" + GamePath + "\" \"" + windowClass + "\" \"" + title + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info))
        Failure("cannot start %s (error %lu)", GamePath.c_str(), GetLastError());
    CloseHandle(info.hThread);
    Processes[name] = Started{info.hProcess, info.dwProcessId, false};
    WaitFor(DefaultTimeoutMs, [&]() -> std::string {
        if (FindTop(windowClass, title)) return "";
        return "  the game window did not appear\n" + ProcessGone(Processes[name]);
    });
}

// What the wizard shows for one key of expect-page.
std::string PageValue(HWND wizard, const std::string& k, const Started& started) {
    if (k == "caption") return TextOf(wizard);
    if (k == "info") return TextOf(GetDlgItem(wizard, IdInfo));
    if (k == "agreement-text") {
        HWND edit = GetDlgItem(wizard, IdAgreementText);
        return edit ? TextOf(edit) : "(no agreement control)";
    }
    if (k.size() > 8 && k.compare(k.size() - 8, 8, "-caption") == 0) {
        HWND button = GetDlgItem(wizard, ControlId(k.substr(0, k.size() - 8)));
        return button ? TextOf(button) : "(no such button)";
    }
    if (k == "agree-check" || k == "disagree-check") {
        HWND radio = GetDlgItem(wizard, k == "agree-check" ? IdAgree : IdDisagree);
        DWORD_PTR state = 0;
        if (radio) SendMessageTimeoutA(radio, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &state);
        return !radio ? "absent" : state == BST_CHECKED ? "checked" : "unchecked";
    }
    if (k == "template")
        return std::to_string(GetDlgItem(wizard, IdAgreementText) ? IDD_UPDATE_AGREEMENT : IDD_UPDATE);
    if (k == "owner") return OwnerName(wizard, started);
    if (k == "foreground") return GetForegroundWindow() == wizard ? "yes" : "no";
    return ControlState(wizard, ControlId(k));
}

void ExpectPage(Step& step) {
    Started& started = ProcessNamed(step);
    DWORD timeout = step.Number("timeout", DefaultTimeoutMs);
    struct Expectation {
        std::string key, value;
    };
    std::vector<Expectation> expected;
    static const char* keys[] = {
        "caption",     "info",           "info-starts",    "next",         "back",         "cancel",
        "agree",       "disagree",       "agreement",      "next-caption", "back-caption", "cancel-caption",
        "agree-check", "disagree-check", "agreement-text", "template",     "owner",        "foreground"};
    for (const char* key : keys)
        if (step.Has(key)) expected.push_back({key, step.Text(key)});
    step.CheckAllUsed();
    WaitFor(timeout, [&]() -> std::string {
        HWND wizard = FindWizard(started);
        if (!wizard || !IsWindowVisible(wizard)) return "  no wizard window\n" + ProcessGone(started);
        std::string complaints;
        for (auto& e : expected) {
            // "-starts": only the beginning of the text is known (it ends in a number the machine decides).
            bool prefix = e.key.size() > 7 && e.key.compare(e.key.size() - 7, 7, "-starts") == 0;
            std::string actual =
                PageValue(wizard, prefix ? e.key.substr(0, e.key.size() - 7) : e.key, started);
            if (prefix && actual.compare(0, e.value.size(), e.value) == 0) continue;
            complaints += Compare(e.key.c_str(), e.value, actual);
        }
        if (complaints.empty()) return "";
        return "  the wizard does not show the expected page\n" + complaints + ProcessGone(started);
    });
}

void ExpectBox(Step& step) {
    Started& started = ProcessNamed(step);
    DWORD timeout = step.Number("timeout", DefaultTimeoutMs);
    std::map<std::string, std::string> expected;
    for (const char* key : {"text", "caption", "buttons", "icon", "owner"})
        if (step.Has(key)) expected[key] = step.Text(key);
    step.CheckAllUsed();
    WaitFor(timeout, [&]() -> std::string {
        std::vector<HWND> boxes = FindBoxes(started);
        if (boxes.empty()) return "  no message box\n" + ProcessGone(started);
        std::string complaints;
        for (HWND box : boxes) {
            std::map<std::string, std::string> actual = {{"text", TextOf(BoxText(box))},
                                                         {"caption", TextOf(box)},
                                                         {"buttons", BoxButtons(box)},
                                                         {"icon", BoxIcon(box)},
                                                         {"owner", OwnerName(box, started)}};
            std::string differences;
            for (auto& e : expected)
                differences += Compare(e.first.c_str(), e.second, actual[e.first]);
            if (differences.empty()) return "";
            complaints += "  a message box differs:\n" + differences;
        }
        return complaints + ProcessGone(started);
    });
}

void WaitGone(HWND window, const char* what) {
    WaitFor(DefaultTimeoutMs, [&]() -> std::string {
        if (!IsWindow(window)) return "";
        return std::string("  the ") + what + " did not close\n";
    });
}

void PressBox(Step& step) {
    Started& started = ProcessNamed(step);
    if (step.words.size() != 1) ScriptError("press-box takes one button name");
    int id = ButtonId(step.words[0]);
    step.CheckAllUsed();
    std::vector<HWND> boxes = FindBoxes(started);
    if (boxes.size() != 1) Failure("expected one message box to answer, found %u", unsigned(boxes.size()));
    HWND button = GetDlgItem(boxes[0], id);
    if (!button || !HasStyle(button, WS_VISIBLE) || !IsWindowEnabled(button))
        Failure("the message box has no usable button %s", step.words[0].c_str());
    PostMessageA(boxes[0], WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    WaitGone(boxes[0], "message box");
}

HWND WizardOrFail(Started& started) {
    HWND wizard = nullptr;
    WaitFor(DefaultTimeoutMs, [&]() -> std::string {
        wizard = FindWizard(started);
        return wizard ? "" : "  no wizard window\n" + ProcessGone(started);
    });
    return wizard;
}

// A click as the user makes it: only on a shown and enabled button. Posted, because the updater may open a
// modal box while it handles the click.
void Click(Step& step) {
    Started& started = ProcessNamed(step);
    if (step.words.size() != 1) ScriptError("click takes one control");
    int id = ControlId(step.words[0]);
    step.CheckAllUsed();
    HWND wizard = WizardOrFail(started);
    HWND control = GetDlgItem(wizard, id);
    if (!control) Failure("the wizard has no control %d", id);
    if (!HasStyle(control, WS_VISIBLE) || !IsWindowEnabled(control))
        Failure("control %d is %s: a user cannot press it", id, ControlState(wizard, id).c_str());
    PostMessageA(wizard, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
}

// A command message exactly as given, whatever the state of the control (for the notification-code rule).
void PostCommand(Step& step) {
    Started& started = ProcessNamed(step);
    if (step.words.size() != 1) ScriptError("post-command takes one control");
    int id = ControlId(step.words[0]);
    WORD code = static_cast<WORD>(step.Number("code", BN_CLICKED));
    step.CheckAllUsed();
    HWND wizard = WizardOrFail(started);
    PostMessageA(wizard, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(wizard, id)));
}

// Keys go to the control under the keyboard focus, or to the dialog when nothing has it; the dialog's message
// loop turns Escape into its cancel command.
void Key(Step& step, WPARAM key) {
    Started& started = ProcessNamed(step);
    step.CheckAllUsed();
    HWND wizard = WizardOrFail(started);
    PostMessageA(wizard, WM_KEYDOWN, key, 1);
    PostMessageA(wizard, WM_KEYUP, key, 0xC0000001);
}

void TypeText(Step& step) {
    Started& started = ProcessNamed(step);
    int id = ControlId(step.Has("control") ? step.Raw("control") : "agreement");
    std::string text = step.Text("text");
    step.CheckAllUsed();
    HWND control = GetDlgItem(WizardOrFail(started), id);
    if (!control) Failure("the wizard has no control %d", id);
    for (char c : text)
        PostMessageA(control, WM_CHAR, static_cast<unsigned char>(c), 1);
}

void CloseBox(Step& step, bool wizard) {
    Started& started = ProcessNamed(step);
    step.CheckAllUsed();
    HWND window;
    if (wizard) {
        window = WizardOrFail(started);
    } else {
        std::vector<HWND> boxes = FindBoxes(started);
        if (boxes.size() != 1) Failure("expected one message box to close, found %u", unsigned(boxes.size()));
        window = boxes[0];
    }
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    if (!wizard) WaitGone(window, "message box");
}

void ExpectExit(Step& step) {
    Started& started = ProcessNamed(step);
    if (step.words.size() != 1) ScriptError("expect-exit takes the status");
    DWORD expected = static_cast<DWORD>(std::strtoul(step.words[0].c_str(), nullptr, 0));
    DWORD timeout = step.Number("timeout", DefaultTimeoutMs);
    step.CheckAllUsed();
    DWORD code = 0;
    WaitFor(timeout, [&]() -> std::string {
        if (Exited(started, &code)) return "";
        return "  the process is still running\n";
    });
    if (code != expected) Failure("  exit status:\n    expected %lu\n    actual   %lu", expected, code);
}

// Nothing appears on the screen from the process until it ends (or for the given time).
void ExpectNoWindow(Step& step) {
    Started& started = ProcessNamed(step);
    DWORD period = step.Number("for", DefaultTimeoutMs);
    step.CheckAllUsed();
    DWORD start = GetTickCount();
    for (;;) {
        std::vector<HWND> shown = TopWindows(started.id, true);
        if (!shown.empty())
            Failure("  a window appeared: class %s caption %s", ClassOf(shown[0]).c_str(),
                    Show(TextOf(shown[0])).c_str());
        DWORD code = 0;
        if (Exited(started, &code) || GetTickCount() - start > period) return;
        Sleep(PollMs);
    }
}

// Any process's top-level window found by class and title: its visibility and whether it is in front.
void ExpectWindow(Step& step) {
    std::string windowClass = step.Has("class") ? step.Text("class") : "";
    std::string title = step.Text("title");
    std::map<std::string, std::string> expected;
    for (const char* key : {"visible", "foreground"})
        if (step.Has(key)) expected[key] = step.Raw(key);
    bool absent = step.Has("absent") && step.Raw("absent") == "yes";
    step.CheckAllUsed();
    WaitFor(DefaultTimeoutMs, [&]() -> std::string {
        HWND window = FindTop(windowClass, title);
        if (absent) return window ? "  the window " + Show(title) + " still exists\n" : "";
        if (!window) return "  no window " + Show(title) + " of class " + Show(windowClass) + "\n";
        std::string complaints;
        if (expected.count("visible"))
            complaints += Compare("visible", expected["visible"], IsWindowVisible(window) ? "yes" : "no");
        if (expected.count("foreground"))
            complaints +=
                Compare("foreground", expected["foreground"], GetForegroundWindow() == window ? "yes" : "no");
        return complaints;
    });
}

void HideWindow(Step& step) {
    std::string windowClass = step.Has("class") ? step.Text("class") : "";
    std::string title = step.Text("title");
    step.CheckAllUsed();
    HWND window = FindTop(windowClass, title);
    if (!window) Failure("  no window %s to hide", Show(title).c_str());
    // A dialog that has just run its WM_INITDIALOG is shown by the dialog manager afterwards, which would
    // undo an early request: the window is hidden once it has been shown, and asked again while visible.
    WaitFor(DefaultTimeoutMs, [&]() -> std::string {
        return IsWindowVisible(window) ? "" : "  the window " + Show(title) + " was never shown\n";
    });
    WaitFor(DefaultTimeoutMs, [&]() -> std::string {
        if (!IsWindowVisible(window)) return "";
        ShowWindowAsync(window, SW_HIDE);
        return "  the window " + Show(title) + " did not hide\n";
    });
}

void CloseWindow(Step& step) {
    std::string windowClass = step.Has("class") ? step.Text("class") : "";
    std::string title = step.Text("title");
    step.CheckAllUsed();
    HWND window = FindTop(windowClass, title);
    if (!window) Failure("  no window %s to close", Show(title).c_str());
    PostMessageA(window, WM_CLOSE, 0, 0);
    WaitGone(window, "window");
}

std::string TempFolder() {
    char folder[MAX_PATH] = {};
    GetTempPathA(sizeof folder, folder);
    return folder;
}

// The files that the running updater keeps in the temporary folder: how many, and (locked=yes) that no other
// program can change or delete them while it runs.
void ExpectTempFiles(Step& step) {
    DWORD count = step.Number("count", 0);
    bool locked = step.Has("locked") && step.Raw("locked") == "yes";
    step.CheckAllUsed();
    std::vector<std::string> added;
    WaitFor(DefaultTimeoutMs, [&]() -> std::string {
        added.clear();
        for (const std::string& name : TempFiles())
            if (!TempBefore.count(name)) added.push_back(name);
        if (added.size() == count) return "";
        std::string list;
        for (auto& name : added)
            list += " " + name;
        return "  new files in the temporary folder: expected " + std::to_string(count) + ", found" + list +
               "\n";
    });
    if (!locked) return;
    for (const std::string& name : added) {
        std::string path = TempFolder() + name;
        HANDLE file =
            CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            Failure("  %s in the temporary folder can be opened for writing by another program",
                    name.c_str());
        }
        if (DeleteFileA(path.c_str()))
            Failure("  %s in the temporary folder could be deleted by another program", name.c_str());
    }
}

// For scripts/render-pages.sh: writes NAME.request with the wizard's screen rectangle into the folder named
// by E2E_SNAPSHOT_DIR (a Unix path) and waits for NAME.done, which the script creates after its screenshot.
// Without that variable the step does nothing, so a rendering script also runs as an ordinary scenario.
void Snapshot(Step& step) {
    Started& started = ProcessNamed(step);
    if (step.words.size() != 1) ScriptError("snapshot takes a name");
    step.CheckAllUsed();
    const char* folder = std::getenv("E2E_SNAPSHOT_DIR");
    if (!folder || !*folder) return;
    HWND wizard = WizardOrFail(started);
    Sleep(500); // let the window finish painting
    RECT rect = {};
    GetWindowRect(wizard, &rect);
    std::string base = std::string("Z:") + folder + "/" + step.words[0];
    FILE* request = std::fopen((base + ".request.tmp").c_str(), "w");
    if (!request) Failure("  cannot write %s.request", base.c_str());
    std::fprintf(request, "%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
                 rect.bottom - rect.top);
    std::fclose(request);
    MoveFileA((base + ".request.tmp").c_str(), (base + ".request").c_str());
    WaitFor(60000, [&]() -> std::string {
        return GetFileAttributesA((base + ".done").c_str()) != INVALID_FILE_ATTRIBUTES
                   ? ""
                   : "  no screenshot taken\n";
    });
}

// Files that the scenario changes while the updater runs (to free or take disk space).
void WriteFileOfSize(Step& step) {
    std::string path = step.Text("path");
    DWORD size = step.Number("size", 0);
    step.CheckAllUsed();
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        Failure("  cannot create %s (error %lu)", Show(path).c_str(), GetLastError());
    std::vector<char> block(65536, 'x');
    for (DWORD left = size; left > 0;) {
        DWORD chunk = left < block.size() ? left : static_cast<DWORD>(block.size()), written = 0;
        if (!WriteFile(file, block.data(), chunk, &written, nullptr) || written != chunk) {
            CloseHandle(file);
            Failure("  cannot write %s (error %lu)", Show(path).c_str(), GetLastError());
        }
        left -= chunk;
    }
    CloseHandle(file);
}

void DeleteOneFile(Step& step) {
    std::string path = step.Text("path");
    step.CheckAllUsed();
    if (!DeleteFileA(path.c_str()))
        Failure("  cannot delete %s (error %lu)", Show(path).c_str(), GetLastError());
}

// Folders that a scenario makes or takes away between runs (a folder in a file's place, a sub-folder).
void MakeFolder(Step& step) {
    std::string path = step.Text("path");
    step.CheckAllUsed();
    if (!CreateDirectoryA(path.c_str(), nullptr))
        Failure("  cannot create the folder %s (error %lu)", Show(path).c_str(), GetLastError());
}

void RemoveFolder(Step& step) {
    std::string path = step.Text("path");
    step.CheckAllUsed();
    if (!RemoveDirectoryA(path.c_str()))
        Failure("  cannot remove the folder %s (error %lu)", Show(path).c_str(), GetLastError());
}

// A file held open without sharing, as another program that uses it holds it: nobody can read, replace or
// delete it until unlock-file or the end of the script.

void LockFile(Step& step) {
    std::string path = step.Text("path");
    step.CheckAllUsed();
    if (LockedFiles.count(path)) ScriptError("the file is already locked");
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        Failure("  cannot open %s to lock it (error %lu)", Show(path).c_str(), GetLastError());
    LockedFiles[path] = file;
}

void UnlockFile(Step& step) {
    std::string path = step.Text("path");
    step.CheckAllUsed();
    auto found = LockedFiles.find(path);
    if (found == LockedFiles.end()) ScriptError("the file is not locked");
    CloseHandle(found->second);
    LockedFiles.erase(found);
}

// A 32-bit value under the current user, such as the installed product's "InstMode", changed between runs.
void SetRegistryNumber(Step& step) {
    std::string key = step.Text("key");
    std::string name = step.Text("name");
    DWORD value = step.Number("dword", 0);
    step.CheckAllUsed();
    HKEY opened = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened,
                        nullptr) != ERROR_SUCCESS)
        Failure("  cannot open the key %s", Show(key).c_str());
    LONG result = RegSetValueExA(opened, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                 sizeof value);
    RegCloseKey(opened);
    if (result != ERROR_SUCCESS) Failure("  cannot set %s (error %ld)", Show(name).c_str(), result);
}

// Ends the updater the way a crash or the task manager does (TerminateProcess: none of its own clean-up
// runs) and waits until it is gone. Its "UPDATE.INI" copy then stays in the temporary folder, where the
// next run replaces it: that file is not counted as left behind by the script.
void Terminate(Step& step) {
    Started& started = ProcessNamed(step);
    step.CheckAllUsed();
    DWORD code = 0;
    if (Exited(started, &code)) {
        std::printf("the process had already ended with status %lu\n", code);
    } else {
        if (!TerminateProcess(started.process, 255)) Failure("  cannot terminate the process");
        if (WaitForSingleObject(started.process, DefaultTimeoutMs) != WAIT_OBJECT_0)
            Failure("  the process did not end after TerminateProcess");
    }
    for (const std::string& name : TempFiles())
        TempBefore.insert(name);
}

// What is on the disk at this moment of the run (the runner checks the end state; this step the states
// in between, such as while a prompt is open): a file or folder exists or not, a file's size.
void ExpectFile(Step& step) {
    std::string path = step.Text("path");
    std::string kind = step.Has("is") ? step.Raw("is") : "file";
    bool checkSize = step.Has("size");
    DWORD size = step.Number("size", 0);
    step.CheckAllUsed();
    if (kind != "file" && kind != "folder" && kind != "absent")
        ScriptError("is= takes file, folder or absent");
    DWORD attributes = GetFileAttributesA(path.c_str());
    std::string actual = attributes == INVALID_FILE_ATTRIBUTES          ? "absent"
                         : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? "folder"
                                                                        : "file";
    if (actual != kind)
        Failure("  %s:\n    expected %s\n    actual   %s", Show(path).c_str(), kind.c_str(), actual.c_str());
    if (!checkSize) return;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        Failure("  cannot read the size of %s", Show(path).c_str());
    if (data.nFileSizeHigh != 0 || data.nFileSizeLow != size)
        Failure("  size of %s:\n    expected %lu\n    actual   %lu", Show(path).c_str(), size,
                data.nFileSizeLow);
}

// Waits, polling every millisecond, until the path exists: lets the kill test end the updater at a
// chosen moment of its work, such as when the first old file is moved aside. Such a file may live for less
// than a poll; with until-info the wait also ends, without a failure, once the wizard's page text reads
// that text (the moment has passed).
void AwaitFile(Step& step) {
    std::string path = step.Text("path");
    DWORD timeout = step.Number("timeout", DefaultTimeoutMs);
    bool untilInfo = step.Has("until-info");
    std::string info = untilInfo ? step.Text("until-info") : "";
    Started& started = ProcessNamed(step);
    step.CheckAllUsed();
    DWORD start = GetTickCount();
    for (int poll = 0; GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES; ++poll) {
        if (GetTickCount() - start > timeout) Failure("  %s did not appear", Show(path).c_str());
        if (untilInfo && poll % 16 == 0) {
            // Read without a message: the updater's thread answers none while it commits, and a wait
            // for its answer would let the whole commit pass unseen.
            HWND wizard = FindWizard(started);
            char text[1024] = "";
            if (wizard) GetWindowTextA(GetDlgItem(wizard, IdInfo), text, sizeof text);
            if (wizard && info == text) {
                std::printf("%s did not appear before the page read \"%s\"\n", Show(path).c_str(),
                            Show(info).c_str());
                std::fflush(stdout);
                return;
            }
        }
        Sleep(1);
    }
}

// Prints the seconds since the previous stopwatch step (or the start of the script) under the step's name,
// for benchmarks that drive the updater: the time between two screens, polling included.
void Stopwatch(Step& step) {
    if (step.words.size() != 1) ScriptError("stopwatch takes a name");
    step.CheckAllUsed();
    static LARGE_INTEGER previous = ScriptStart;
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    std::printf("stopwatch %s: %.3f s\n", step.words[0].c_str(),
                double(now.QuadPart - previous.QuadPart) / double(frequency.QuadPart));
    std::fflush(stdout);
    previous = now;
}

} // namespace

void Run(Step& step) {
    const std::string& v = step.verb;
    if (v == "start")
        Start(step);
    else if (v == "game")
        StartGame(step);
    else if (v == "expect-page")
        ExpectPage(step);
    else if (v == "expect-box")
        ExpectBox(step);
    else if (v == "press-box")
        PressBox(step);
    else if (v == "close-box")
        CloseBox(step, false);
    else if (v == "click")
        Click(step);
    else if (v == "post-command")
        PostCommand(step);
    else if (v == "escape")
        Key(step, VK_ESCAPE);
    else if (v == "close")
        CloseBox(step, true);
    else if (v == "type")
        TypeText(step);
    else if (v == "expect-exit")
        ExpectExit(step);
    else if (v == "expect-no-window")
        ExpectNoWindow(step);
    else if (v == "expect-window")
        ExpectWindow(step);
    else if (v == "hide-window")
        HideWindow(step);
    else if (v == "close-window")
        CloseWindow(step);
    else if (v == "expect-temp-files")
        ExpectTempFiles(step);
    else if (v == "snapshot")
        Snapshot(step);
    else if (v == "write-file")
        WriteFileOfSize(step);
    else if (v == "delete-file")
        DeleteOneFile(step);
    else if (v == "make-folder")
        MakeFolder(step);
    else if (v == "remove-folder")
        RemoveFolder(step);
    else if (v == "lock-file")
        LockFile(step);
    else if (v == "unlock-file")
        UnlockFile(step);
    else if (v == "set-registry")
        SetRegistryNumber(step);
    else if (v == "expect-file")
        ExpectFile(step);
    else if (v == "await-file")
        AwaitFile(step);
    else if (v == "terminate")
        Terminate(step);
    else if (v == "sleep") {
        if (step.words.size() != 1) ScriptError("sleep takes milliseconds");
        step.CheckAllUsed();
        Sleep(static_cast<DWORD>(std::strtoul(step.words[0].c_str(), nullptr, 0)));
    } else if (v == "stopwatch") {
        Stopwatch(step);
    } else if (v == "timeout") {
        if (step.words.size() != 1) ScriptError("timeout takes milliseconds");
        step.CheckAllUsed();
        DefaultTimeoutMs = static_cast<DWORD>(std::strtoul(step.words[0].c_str(), nullptr, 0));
    } else
        ScriptError("unknown step");
}

} // namespace e2e
