// The host layer's calls are its own functions: there is no system library to load.
#include "platform/system_libraries.h"

int LoadSystemLibraries() {
    return 1;
}
