// Stand-in DLL search settings: nothing is ever loaded from a folder here, so the calls only record what
// they were asked, for tests of the start-up's restriction (script.h).
#include "platform/standin/script.h"
#include "platform/standin/standin_state.h"

#include <cstring>

namespace {

Standin::DllSearchRecord record;
bool defaultDirectoriesAvailable = true;

BOOL WINAPI StandinSetDefaultDllDirectories(DWORD flags) {
    ++record.defaultCalls;
    record.defaultDirectories = flags;
    return TRUE;
}

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

FARPROC DllSearchProcedure(const char* name) {
    if (!defaultDirectoriesAvailable || strcmp(name, "SetDefaultDllDirectories") != 0) return nullptr;
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&StandinSetDefaultDllDirectories));
}

} // namespace Standin

BOOL SetDllDirectoryA(LPCSTR folder) {
    ++record.dllDirectoryCalls;
    record.dllDirectorySet = folder != nullptr;
    if (folder) Standin::CopyHostText(record.dllDirectory, sizeof record.dllDirectory, folder);
    return TRUE;
}
