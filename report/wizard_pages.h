// The wizard's page helpers, for the update engine: it sets the page text and the buttons through these
// without depending on the rest of the wizard.
#pragma once

#include "platform/win32.h"
#include "resources/resource.h"

// Formats into a 1024-byte buffer (cut there) and makes it the text of IDC_INFO.
void SetStatusText(HWND dialog, const char* format, ...) __attribute__((format(printf, 2, 3)));
void EnableControl(HWND dialog, int id, int enable);
void ShowControl(HWND dialog, int id, int command);
