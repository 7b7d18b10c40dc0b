// libFuzzer target: the "SETUP.INI" model. The input is written as the installed "SETUP.INI" and read by
// ReadSetupConfig. Whatever the file holds, the reading ends with 1 or with 0 and its message, every text
// field ends inside its array, and the counts it accepted lie within their lists.
#include "context/updater_context.h"
#include "tests/fakes/script.h"
#include "platform/text_format.h"
#include "setupcfg/setup_config.h"
#include "tests/fuzz/fuzz_scratch.h"

#include <cstring>

namespace {

template <size_t N> bool Terminated(const char (&field)[N]) {
    return memchr(field, 0, N) != nullptr;
}

template <size_t Rows, size_t N> bool AllTerminated(const char (&fields)[Rows][N]) {
    for (size_t i = 0; i < Rows; ++i) {
        if (!Terminated(fields[i])) return false;
    }
    return true;
}

bool SelectTerminated(const InstallSelect& select) {
    return Terminated(select.InstallTitle) && AllTerminated(select.InstallFiles);
}

void CheckFields(const SetupConfig& setup) {
    bool terminated = Terminated(setup.CompanyName) && Terminated(setup.GameTitle) &&
                      Terminated(setup.GameDir) && Terminated(setup.GameClass) && Terminated(setup.GameExe) &&
                      Terminated(setup.UninstExe) && AllTerminated(setup.SetupBmp) &&
                      AllTerminated(setup.DiskCheckFile) && AllTerminated(setup.ExecApp) &&
                      Terminated(setup.InstallDXMessage) && Terminated(setup.SelectSetupMessage) &&
                      Terminated(setup.SaveDataFolderNameInInstall) && Terminated(setup.SaveDataFolderName);
    for (int s = 0; s < InstallSelectCapacity; ++s)
        terminated = terminated && SelectTerminated(setup.Select[s]);
    for (int s = 0; s < ShortcutCapacity; ++s)
        terminated = terminated && AllTerminated(setup.Shortcut[s]);
    FuzzCheck(terminated, "a text field of the SETUP.INI model runs past its array");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ResetScratchWorld();
    WriteScratchFile("SETUP.INI", data, size);
    FormatText(Updater.SetupIniPath, sizeof Updater.SetupIniPath, "%c:\\SETUP.INI", ScratchDrive);
    // Quiet or not as the caller chooses; both are used by the updater.
    Updater.QuietMissingKeys = static_cast<int32_t>(size % 2);

    int result = ReadSetupConfig();
    const SetupConfig& setup = Updater.Setup;
    FuzzCheck(result == 0 || result == 1, "the SETUP.INI reader gives a result other than 0 or 1");
    FuzzCheck(Standin::BoxCount() <= 1, "the SETUP.INI reader shows more than one message");
    CheckFields(setup);
    if (result == 1) {
        FuzzCheck(Standin::BoxCount() == 0, "an accepted SETUP.INI shows a message");
        FuzzCheck(setup.SetupBmpLast >= 0 && setup.SetupBmpLast < SetupBmpCapacity,
                  "the bitmap count lies outside its list");
        FuzzCheck(setup.InstallSelects <= InstallSelectCapacity && setup.Shortcuts <= ShortcutCapacity,
                  "an accepted count exceeds its list");
        FuzzCheck(setup.IsEngineWindowClass == (strcmp(setup.GameClass, "TTVPWindowForm") == 0 ? 1 : 0),
                  "the engine window mark does not follow the game class");
    }
    return 0;
}
