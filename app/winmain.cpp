// The updater's entry: one straight road from the archive to the wizard and its exit status, and the
// clean-up that every exit runs. Owns the order of the steps; each step reports its own failure.
#include "app/archive_bootstrap.h"
#include "app/cleanup.h"
#include "app/dll_search_path.h"
#include "app/install_lookup.h"
#include "app/installed_setup.h"
#include "app/preflight_checks.h"
#include "app/update_notice.h"
#include "app/wizard.h"
#include "context/updater_context.h"
#include "report/messages.h"
#include "platform/system_libraries.h"
#include "platform/win32.h"

void Cleanup() {
    if (Updater.ArchiveDirectory) {
        GlobalFree(Updater.ArchiveDirectory);
        Updater.ArchiveDirectory = nullptr;
    }
    // The held handle denies deletion to everyone, this process included, so it goes first.
    if (Updater.UpdateIniHandle && Updater.UpdateIniHandle != INVALID_HANDLE_VALUE) {
        CloseHandle(Updater.UpdateIniHandle);
    }
    Updater.UpdateIniHandle = nullptr;
    if (Updater.UpdateIniPath[0]) {
        DeleteFileA(Updater.UpdateIniPath);
        Updater.UpdateIniPath[0] = '\0';
    }
}

static int Exit(int status) {
    Cleanup();
    return status;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // Before anything that can load a DLL: CoInitialize already loads some by name.
    RestrictDllSearchPath();
    // Only kernel32 and the C runtime were bound at start; the rest comes from the system folder now.
    // Without it there is no box to tell anything in.
    if (!LoadSystemLibraries()) return Exit(0);
    ResetUpdaterContext();
    CoInitialize(nullptr);
    if (!BootstrapArchive(instance)) return Exit(0);
    if (!FindInstallation()) return Exit(0);
    ShowUpdateNotice();
    if (!ReadInstalledSetup()) return Exit(0);
    BuildCaption();
    if (BringOtherUpdaterForward()) return Exit(0);
    if (!WaitForGameClosed()) return Exit(0);
    if (RunWizard(instance) != 0) {
        ShowError("アップデートが中断されました");
        return Exit(0);
    }
    return Exit(1);
}
