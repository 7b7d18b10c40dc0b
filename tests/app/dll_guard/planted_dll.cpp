// A DLL that someone plants beside the updater under the name of one that a system library loads at run
// time. Loading it is all it does: it leaves "planted-dll-loaded.txt" beside itself, naming the program
// that loaded it, and lets the load go on.
#include <windows.h>

#include <cstring>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(module, path, sizeof path);
    if (length == 0 || length >= sizeof path) return TRUE;
    char* name = std::strrchr(path, '\\');
    const char marker[] = "planted-dll-loaded.txt";
    if (!name || static_cast<size_t>(name + 1 - path) + sizeof marker > sizeof path) return TRUE;
    std::memcpy(name + 1, marker, sizeof marker);
    char program[MAX_PATH];
    DWORD programLength = GetModuleFileNameA(nullptr, program, sizeof program);
    if (programLength >= sizeof program) programLength = 0;
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return TRUE;
    DWORD written;
    WriteFile(file, program, programLength, &written, nullptr);
    WriteFile(file, "\r\n", 2, &written, nullptr);
    CloseHandle(file);
    return TRUE;
}
