// Where the elevated updater takes DLLs from. It runs as administrator, usually from a downloads folder
// where anybody may have left a DLL; system libraries load some DLLs by name at run time, and the
// program's own folder is searched first, so the search must be narrowed before anything loads one.
#pragma once

// Restricts every later DLL search of the process to the system folder: SetDefaultDllDirectories with
// LOAD_LIBRARY_SEARCH_SYSTEM32, looked up by name because older systems lack it; there SetDllDirectoryA("")
// at least takes the current folder out of the search. 1 when either took effect.
int RestrictDllSearchPath();
