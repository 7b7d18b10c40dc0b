// Reads the installed "SETUP.INI" (Updater.SetupIniPath) into Updater.Setup, with its lists, limits,
// defaults and messages. 1 on success, 0 after its message (or silently for a missing required key
// while QuietMissingKeys is set).
#pragma once

int ReadSetupConfig();
