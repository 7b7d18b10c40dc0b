// A scene for the update engine's native tests: a fresh temporary host folder with drive C: mapped to its
// "c" folder, an installed game (InstPath C:\Game, DataPath C:\Data), this run's "UPDATE.INI", an archive
// image built in memory, a fake wizard dialog, and host-side helpers to arrange and inspect files.
#pragma once

#include "platform/win32.h"
#include "update/plan_execution.h"

#include <cstdint>
#include <string>
#include <vector>

struct ArchiveFile {
    std::string name;
    std::string content; // stored as is: the file, or a patch
    uint64_t fileTime;   // FILETIME units
    uint32_t flags = 0;  // ArchiveEntryPatch for a patch; stored as is either way
    uint32_t size = 0;   // a patch's result size (for a file, its content's)
};

// A patch entry that makes result from base (the publisher's encoder).
ArchiveFile PatchFile(const std::string& name, const std::string& base, const std::string& result,
                      uint64_t fileTime);

// A plain-directory archive of the files, in order.
std::vector<unsigned char> BuildArchive(const std::vector<ArchiveFile>& files);

// FILETIME units of a date at midnight UTC.
uint64_t FileTimeOf(int year, int month, int day);

struct Scene {
    std::string root; // host folder of the scene; drive C: is root + "/c"
    HWND dialog;      // IDOK, IDCANCEL, IDC_BACK and IDC_INFO
    std::vector<unsigned char> archive;

    Scene();
    ~Scene();
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    std::string Host(const std::string& relative) const { return root + "/" + relative; }
    // Writes "UPDATE.INI" with "[UPDATE]" followed by the given lines (each ended by CR LF here).
    void WriteUpdateIni(const std::vector<std::string>& lines);
    // Makes the archive of the run and loads its directory into Updater.
    void UseArchive(const std::vector<ArchiveFile>& files);
    // Maps a drive letter to root + "/" + folder (null: a drive without a disc).
    void MapDrive(char letter, const char* folder, UINT type);
};

// The engine run dry over the scene's plan, as updpack's plan runs it (discs only looked for), into walk,
// begun here; the caller ends it.
UpdateOutcome RunEngineDry(UpdateWalk* walk);

// Host file helpers (paths are host paths).
void WriteHostFile(const std::string& path, const std::string& content);
std::string ReadHostFile(const std::string& path);
bool HostExists(const std::string& path);
bool HostIsFolder(const std::string& path);
void MakeHostFolder(const std::string& path); // with its parents
void SetHostTime(const std::string& path, uint64_t fileTime);
uint64_t HostTime(const std::string& path);
void SetHostReadOnly(const std::string& path, bool readOnly);
bool HostReadOnly(const std::string& path);
void RemoveHostTree(const std::string& path);
