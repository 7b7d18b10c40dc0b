// The shell's file copy on a Linux host. The host has no shell: a copy fails as one the shell could not
// start, unless the hooks (host_hooks.h) give a shell's copy, as the tests' scripted shell does. updpack's
// plan never copies.
#include "platform/standin/standin_state.h"
#include "platform/win32.h"

int SHFileOperationA(LPSHFILEOPSTRUCTA operation) {
    if (int (*copy)(LPSHFILEOPSTRUCTA) = Standin::ShellCopyOfHooks()) return copy(operation);
    if (operation) operation->fAnyOperationsAborted = FALSE;
    return 120; // ERROR_CALL_NOT_IMPLEMENTED
}
