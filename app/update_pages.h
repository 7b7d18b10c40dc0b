// The wizard's pages around the update: the busy page, the page of each disc copy, the short-of-space page
// and the completion page, drawn from what the update engine reports.
#pragma once

#include "platform/win32.h"

// The wizard's action for "次へ" on the confirmation page: runs the update and shows where it ended, or
// ends the dialog with -1 when it stopped.
void RunUpdate(HWND window);
