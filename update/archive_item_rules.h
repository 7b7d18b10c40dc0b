// The rules that decide what becomes of one archive item of the plan, apart from any writing: where its
// file goes, the existing-file rule and the data rule. Each asks the overlay of what the earlier items
// leave, so the run and updpack's plan decide alike. Owns nothing.
#pragma once

#include "context/update_plan_model.h"
#include "update/file_overlay.h"

#include <cstdint>

enum { ArchiveTargetCapacity = 1024 };

// The target folder (base joined with DataFolder) and the full target of item, each of
// ArchiveTargetCapacity bytes. 0 when the path token was cut, either does not fit, or the target is longer
// than the platform's file calls take: such an item would otherwise be written under another, cut name.
int BuildArchiveTarget(const UpdateItem& item, char* folder, char* target);

// The existing-file rule: 1 when the item is skipped because nothing but a file may be written over and
// target is no file (missing, or a folder).
int SkippedAsMissing(const UpdateItem& item, int overwriteOnly, const char* target,
                     const FileOverlay* overlay);

enum DataRuleChoice {
    DataFromArchive = 0, // no file there (or a folder): the archive's copy is written
    DataRewritten = 1,   // the player's file keeps its content, re-written with the update's time
    DataReadOnly = 2,    // a read-only player's file stays as it is
    DataUnreadable = 3,  // a player's file that cannot be read stays as it is rather than be lost
};

// The data rule over target. For DataRewritten, where the kept content comes from: *content (an
// OverlayContent) and source (MAX_PATH bytes: the file, or the archive entry an earlier item writes
// there), and its *size.
DataRuleChoice ChooseDataRule(const char* target, const FileOverlay* overlay, int32_t* content, char* source,
                              uint32_t* size);
