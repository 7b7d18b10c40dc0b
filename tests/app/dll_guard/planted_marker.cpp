// A DLL that someone plants beside the updater under the name of a system library. Loading it is all it
// does: it adds a line to "planted-dlls-loaded.txt" beside itself, naming itself and the program that
// loaded it, and lets the load go on. It imports nothing but kernel32 and has no C runtime, so that it can
// stand in for the C runtime itself, and for any library the C runtime loads.
#include <windows.h>

namespace {
// kernel32's own string calls: the compiler would turn loops into calls of the C runtime, which this lacks.
void Put(HANDLE file, const char* text) {
    DWORD written;
    WriteFile(file, text, static_cast<DWORD>(lstrlenA(text)), &written, nullptr);
}
} // namespace

extern "C" BOOL WINAPI PlantedEntry(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char self[MAX_PATH], program[MAX_PATH], marks[MAX_PATH + 32];
    DWORD length = GetModuleFileNameA(module, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return TRUE;
    char* folder = self;
    for (char* p = self; *p; ++p)
        if (*p == '\\') folder = p + 1;
    lstrcpynA(marks, self, static_cast<int>(folder - self) + 1);
    lstrcatA(marks, "planted-dlls-loaded.txt");
    DWORD programLength = GetModuleFileNameA(nullptr, program, MAX_PATH);
    if (programLength == 0 || programLength >= MAX_PATH) program[0] = '\0';
    HANDLE file = CreateFileA(marks, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return TRUE;
    Put(file, self);
    Put(file, " loaded by ");
    Put(file, program);
    Put(file, "\r\n");
    CloseHandle(file);
    return TRUE;
}
