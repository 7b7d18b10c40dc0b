// Setting up the host layer's files on Linux: drive letters mapped to host folders and the temporary
// folder. updpack passes host paths and sets none of it; tests set it up (tests/fakes/script.h).
#pragma once

#include "platform/win32.h"

namespace Standin {

// Forgets every drive, the temporary folder and the path resolver.
void ResetFileSystem();
// Drives: letter 'A'..'Z' mapped to a host folder. A CD-ROM drive with a null folder has no disc.
void SetDrive(char letter, const char* hostFolder, UINT driveType);
void RemoveDrive(char letter);
// Folder that GetTempPathA reports (a trailing separator is added); null restores $TMPDIR or /tmp.
void SetTempPath(const char* folder);
// Host path for a path as the logic writes it; 0 when the path names an unmapped drive or does not fit.
int HostPath(const char* path, char* hostPath, size_t capacity);
// Rewrites the part of a drive path's host path after its drive's folder (folderLength bytes), as a host
// that spells names otherwise needs (updpack's plan: UTF-8 names, matched without regard to case as on
// Windows). 1, or 0 when the path does not fit. Null (the default, and after a reset): kept as it is.
typedef int (*HostPathResolver)(char* hostPath, size_t capacity, size_t folderLength);
void SetHostPathResolver(HostPathResolver resolver);

} // namespace Standin
