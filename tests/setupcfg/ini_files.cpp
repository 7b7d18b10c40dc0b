// INI files for the configuration tests, written through the ANSI file calls of both builds.
#include "tests/setupcfg/ini_files.h"

#include "platform/win32.h"

#include <cstdio>
#include <cstring>

int WriteTextFile(const char* path, const char* text) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    DWORD length = static_cast<DWORD>(strlen(text));
    BOOL ok = WriteFile(file, text, length, &written, nullptr);
    CloseHandle(file);
    return ok && written == length;
}

int OpenTempFiles(TempFiles* files) {
    char temp[MAX_PATH];
    files->next = 0;
    if (GetTempPathA(sizeof temp, temp) == 0) return 0;
    return GetTempFileNameA(temp, "ini", 0, files->base) != 0;
}

void NextFileName(TempFiles* files, char* path, size_t capacity) {
    snprintf(path, capacity, "%s.%03d.ini", files->base, files->next++);
}

int WriteNextFile(TempFiles* files, const char* text, char* path, size_t capacity) {
    NextFileName(files, path, capacity);
    return WriteTextFile(path, text);
}

void CloseTempFiles(TempFiles* files) {
    char path[MAX_PATH + 16];
    for (int i = 0; i < files->next; ++i) {
        snprintf(path, sizeof path, "%s.%03d.ini", files->base, i);
        DeleteFileA(path);
    }
    DeleteFileA(files->base);
}
