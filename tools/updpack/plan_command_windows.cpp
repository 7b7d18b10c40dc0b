// updpack plan on Windows: the plan runs the updater's rules over the platform stand-in, which maps folders
// to drive letters and records the boxes the updater would show; the Windows build has the real platform
// instead, so the command is left to the Linux tool.
#include "tools/updpack/updpack.h"

int PlanUpdate(const char*, const char*, const PlanOptions&) {
    Report("plan runs on Linux hosts only (it runs the updater's rules over the platform stand-in)");
    return 0;
}
