// Pre-flight checks: the single-instance test and the running-game loops. Touches only other processes'
// windows and its own question boxes.
#include "app/preflight_checks.h"

#include "context/updater_context.h"
#include "platform/text_format.h"
#include "platform/win32.h"

namespace {
// The predefined class of every dialog box and message box: atom 0x8002, which the platform also takes
// by its name "#32770".
const char* const DialogClass = "#32770";

void BringForward(HWND window) {
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
}
} // namespace

int BringOtherUpdaterForward() {
    HWND other = FindWindowA(DialogClass, Updater.Caption);
    if (!other) return 0;
    BringForward(other);
    return 1;
}

int WaitForGameWindowClosed(const char* title) {
    for (;;) {
        HWND game = FindWindowA(Updater.Setup.GameClass, title);
        if (!game) return 1;
        char question[1024];
        FormatText(question, sizeof question,
                   "「%s」が実行中です。アップデートを続行する場合はゲームを終了してから [OK] "
                   "を、アップデートを中止する場合は [キャンセル] を押して下さい",
                   title);
        if (MessageBoxA(nullptr, question, Updater.Caption, MB_OKCANCEL) != IDOK) {
            BringForward(game);
            return 0;
        }
    }
}

int WaitForGameClosed() {
    if (!WaitForGameWindowClosed(Updater.Setup.GameTitle)) return 0;
    if (Updater.GameTitleA[0] && !WaitForGameWindowClosed(Updater.GameTitleA)) return 0;
    return 1;
}
