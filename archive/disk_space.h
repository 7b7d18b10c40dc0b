// The free space of a drive, as the update's checks ask for it.
#pragma once

#include "platform/win32.h"

// Free bytes for the caller, total bytes and total free bytes of the drive named by root. totalFree may
// be null. Nonzero on success.
int QueryDiskSpace(const char* root, ULARGE_INTEGER* freeToCaller, ULARGE_INTEGER* totalBytes,
                   ULARGE_INTEGER* totalFree);
