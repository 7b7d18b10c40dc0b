// The one clean-up that every exit of the updater runs (defined beside WinMain).
#pragma once

// Frees the archive directory, lets go of this run's "UPDATE.INI" and deletes it. Safe to run at any
// point of the road; it forgets what it released, so a second run does nothing.
void Cleanup();
