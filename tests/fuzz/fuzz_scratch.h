// What the fuzz targets share: a scratch folder that the platform stand-in maps as drive F:, where targets
// write their input as a file and let the code under test read and write beside it, and a check that
// stops the run with a reason when an invariant of the code under test breaks.
#pragma once

#include <cstddef>

// The drive letter of the scratch folder; paths the code under test sees start with "F:\".
const char ScratchDrive = 'F';

// Resets the stand-in and the state record and maps the scratch drive again (made on first use, in
// /dev/shm when it exists because every input goes through it, removed at exit).
void ResetScratchWorld();

// The host path of name inside the scratch folder.
const char* ScratchHostPath(const char* name);

// Writes size bytes to the named file in the scratch folder, replacing it.
void WriteScratchFile(const char* name, const unsigned char* data, size_t size);

// Removes every entry of the scratch folder except the names given (a null-terminated list) and returns
// how many it removed.
int EmptyScratch(const char* const* keep);

// Reports what broke and aborts, so that libFuzzer keeps the input as a crash.
void FuzzCheck(bool holds, const char* what);
