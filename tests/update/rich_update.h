// One rich update over an installed game, the fault sweep's fixture: every write mode, a data-rule
// re-write, a data folder, sub-folders the run creates, a read-only target, a file patched from its
// installed release, a disc file, and a disc folder merged over an installed one. Laid out in a scene
// (update_scene.h); the archive is the scene's.
#pragma once

#include "update_scene.h"

#include <string>
#include <vector>

// Installs the game (C:\Game), the data folder (C:\Data) and disc 1 (drive E:), loads the archive and
// writes this run's "UPDATE.INI".
void LayOutRichUpdate(Scene& scene);

// The fixture's archive files, as the scene loads them.
std::vector<ArchiveFile> RichUpdateArchive();

// The entry time of every archive file, and the time of the installed files that are older than it.
extern const uint64_t RichEntryTime;
extern const uint64_t RichOldTime;
// The patched pack's installed release and the one the update makes.
extern const std::string RichPackBase;
extern const std::string RichPackResult;
