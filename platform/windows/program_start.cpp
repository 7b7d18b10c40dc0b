// The updater's entry point, in the place of the C runtime's start-up, which the updater does without
// (platform/windows/c_library.cpp says why). It has nothing to set up: the updater has no constructors,
// no arguments to split and no streams to flush; its end is ExitProcess, which also ends any thread that a
// system library started.
#include "platform/win32.h"

extern "C" void WINAPI UpdaterStart() {
    // WinMain ignores the command line and how to show its window.
    ExitProcess(
        static_cast<UINT>(WinMain(GetModuleHandleA(nullptr), nullptr, GetCommandLineA(), SW_SHOWDEFAULT)));
}
