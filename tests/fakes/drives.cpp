// Scripted free space over the host layer's drives: the free bytes a drive reports, and whether
// GetProcAddress finds the extended query.
#include "platform/standin/standin_state.h"
#include "tests/fakes/fakes_state.h"
#include "tests/fakes/script.h"

namespace Standin {

void SetFreeSpace(char letter, uint64_t freeBytes) {
    char name[3] = {letter, ':', 0};
    if (DriveMapping* drive = DriveOf(name)) {
        drive->hasFreeSpace = true;
        drive->freeBytes = freeBytes;
    }
}

void SetExtendedFreeSpaceQuery(bool available) {
    Script().extendedQueryHidden = !available;
}

void ResetFreeSpace() {
    Script().extendedQueryHidden = false;
}

} // namespace Standin
