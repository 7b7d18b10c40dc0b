// The one process-wide state record of the updater, grouped as the data it holds. Zero-filled at start
// (ResetUpdaterContext), shared by every layer on the program's only thread.
#pragma once

#include "context/archive_format.h"
#include "platform/win32.h"
#include "context/setup_config_model.h"
#include "context/update_plan_model.h"

#include <cstdint>

// The installed product as the installer recorded it in "Software\<company>\<game folder>".
struct InstallRecord {
    char InstPath[260]; // installation folder
    char DataPath[260]; // data folder; empty when the value is missing
    DWORD InstMode;     // install variant; filters the update lists
    DWORD InstAdd;      // read, never used
};

// The wizard's pages, in the order "次へ" walks them; app/wizard.cpp holds the transitions between them.
enum WizardPage : int32_t {
    WizardStartPage = 0,   // the start page, with the agreement when there is one
    WizardConfirmPage = 1, // the confirmation: its "次へ" runs the update
    WizardUpdateRan = 2,   // the update ran (or stopped); "次へ" ends the dialog, "戻る" confirms again
    WizardEnded = 3,       // the dialog was ended from there
};

struct UpdaterContext {
    // The archive: resource bytes (not owned) and the loaded header-and-directory block (owned).
    const unsigned char* ArchiveImage;
    DWORD ArchiveImageSize;
    unsigned char* ArchiveDirectory; // ArchiveHeader followed by entryCount plain ArchiveEntry records

    // Profile paths and switches.
    char UpdateIniPath[260];  // this run's extracted "UPDATE.INI"
    HANDLE UpdateIniHandle;   // held open from extraction to Cleanup so nobody can change or swap it
    char SetupIniPath[260];   // the installed "SETUP.INI"
    int32_t QuietMissingKeys; // nonzero: a missing key is only returned as a failure, not reported
    int32_t CurrentDisk;      // disk number of the last disk prefix NextToken met

    // Identity and options of "UPDATE.INI" (company, title, folder and class live in Setup).
    char GameTitleA[260];
    char UpdaterVersion[260];
    char UpdaterTitle[260];
    char DataFolder[260];
    char UpdateMessage[1024];
    char* AgreementTextData;  // entry bytes and two NULs; null when there is no agreement
    char* AgreementTitleData; // likewise for the start page's text

    InstallRecord Install;
    SetupConfig Setup;

    // The wizard.
    char Caption[1024];    // "UPDATE" until the real caption is built
    HWND OwnerWindow;      // the wizard while its window exists, owner of every box
    WizardPage WizardStep; // the page shown
    int32_t WizardBusy;    // 1 while a "次へ" or "戻る" command is handled

    // The plan of the current run.
    UpdateItem UpdateItems[UpdateListCapacity];
    int32_t UpdateCount;
    CopyItem CopyItems[UpdateListCapacity];
    int32_t CopyCount;
};

extern UpdaterContext Updater;

// Zero-fills the record and sets the initial caption "UPDATE".
void ResetUpdaterContext();
