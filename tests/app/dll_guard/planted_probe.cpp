// A program without the updater's protection: it imports nothing but kernel32 (no C runtime either) and
// loads each library named on its command line by its bare name, which searches the program's own folder
// first. Beside the planted DLLs it loads every one of them, and so shows that the plants work and that a
// test which finds none of them loaded by the updater can fail. Its exit status is the number of names it
// could not load.
#include <windows.h>

extern "C" void WINAPI ProbeEntry() {
    char* line = GetCommandLineA();
    // The program's own name comes first, quoted or not.
    bool quoted = *line == '"';
    for (line += quoted; *line && (quoted ? *line != '"' : *line != ' '); ++line) {
    }
    if (*line == '"') ++line;
    UINT failed = 0;
    for (;;) {
        while (*line == ' ')
            ++line;
        if (!*line) break;
        char* name = line;
        while (*line && *line != ' ')
            ++line;
        char end = *line;
        *line = '\0';
        if (!LoadLibraryA(name)) ++failed;
        *line = end;
    }
    ExitProcess(failed);
}
