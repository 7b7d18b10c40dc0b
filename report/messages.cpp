// The two error boxes every layer reports through.
#include "report/messages.h"

#include "context/updater_context.h"
#include "platform/win32.h"

static void ShowErrorBox(const char* text, const char* caption) {
    MessageBoxA(Updater.OwnerWindow, text, caption, MB_OK | MB_ICONERROR);
}

void ShowError(const char* text) {
    ShowErrorBox(text, Updater.Caption);
}

void ShowCommonError(const char* text) {
    ShowErrorBox(text, "INSTCMMN");
}
