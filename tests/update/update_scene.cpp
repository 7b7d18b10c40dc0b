// The update engine's test scene: temporary folders, drives, "UPDATE.INI", the in-memory archive and the
// fake wizard dialog, torn down after each case.
#include "update_scene.h"

#include "report/wizard_pages.h"
#include "archive/archive.h"
#include "context/updater_context.h"
#include "tests/fakes/script.h"
#include "tests/fakes/window_script.h"
#include "tools/packer/patch_encoder.h"

#include <doctest/doctest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void Put32(std::vector<unsigned char>& out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

const uint64_t UnixEpochUnits = 11644473600ull * 10000000ull;

} // namespace

std::vector<unsigned char> BuildArchive(const std::vector<ArchiveFile>& files) {
    std::vector<unsigned char> image(ArchiveHeaderSize, 0);
    for (const ArchiveFile& file : files) {
        image.insert(image.end(), file.content.begin(), file.content.end());
        while (image.size() % 16)
            image.push_back(0);
    }
    size_t directoryOffset = image.size();
    for (const ArchiveFile& file : files) {
        size_t at = image.size();
        image.resize(at + ArchiveEntrySize, 0);
        REQUIRE(file.name.size() < ArchiveNameCapacity);
        memcpy(&image[at], file.name.data(), file.name.size());
        Put32(image, at + 260, file.flags ? file.flags : uint32_t(ArchiveEntryStored));
        Put32(image, at + 264, static_cast<uint32_t>(file.fileTime));
        Put32(image, at + 268, static_cast<uint32_t>(file.fileTime >> 32));
        Put32(image, at + 272, file.flags ? file.size : static_cast<uint32_t>(file.content.size()));
        Put32(image, at + 276, static_cast<uint32_t>(file.content.size()));
    }
    memcpy(&image[0], "KT2", 4);
    Put32(image, 4, 0);
    Put32(image, 8, static_cast<uint32_t>(directoryOffset));
    Put32(image, 12, static_cast<uint32_t>(files.size()));
    return image;
}

ArchiveFile PatchFile(const std::string& name, const std::string& base, const std::string& result,
                      uint64_t fileTime) {
    std::vector<unsigned char> patch;
    REQUIRE(EncodePatch(reinterpret_cast<const unsigned char*>(base.data()), base.size(),
                        reinterpret_cast<const unsigned char*>(result.data()),
                        static_cast<uint32_t>(result.size()), patch));
    return {name, std::string(patch.begin(), patch.end()), fileTime, ArchiveEntryPatch,
            static_cast<uint32_t>(result.size())};
}

UpdateOutcome RunEngineDry(UpdateWalk* walk) {
    BeginWalk(walk, 1);
    UpdateRunOptions options = {};
    options.dryRun = 1;
    options.finder = LookForDisc;
    RequiredSpace space;
    int overwriteOnly;
    return RunUpdateEngine(nullptr, options, walk, &space, &overwriteOnly);
}

uint64_t FileTimeOf(int year, int month, int day) {
    // Days from the civil date (proleptic Gregorian), then seconds since 1970.
    int y = year - (month <= 2 ? 1 : 0);
    int era = (y >= 0 ? y : y - 399) / 400;
    int yearOfEra = y - era * 400;
    int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    int64_t days = static_cast<int64_t>(era) * 146097 + dayOfEra - 719468;
    return UnixEpochUnits + static_cast<uint64_t>(days * 86400) * 10000000ull;
}

Scene::Scene() : dialog(nullptr) {
    Standin::ResetAll();
    ResetUpdaterContext();
    char folder[] = "/tmp/update-scene-XXXXXX";
    REQUIRE(mkdtemp(folder) != nullptr);
    root = folder;
    MakeHostFolder(Host("c/Game"));
    MakeHostFolder(Host("c/Data"));
    MapDrive('C', "c", DRIVE_FIXED);
    Standin::SetFreeSpace('C', 1ull << 30);
    strcpy(Updater.Install.InstPath, "C:\\Game");
    strcpy(Updater.Install.DataPath, "C:\\Data");
    Updater.Install.InstMode = 1;
    Updater.QuietMissingKeys = 1;
    strcpy(Updater.Caption, "テスト アップデート");
    strcpy(Updater.Setup.GameTitle, "テストゲーム");
    snprintf(Updater.UpdateIniPath, sizeof Updater.UpdateIniPath, "%s/UPDATE.INI", root.c_str());
    const int controls[] = {IDOK, IDCANCEL, IDC_BACK, IDC_INFO};
    dialog = Standin::CreateFakeDialog(controls, 4, nullptr);
    REQUIRE(dialog != nullptr);
    Updater.OwnerWindow = dialog;
}

