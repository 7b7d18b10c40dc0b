// The DLL search restriction that WinMain applies before its first call that can load a DLL. Looks the
// restriction up in kernel32 by name, the way the extended free-space query is found.
#include "app/dll_search_path.h"

#include "platform/win32.h"

namespace {
typedef BOOL(WINAPI* DefaultDllDirectoriesFunction)(DWORD);
}

int RestrictDllSearchPath() {
    // kernel32 is mapped into every process: taking its handle loads nothing.
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    FARPROC address = kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
    DefaultDllDirectoriesFunction setDefault =
        reinterpret_cast<DefaultDllDirectoriesFunction>(reinterpret_cast<void*>(address));
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return 1;
    return SetDllDirectoryA("") ? 1 : 0;
}
