// The shell's file copy on a Linux host. The host has no shell: a copy fails as one the shell could not
// start, unless a test has put its scripted shell in place (tests/fakes). updpack's plan never copies.
#include "platform/standin/host_files.h"
#include "platform/win32.h"

namespace {
Standin::ShellCopy shellCopy = nullptr;
} // namespace

namespace Standin {
void SetShellCopy(ShellCopy copy) {
    shellCopy = copy;
}
} // namespace Standin

int SHFileOperationA(LPSHFILEOPSTRUCTA operation) {
    if (shellCopy) return shellCopy(operation);
    if (operation) operation->fAnyOperationsAborted = FALSE;
    return 120; // ERROR_CALL_NOT_IMPLEMENTED
}
