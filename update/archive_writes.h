// Preparing the archive files the walk decided, one step of the update run.
#pragma once

struct StagedUpdate;
struct UpdateWalk;

// Carries out walk's archive decisions in list order: the target folders made, each written file prepared
// complete beside its target, each kept content re-written beside it, a kept read-only file marked for
// the commit, all recorded in staged. With staged null, only checks what preparing checks (each entry's
// content can be had) and writes nothing. 1 when all are done; 0 after deleting what staged holds and the
// failure's messages, with the item's decision made VerdictRefused.
int PrepareArchiveFiles(UpdateWalk* walk, StagedUpdate* staged);
