// The installer's "SETUP.INI" in the installation folder: its presence, then its reading. Apart from the
// registry lookup, so that the publisher's tool runs it without a registry. Owns Updater.SetupIniPath.
#include "app/installed_setup.h"

#include "context/updater_context.h"
#include "platform/text_format.h"
#include "report/messages.h"
#include "setupcfg/path_join.h"
#include "setupcfg/setup_config.h"

int CheckSetupIniPresent() {
    int joined = CopyText(Updater.SetupIniPath, sizeof Updater.SetupIniPath, Updater.Install.InstPath) &&
                 JoinPath(Updater.SetupIniPath, sizeof Updater.SetupIniPath, "SETUP.INI");
    // An installation folder too long for the name cannot hold a "SETUP.INI" that this run could read.
    if (!joined) Updater.SetupIniPath[0] = '\0';
    if (!joined || GetFileAttributesA(Updater.SetupIniPath) == INVALID_FILE_ATTRIBUTES) {
        ShowError("インストール先に \"SETUP.INI\" ファイルが見つかりません");
        return 0;
    }
    return 1;
}

int ReadInstalledSetup() {
    if (!CheckSetupIniPresent()) return 0;
    return ReadSetupConfig();
}
