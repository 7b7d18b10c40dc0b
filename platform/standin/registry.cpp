// Stand-in registry of the current user: values that tests set, read through the ANSI calls.
#include "platform/standin/standin_state.h"
#include "platform/win32.h"

namespace Standin {
void ResetRegistry() {}
} // namespace Standin