Scene::~Scene() {
    if (Updater.ArchiveDirectory) GlobalFree(Updater.ArchiveDirectory);
    Updater.ArchiveDirectory = nullptr;
    Updater.ArchiveImage = nullptr;
    RemoveHostTree(root);
}

void Scene::WriteUpdateIni(const std::vector<std::string>& lines) {
    std::string text = "[SETUP]\r\nGameTitle=x\r\n[UPDATE]\r\n";
    for (const std::string& line : lines)
        text += line + "\r\n";
    WriteHostFile(Updater.UpdateIniPath, text);
}

void Scene::UseArchive(const std::vector<ArchiveFile>& files) {
    archive = BuildArchive(files);
    if (Updater.ArchiveDirectory) GlobalFree(Updater.ArchiveDirectory);
    Updater.ArchiveImage = archive.data();
    Updater.ArchiveImageSize = static_cast<DWORD>(archive.size());
    ArchiveSource source = {archive.data(), static_cast<uint32_t>(archive.size()), nullptr};
    Updater.ArchiveDirectory = LoadArchive(source);
    REQUIRE(Updater.ArchiveDirectory != nullptr);
}

void Scene::MapDrive(char letter, const char* folder, UINT type) {
    if (!folder) {
        Standin::SetDrive(letter, nullptr, type);
        return;
    }
    std::string host = Host(folder);
    MakeHostFolder(host);
    Standin::SetDrive(letter, host.c_str(), type);
}

void WriteHostFile(const std::string& path, const std::string& content) {
    FILE* file = fopen(path.c_str(), "wb");
    REQUIRE(file != nullptr);
    REQUIRE(fwrite(content.data(), 1, content.size(), file) == content.size());
    fclose(file);
}

std::string ReadHostFile(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return "<missing>";
    std::string content;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
        content.append(buffer, got);
    fclose(file);
    return content;
}

bool HostExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

bool HostIsFolder(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void MakeHostFolder(const std::string& path) {
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at == path.size() || path[at] == '/') {
            std::string part = path.substr(0, at);
            if (!HostIsFolder(part)) REQUIRE(mkdir(part.c_str(), 0755) == 0);
        }
    }
}

void SetHostTime(const std::string& path, uint64_t fileTime) {
    uint64_t units = fileTime - UnixEpochUnits;
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(units / 10000000ull);
    times[0].tv_nsec = static_cast<long>((units % 10000000ull) * 100);
    times[1] = times[0];
    REQUIRE(utimensat(AT_FDCWD, path.c_str(), times, 0) == 0);
}

uint64_t HostTime(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return 0;
    return UnixEpochUnits + static_cast<uint64_t>(info.st_mtim.tv_sec) * 10000000ull +
           static_cast<uint64_t>(info.st_mtim.tv_nsec) / 100;
}

void SetHostReadOnly(const std::string& path, bool readOnly) {
    REQUIRE(chmod(path.c_str(), readOnly ? 0444 : 0644) == 0);
}

bool HostReadOnly(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && (info.st_mode & S_IWUSR) == 0;
}

void RemoveHostTree(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return;
    if (S_ISDIR(info.st_mode)) {
        chmod(path.c_str(), 0755);
        if (DIR* folder = opendir(path.c_str())) {
            while (struct dirent* entry = readdir(folder)) {
                if (!strcmp(entry->d_name, ".") || !strcmp(entry->d_name, "..")) continue;
                RemoveHostTree(path + "/" + entry->d_name);
            }
            closedir(folder);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}
