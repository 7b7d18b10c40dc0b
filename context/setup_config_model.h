// The installer's "SETUP.INI" as the updater holds it. Most fields are kept only, because the reader is
// shared with the installer and rejects a file that the installer would reject.
#pragma once

#include <cstdint>

enum {
    SetupBmpCapacity = 20,
    InstallSelectCapacity = 4,
    InstallFilesCapacity = 40,
    ShortcutCapacity = 10,
    ShortcutFieldCount = 4,
    DiskCheckFileCount = 10,
    ExecAppCount = 2,
};

struct InstallSelect {
    char InstallTitle[260];
    char InstallFiles[InstallFilesCapacity][260];
    int32_t InstallDisks[InstallFilesCapacity]; // disk prefix of each file, 0 = none
    int32_t UsesDisks;                          // 1 when any file carries a nonzero disk
    uint32_t InstallSize[2];                    // 64-bit byte count, low word first
};

struct SetupConfig {
    // Identity: filled from "UPDATE.INI" at start-up, replaced by "SETUP.INI" when it is read.
    char CompanyName[260];
    char GameTitle[260];
    char GameDir[260];
    char GameClass[260];

    char GameExe[260];
    char UninstExe[260];
    char SetupBmp[SetupBmpCapacity][260];
    int32_t SetupBmpLast; // number of bitmaps - 1
    int32_t InstallSelects;
    InstallSelect Select[InstallSelectCapacity];
    int32_t Shortcuts;
    char Shortcut[ShortcutCapacity][ShortcutFieldCount][260];
    int32_t IsEngineWindowClass;
    int32_t DefaultSelect;
    char DiskCheckFile[DiskCheckFileCount][260]; // entry d names the file that identifies disk d
    char ExecApp[ExecAppCount][260];
    uint32_t InstallDirectX;
    char InstallDXMessage[1024];
    char SelectSetupMessage[1024];
    int32_t UseCompanyNameForShortcutGroup;
    int32_t ChooseSaveDataFolder;
    char SaveDataFolderNameInInstall[260];
    char SaveDataFolderName[260];
    int32_t CancelSaveData;
    int32_t InstallAfterAdd;
};
