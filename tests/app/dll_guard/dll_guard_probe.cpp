// The first steps of the updater's WinMain, with the DLL search restriction switched by the argument
// ("guard" or "no-guard"), so that dll-guard.sh can show that the planted DLL is loaded without it.
#include "app/dll_search_path.h"
#include "platform/win32.h"

#include <cstring>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    if (std::strcmp(argv[1], "guard") == 0 && !RestrictDllSearchPath()) return 3;
    CoInitialize(nullptr);
    return 0;
}
