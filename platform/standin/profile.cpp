// Stand-in private-profile reader.
#include "platform/win32.h"
