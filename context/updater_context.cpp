// The process-wide state record and its reset.
#include "context/updater_context.h"

#include <cstring>

UpdaterContext Updater;

void ResetUpdaterContext() {
    memset(&Updater, 0, sizeof Updater);
    strcpy(Updater.Caption, "UPDATE");
}
