// Start-up up to the installation lookup: the program's own file checked whole, the archive resource, this
// run's "UPDATE.INI", the "[SETUP]" identity and the agreement texts. Owns the life of Updater.ArchiveImage
// (borrowed from the resource, never freed), the per-run "UPDATE.INI" and its held handle (released by
// Cleanup), and the agreement blocks (kept until the process ends).
#include "app/archive_bootstrap.h"

#include "app/program_check.h"
#include "archive/archive.h"
#include "context/updater_context.h"
#include "report/messages.h"
#include "platform/text_format.h"
#include "setupcfg/profile_access.h"

#include <cstring>

namespace {
// GetTempFileNameA adds at most "\", a 3-character prefix, 4 hex digits and ".TMP" to the folder, and
// refuses folders longer than MAX_PATH - 14; checking it here keeps the rule independent of the platform.
const size_t TempNameRoom = 14;

// Releases what FindEntryData handed out, and only when it is ours: entries stored as is point into the
// resource, which belongs to the platform.
void ReleaseEntryData(unsigned char* data) {
    if (data && ArchiveDataIsOwned(data)) GlobalFree(data);
}

// Reads the held file through its handle and compares it with the expected bytes, a chunk at a time.
int HeldFileEquals(HANDLE file, const unsigned char* expected, uint32_t size) {
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE || high != 0 || low != size) return 0;
    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return 0;
    unsigned char chunk[4096];
    uint32_t offset = 0;
    while (offset < size) {
        DWORD want = size - offset < sizeof chunk ? size - offset : static_cast<DWORD>(sizeof chunk);
        DWORD got = 0;
        if (!ReadFile(file, chunk, want, &got, nullptr) || got != want) return 0;
        if (memcmp(chunk, expected + offset, want) != 0) return 0;
        offset += want;
    }
    return 1;
}
} // namespace

int CheckOwnProgram(HINSTANCE instance) {
    // The wide calls: the folder a download lands in may be named in characters the ANSI code page lacks,
    // and the program must find its own file whatever its name.
    WCHAR path[1024];
    DWORD length = GetModuleFileNameW(instance, path, sizeof path / sizeof path[0]);
    HANDLE file = length > 0 && length < sizeof path / sizeof path[0]
                      ? CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)
                      : INVALID_HANDLE_VALUE;
    ProgramCheck check;
    int whole = file != INVALID_HANDLE_VALUE && CheckProgramFile(file, &check);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (!whole) ShowError("アップデートファイルが壊れています。もう一度ダウンロードして下さい");
    return whole;
}

int MapArchiveResource(HINSTANCE instance) {
    HRSRC resource = FindResourceA(instance, MAKEINTRESOURCEA(102), "UPDATE");
    if (!resource) return 0;
    DWORD size = SizeofResource(instance, resource);
    if (size == 0) return 0;
    HGLOBAL loaded = LoadResource(instance, resource);
    if (!loaded) return 0;
    const void* bytes = LockResource(loaded);
    if (!bytes) return 0;
    Updater.ArchiveImage = static_cast<const unsigned char*>(bytes);
    Updater.ArchiveImageSize = size;
    return 1;
}

int LoadArchiveDirectory() {
    ArchiveSource source = {Updater.ArchiveImage, Updater.ArchiveImageSize, nullptr};
    Updater.ArchiveDirectory = LoadArchive(source);
    if (!Updater.ArchiveDirectory) {
        ShowError("RESOURCE READ ERROR");
        return 0;
    }
    return 1;
}

int CreateUpdateIniFile() {
    char folder[MAX_PATH];
    DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder || length > sizeof folder - TempNameRoom) return 0;
    char path[MAX_PATH];
    memset(path, 0, sizeof path);
    if (GetTempFileNameA(folder, "UPD", 0, path) == 0) return 0;
    // From here on the file exists, so Cleanup must know it even if a later step fails.
    if (!CopyText(Updater.UpdateIniPath, sizeof Updater.UpdateIniPath, path)) {
        DeleteFileA(path);
        Updater.UpdateIniPath[0] = '\0';
        return 0;
    }
    return 1;
}

int HoldUpdateIniFile() {
    HANDLE file = CreateFileA(Updater.UpdateIniPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    Updater.UpdateIniHandle = file;
    uint32_t size = 0;
    unsigned char* expected = FindEntryData("UPDATE.INI", &size);
    if (!expected) return 0;
    int same = HeldFileEquals(file, expected, size);
    ReleaseEntryData(expected);
    return same;
}

int WriteUpdateIni() {
    if (!CreateUpdateIniFile()) return 0;
    if (!ExtractEntry(Updater.UpdateIniPath, "UPDATE.INI", 0)) return 0;
    return HoldUpdateIniFile();
}

int ReadUpdateIdentity() {
    SetupConfig& setup = Updater.Setup;
    if (!ReadProfileValue("SETUP", "CompanyName", setup.CompanyName, sizeof setup.CompanyName)) return 0;
    if (!ReadProfileValue("SETUP", "GameTitle", setup.GameTitle, sizeof setup.GameTitle)) return 0;
    if (!ReadProfileValue("SETUP", "GameClass", setup.GameClass, sizeof setup.GameClass)) return 0;
    if (!ReadProfileValue("SETUP", "GameDir", setup.GameDir, sizeof setup.GameDir)) return 0;
    Updater.QuietMissingKeys = 1;
    ReadProfileValue("SETUP", "GameTitleA", Updater.GameTitleA, sizeof Updater.GameTitleA);
    ReadProfileValue("SETUP", "UpdaterVersion", Updater.UpdaterVersion, sizeof Updater.UpdaterVersion);
    ReadProfileValue("SETUP", "UpdaterTitle", Updater.UpdaterTitle, sizeof Updater.UpdaterTitle);
    ReadProfileValue("SETUP", "DataFolder", Updater.DataFolder, sizeof Updater.DataFolder);
    ReadProfileValue("SETUP", "UpdateMessage", Updater.UpdateMessage, sizeof Updater.UpdateMessage);
    return 1;
}

int LoadAgreementEntry(const char* key, char** block) {
    *block = nullptr;
    char name[260];
    if (!ReadProfileValue("SETUP", key, name, sizeof name)) return 1;
    uint32_t size = 0;
    unsigned char* data = FindEntryData(name, &size);
    if (!data) {
        char message[1024];
        FormatText(message, sizeof message, "'%s' not found at UPDATE.KT3", name);
        ShowError(message);
        return 0;
    }
    // Two NULs after the bytes: the block is shown as a text whatever the entry holds.
    char* copy = size <= 0xFFFFFFFFu - 2 ? static_cast<char*>(GlobalAlloc(GPTR, size_t(size) + 2)) : nullptr;
    if (!copy) {
        ReleaseEntryData(data);
        ShowError("Can't Allocate Memory !!");
        return 0;
    }
    memcpy(copy, data, size);
    ReleaseEntryData(data);
    *block = copy;
    return 1;
}

int BootstrapArchive(HINSTANCE instance) {
    if (!CheckOwnProgram(instance)) return 0;
    if (!MapArchiveResource(instance)) return 0;
    if (!LoadArchiveDirectory()) return 0;
    if (!WriteUpdateIni()) return 0;
    if (!ReadUpdateIdentity()) return 0;
    if (!LoadAgreementEntry("AgreementText", &Updater.AgreementTextData)) return 0;
    return LoadAgreementEntry("AgreementTitle", &Updater.AgreementTitleData);
}
