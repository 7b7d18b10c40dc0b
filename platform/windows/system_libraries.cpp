// The table of entry points into the system libraries other than kernel32. The compiler
// calls every function that windows.h declares as imported through a pointer named "__imp_" and the
// function's symbol; defining those pointers here, as this program's own variables, keeps the linker from
// taking them from the import libraries, so the libraries never enter the import table and the loader never
// looks for them at start. LoadSystemLibraries fills the pointers, and nothing calls into these libraries
// before WinMain has. A function the program starts calling that is missing here is imported as before;
// the test of the program's import table (tests/app) names it.
#include "platform/system_libraries.h"

#include "platform/text_format.h"
#include "platform/win32.h"

#include <cstring>

// Every library with the functions the program calls, and the bytes of each function's arguments, which
// the 32-bit symbol names of the system's calls carry ("_MessageBoxA@16"); 0 for a function of the C
// runtime, whose names carry none ("__vsnprintf").
// clang-format off
#define SYSTEM_LIBRARIES(LIBRARY, ENTRY, END) \
    LIBRARY(user32.dll) \
        ENTRY(CharNextA, 4) ENTRY(CheckRadioButton, 16) ENTRY(DialogBoxParamA, 20) ENTRY(EnableWindow, 8) \
        ENTRY(EndDialog, 8) ENTRY(FindWindowA, 8) ENTRY(GetDlgItem, 8) ENTRY(LoadCursorA, 8) \
        ENTRY(MessageBoxA, 16) ENTRY(SetCursor, 4) ENTRY(SetDlgItemTextA, 12) ENTRY(SetFocus, 4) \
        ENTRY(SetForegroundWindow, 4) ENTRY(SetWindowTextA, 8) ENTRY(ShowWindow, 8) END \
    LIBRARY(advapi32.dll) \
        ENTRY(RegCloseKey, 4) ENTRY(RegOpenKeyExA, 20) ENTRY(RegQueryValueExA, 24) END \
    LIBRARY(shell32.dll) \
        ENTRY(SHFileOperationA, 4) END \
    LIBRARY(ole32.dll) \
        ENTRY(CoInitialize, 4) END \
    LIBRARY(msvcrt.dll) \
        ENTRY(_vsnprintf, 0) END
// clang-format on

#ifdef _WIN64
#define IMPORT_CELL_NAME(name, bytes) "__imp_" #name
#else
#define IMPORT_CELL_NAME(name, bytes) "__imp__" #name STDCALL_SUFFIX_##bytes
#define STDCALL_SUFFIX_0
#define STDCALL_SUFFIX_4 "@4"
#define STDCALL_SUFFIX_8 "@8"
#define STDCALL_SUFFIX_12 "@12"
#define STDCALL_SUFFIX_16 "@16"
#define STDCALL_SUFFIX_20 "@20"
#define STDCALL_SUFFIX_24 "@24"
#endif

#define NO_LIBRARY(file)
#define NO_END
#define DEFINE_CELL(name, bytes) FARPROC Cell##name __asm__(IMPORT_CELL_NAME(name, bytes)) = nullptr;
extern "C" {
SYSTEM_LIBRARIES(NO_LIBRARY, DEFINE_CELL, NO_END)
}

namespace {

// Each library's file name, then its functions' names, then an empty name; an empty file name ends it.
#define LIBRARY_NAME(file) #file "\0"
#define ENTRY_NAME(name, bytes) #name "\0"
const char Names[] = SYSTEM_LIBRARIES(LIBRARY_NAME, ENTRY_NAME, "\0");

// The cells, in the order of the names.
#define CELL_ADDRESS(name, bytes) &Cell##name,
FARPROC* const Cells[] = {SYSTEM_LIBRARIES(NO_LIBRARY, CELL_ADDRESS, NO_END)};

} // namespace

int LoadSystemLibraries() {
    // The path is joined by hand: the formatter is itself one of the entry points loaded here.
    char path[MAX_PATH + 16];
    UINT folder = GetSystemDirectoryA(path, MAX_PATH);
    if (folder == 0 || folder >= MAX_PATH) return 0;
    path[folder++] = '\\';
    FARPROC* const* cell = Cells;
    for (const char* name = Names; *name;) {
        if (!CopyText(path + folder, sizeof path - folder, name)) return 0;
        HMODULE library = LoadLibraryA(path);
        if (!library) return 0;
        for (name += strlen(name) + 1; *name; name += strlen(name) + 1) {
            FARPROC entry = GetProcAddress(library, name);
            if (!entry) return 0;
            **cell++ = entry;
        }
        ++name;
    }
    return 1;
}
