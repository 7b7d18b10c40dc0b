// The system libraries that the updater calls besides kernel32, loaded from the system folder once the DLL
// search is restricted. Whatever a program imports is bound by the loader at process
// start, before its first instruction can restrict the search, and the program's own folder is searched
// first: an elevated updater started from a downloads folder would load a DLL planted there. So the
// program imports nothing else (not even the C runtime: platform/windows/c_library.cpp), and its calls into
// user32, advapi32, shell32, ole32 and msvcrt go through a table of entry points that this fills with
// GetProcAddress (GNU ld has no delay-load).
#pragma once

// Loads each library by its full path in the system folder and takes every entry point the program
// calls. 1, or 0 when one is missing: the program then has no window, box or registry, and can only end.
// The Linux host layer has nothing to load.
int LoadSystemLibraries();
