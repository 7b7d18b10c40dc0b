// Reads the "[UPDATE]" section of this run's "UPDATE.INI" into the plan of Updater.
#pragma once

// Fills UpdateItems, UpdateCount, CopyItems, CopyCount and *overwriteOnly (0 or 1). Returns 0 after the
// message "No 'UpdateFileXX' and 'CopyFileXX'" when neither list has its first key, else 1.
int ReadUpdatePlan(int* overwriteOnly);
