// Stand-in windows and dialog controls that tests create and read.
#include "platform/standin/standin_state.h"
#include "platform/win32.h"

namespace Standin {
void ResetWindows() {}
} // namespace Standin
