// The installer's "SETUP.INI" in the installation folder that the registry record names.
#pragma once

// Builds Updater.SetupIniPath and checks that something of that name exists in the installation folder;
// "インストール先に "SETUP.INI" ファイルが見つかりません" when nothing does.
int CheckSetupIniPresent();
// CheckSetupIniPresent and ReadSetupConfig. 1, or 0 after the message.
int ReadInstalledSetup();
