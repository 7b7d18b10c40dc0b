// Fake DLL search settings: nothing is ever loaded from a folder here, so the calls only record what they
// were asked, for tests of the start-up's restriction (script.h). SetDefaultDllDirectories is found in
// the host layer's kernel32 once this file is linked.
#include "tests/fakes/script.h"
#include "platform/standin/standin_state.h"
#include "tests/fakes/fakes_state.h"

#include <cstring>

namespace {

Standin::DllSearchRecord record;
bool defaultDirectoriesAvailable = true;

BOOL WINAPI StandinSetDefaultDllDirectories(DWORD flags) {
    ++record.defaultCalls;
    record.defaultDirectories = flags;
    return TRUE;
}

// What the host layer's GetProcAddress adds for kernel32 once this file is linked.
FARPROC DllSearchProcedure(const char* name) {
    if (!defaultDirectoriesAvailable || strcmp(name, "SetDefaultDllDirectories") != 0) return nullptr;
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&StandinSetDefaultDllDirectories));
}

struct InstallDllSearch {
    InstallDllSearch() { Standin::Script().moreProcedures = &DllSearchProcedure; }
} installDllSearch;

} // namespace

namespace Standin {

void ResetDllSearch() {
    memset(&record, 0, sizeof record);
    defaultDirectoriesAvailable = true;
}

void SetDefaultDllDirectoriesAvailable(bool available) {
    defaultDirectoriesAvailable = available;
}

const DllSearchRecord& DllSearch() {
    return record;
}

} // namespace Standin

BOOL SetDllDirectoryA(LPCSTR folder) {
    ++record.dllDirectoryCalls;
    record.dllDirectorySet = folder != nullptr;
    if (folder) Standin::CopyHostText(record.dllDirectory, sizeof record.dllDirectory, folder);
    return TRUE;
}
