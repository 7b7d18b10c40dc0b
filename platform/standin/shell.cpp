// Stand-in of the shell's file copy.
#include "platform/standin/standin_state.h"
#include "platform/win32.h"

namespace Standin {
void ResetShell() {}
} // namespace Standin
