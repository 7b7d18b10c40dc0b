// The first stretch of the updater's road: the archive carried in the program's resource, this run's own
// copy of "UPDATE.INI" in the temporary folder, the product identity of its "[SETUP]" section and the
// optional agreement texts. Each step returns 1 to go on or 0 to end the run (after its message, if any).
#pragma once

#include "platform/win32.h"

// Reads the module's own file whole and checks it (app/program_check.h) before anything is written. A
// damaged or cut download, or a file that cannot be read, is told to the user as a damaged download, and
// the run ends. A program without a checksum is not checked.
int CheckOwnProgram(HINSTANCE instance);
// The "UPDATE"/102 resource of the module as Updater.ArchiveImage. 0, silently, when there is none.
int MapArchiveResource(HINSTANCE instance);
// Loads the header and directory into Updater.ArchiveDirectory; "RESOURCE READ ERROR" on failure.
int LoadArchiveDirectory();

// Creates a new file with a unique name in the temporary folder and makes it Updater.UpdateIniPath, so that
// Cleanup removes it from then on. 0, silently, when the folder cannot be named or the file not created.
int CreateUpdateIniFile();
// Opens Updater.UpdateIniPath for reading, shared with readers only (nobody can write, replace or delete it
// while the run lasts), and checks that its bytes are those of the archive's "UPDATE.INI". The handle is
// kept in Updater.UpdateIniHandle until Cleanup. 0, silently, when the file cannot be held or differs.
int HoldUpdateIniFile();
// CreateUpdateIniFile, the extraction of "UPDATE.INI" into it, and HoldUpdateIniFile.
int WriteUpdateIni();

// The required and optional keys of "[SETUP]"; sets QuietMissingKeys once the required ones are read.
int ReadUpdateIdentity();
// The archive entry named by the key ("AgreementText", "AgreementTitle") copied into a zero-filled block
// with two NULs after it; *block stays null when the key is missing or empty.
int LoadAgreementEntry(const char* key, char** block);

// The whole stretch, in order.
int BootstrapArchive(HINSTANCE instance);
