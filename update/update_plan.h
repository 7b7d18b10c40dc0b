// Reads the "[UPDATE]" section of this run's "UPDATE.INI" into the plan of Updater.
#pragma once

#include <cstdint>

// Fills UpdateItems, UpdateCount, CopyItems, CopyCount and *overwriteOnly (0 or 1). Returns 0 after the
// message "No 'UpdateFileXX' and 'CopyFileXX'" when neither list has its first key, else 1.
int ReadUpdatePlan(int* overwriteOnly);

// Told of every entry as it is read, in key order ("UpdateFileNN" as list 0, "CopyFileNN" as list 1), with
// its value and whether the install-variant filter leaves it out (and the filter's variant, -1 for none).
typedef void (*PlanEntrySeen)(int list, int index, const char* value, int filtered, int variant, void* data);
// ReadUpdatePlan, telling seen (when not null) of each entry.
int ReadUpdatePlanEntries(int* overwriteOnly, PlanEntrySeen seen, void* data);

struct UpdateItem;
// The grammar of one "UpdateFileNN" value alone, without the install-variant filter: fills item, and
// *variant with the filter's digit, or -1 when the entry has none. (updpack checks every entry with it.)
void ParseUpdateValue(const char* value, UpdateItem* item, int* variant);

struct CopyItem;
// The grammar of one "CopyFileNN" value alone: fills item, and *variant with the filter's byte less "0"
// when the entry has a filter. 1 when it has one, else 0.
int ParseCopyValue(const char* value, CopyItem* item, int32_t* variant);
