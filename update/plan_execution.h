// The update behind the wizard's second "次へ", as an engine that decides and does and reports what came
// of it; the wizard draws the pages and ends the dialog. updpack's plan runs the same engine dry.
#pragma once

#include "platform/win32.h"
#include "update/disk_copies.h"
#include "update/run_checks.h"
#include "update/update_plan.h"
#include "update/update_walk.h"

enum UpdateOutcome : int32_t {
    UpdateCompleted = 0,    // every item is in place
    UpdateNothingToDo = 1,  // the filters left no item (after the box that says so)
    UpdateShortOfSpace = 2, // the installation's drive lacks the space the update needs; nothing changed
    UpdateFailed = 3,       // stopped after its messages; nothing changed
    UpdateCancelled = 4,    // the user cancelled at a disc prompt or in the shell's copy; nothing changed
    UpdateWaitsForDisc = 5, // a dry run only: no drive holds a disc the plan needs
};

// What the engine reports while it runs; either call may be null.
struct UpdateProgress {
    void (*busy)(HWND window); // the space is there and the work begins
    CopyProgress copying;      // a disc copy begins (with the item's path)
};

// How a run goes. A dry run decides and checks as the run does but writes nothing, asks for no disc
// (finder only looks), shows no progress, and goes on past a shortage of space (space tells it) so that
// every item is decided.
struct UpdateRunOptions {
    int32_t dryRun;
    UpdateProgress progress;
    DiscFinder finder; // null: the run's own, which asks for the disc with window as the prompt's owner
    void* finderData;
    PlanEntrySeen entrySeen; // told of every entry of the plan as it is read; may be null
    void* entryData;
};

// The whole update: the free-space check ("RequiredDiskSpace" against the installation's drive, and then,
// when the update checks space at all, the bytes it prepares there), the plan, the walk of decisions, the
// preparation of the archive files and disc copies, and their commit. Boxes are shown where a failure is
// found, owned by window. space is filled for the short-of-space page; walk holds every decision made
// (the caller owns it and calls EndWalk); *overwriteOnly is the plan's switch.
UpdateOutcome RunUpdateEngine(HWND window, const UpdateRunOptions& options, UpdateWalk* walk,
                              RequiredSpace* space, int* overwriteOnly);
