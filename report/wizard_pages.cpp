// The wizard's page helpers. An id that the dialog lacks has no effect.
#include "report/wizard_pages.h"

#include "platform/text_format.h"

#include <cstdarg>

void SetStatusText(HWND dialog, const char* format, ...) {
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    FormatTextV(text, sizeof text, format, arguments);
    va_end(arguments);
    SetDlgItemTextA(dialog, IDC_INFO, text);
}

void EnableControl(HWND dialog, int id, int enable) {
    HWND control = GetDlgItem(dialog, id);
    if (control) EnableWindow(control, enable ? TRUE : FALSE);
}

void ShowControl(HWND dialog, int id, int command) {
    HWND control = GetDlgItem(dialog, id);
    if (control) ShowWindow(control, command);
}
