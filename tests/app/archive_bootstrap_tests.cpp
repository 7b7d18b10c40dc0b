// Start-up against the real Windows API (under Wine): this run's own "UPDATE.INI" in the temporary folder,
// held so that nobody else can write, replace or delete it while the profile reader still reads it, gone
// after Cleanup; the identity keys and the agreement blocks taken from a hand-built archive image; and the
// table of entry points into the system libraries, filled as WinMain fills it.
#include "app/archive_bootstrap.h"
#include "app/cleanup.h"
#include "archive/archive.h"
#include "context/updater_context.h"
#include "platform/system_libraries.h"
#include "platform/win32.h"

#include <doctest/doctest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {
// This program links WinMain and with it the table through which every call into user32, advapi32, shell32
// and ole32 goes: the table is filled before anything runs, as WinMain fills it first.
const int SystemLibrariesLoaded = LoadSystemLibraries();

const char* const UpdateIni = "[SETUP]\r\nCompanyName=TestCo\r\nGameTitle=テスト\r\nGameClass=TestClass\r\n"
                              "GameDir=TestGame\r\nUpdaterVersion=1.5\r\nAgreementText=license.txt\r\n";

struct Entry {
    const char* name;
    std::string data;
};

// A plain archive: header, each entry's bytes padded to 16, then the uncompressed directory.
std::vector<unsigned char> BuildArchive(const std::vector<Entry>& entries) {
    std::vector<unsigned char> image(ArchiveHeaderSize, 0);
    for (const Entry& entry : entries) {
        image.insert(image.end(), entry.data.begin(), entry.data.end());
        image.resize((image.size() + 15) & ~size_t(15), 0);
    }
    ArchiveHeader header = {{'K', 'T', '2', 0}, 0, uint32_t(image.size()), uint32_t(entries.size())};
    memcpy(image.data(), &header, sizeof header);
    for (const Entry& entry : entries) {
        ArchiveEntry record;
        memset(&record, 0, sizeof record);
        strcpy(record.name, entry.name);
        record.flags = ArchiveEntryStored;
        record.fileTime.dwHighDateTime = 0x01D00000;
        record.size = record.storedSize = uint32_t(entry.data.size());
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&record);
        image.insert(image.end(), bytes, bytes + sizeof record);
    }
    return image;
}

std::vector<unsigned char> image;

void Start(const std::vector<Entry>& entries) {
    Cleanup();
    ResetUpdaterContext();
    image = BuildArchive(entries);
    Updater.ArchiveImage = image.data();
    Updater.ArchiveImageSize = DWORD(image.size());
    REQUIRE(LoadArchiveDirectory() == 1);
}

int Exists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadKey(const char* key) {
    char value[260] = "";
    GetPrivateProfileStringA("SETUP", key, "", value, sizeof value, Updater.UpdateIniPath);
    return value;
}
} // namespace

TEST_CASE("this run's UPDATE.INI: unique, held against writers and deleters, readable, removed by Cleanup") {
    Start({{"UPDATE.INI", UpdateIni}});
    REQUIRE(WriteUpdateIni() == 1);
    std::string path = Updater.UpdateIniPath;

    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    CHECK(path.compare(0, strlen(folder), folder) == 0);
    CHECK(path.size() < sizeof Updater.UpdateIniPath);
    CHECK(Exists(path.c_str()));

    HANDLE writer =
        CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    CHECK(writer == INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    CHECK(DeleteFileA(path.c_str()) == FALSE);

    // Nothing can be renamed over it either.
    std::string planted = path + ".planted";
    HANDLE other = CreateFileA(planted.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE(other != INVALID_HANDLE_VALUE);
    CloseHandle(other);
    CHECK(MoveFileExA(planted.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) == FALSE);
    DeleteFileA(planted.c_str());

    // The platform's profile reader still reads it while it is held.
    CHECK(ReadKey("CompanyName") == "TestCo");
    CHECK(ReadKey("GameTitle") == "テスト");

    Cleanup();
    CHECK_FALSE(Exists(path.c_str()));
    CHECK(Updater.UpdateIniPath[0] == '\0');
    CHECK(Updater.ArchiveDirectory == nullptr);
    Cleanup(); // a second clean-up has nothing left to do
}

TEST_CASE("two runs never share a file") {
    Start({{"UPDATE.INI", UpdateIni}});
    REQUIRE(WriteUpdateIni() == 1);
    std::string first = Updater.UpdateIniPath;
    HANDLE firstHandle = Updater.UpdateIniHandle;
    // Stand for a second copy of the updater: forget the first run's file without cleaning it.
    Updater.UpdateIniHandle = nullptr;
    Updater.UpdateIniPath[0] = '\0';
    REQUIRE(WriteUpdateIni() == 1);
    CHECK(std::string(Updater.UpdateIniPath) != first);
    Cleanup();
    CHECK(Exists(first.c_str()));
    CloseHandle(firstHandle);
    DeleteFileA(first.c_str());
}

TEST_CASE("a file whose bytes are not the archive's UPDATE.INI is refused, and still removed") {
    Start({{"UPDATE.INI", UpdateIni}});
    REQUIRE(CreateUpdateIniFile() == 1);
    std::string path = Updater.UpdateIniPath;
    const char* swapped = "[SETUP]\r\nCompanyName=Other\r\n";
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, swapped, DWORD(strlen(swapped)), &written, nullptr);
    CloseHandle(file);
    CHECK(HoldUpdateIniFile() == 0);

    // Same length, one byte different.
    std::string altered = UpdateIni;
    altered[altered.size() - 3] = 'X';
    Cleanup();
    Start({{"UPDATE.INI", UpdateIni}});
    REQUIRE(CreateUpdateIniFile() == 1);
    path = Updater.UpdateIniPath;
    file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE);
    WriteFile(file, altered.data(), DWORD(altered.size()), &written, nullptr);
    CloseHandle(file);
    CHECK(HoldUpdateIniFile() == 0);
    Cleanup();
    CHECK_FALSE(Exists(path.c_str()));
}

TEST_CASE("a temporary folder too long for the file name ends the run silently") {
    char saved[MAX_PATH * 2] = "";
    DWORD hadTmp = GetEnvironmentVariableA("TMP", saved, sizeof saved);
    std::string longFolder = "C:\\" + std::string(250, 'a');
    SetEnvironmentVariableA("TMP", longFolder.c_str());
    Start({{"UPDATE.INI", UpdateIni}});
    CHECK(CreateUpdateIniFile() == 0);
    CHECK(Updater.UpdateIniPath[0] == '\0');
    SetEnvironmentVariableA("TMP", hadTmp ? saved : nullptr);
    Cleanup();
}

TEST_CASE("identity keys and agreement blocks") {
    Start({{"UPDATE.INI", UpdateIni}, {"LICENSE.TXT", "同意して下さい"}, {"empty.txt", ""}});
    REQUIRE(WriteUpdateIni() == 1);
    REQUIRE(ReadUpdateIdentity() == 1);
    CHECK(Updater.QuietMissingKeys == 1);
    CHECK(std::string(Updater.Setup.CompanyName) == "TestCo");
    CHECK(std::string(Updater.Setup.GameTitle) == "テスト");
    CHECK(std::string(Updater.Setup.GameClass) == "TestClass");
    CHECK(std::string(Updater.Setup.GameDir) == "TestGame");
    CHECK(std::string(Updater.UpdaterVersion) == "1.5");
    CHECK(std::string(Updater.UpdaterTitle) == "");

    SUBCASE("an entry named without regard to case, copied with two NULs after it") {
        char* text = nullptr;
        REQUIRE(LoadAgreementEntry("AgreementText", &text) == 1);
        REQUIRE(text != nullptr);
        size_t length = strlen("同意して下さい");
        CHECK(std::string(text) == "同意して下さい");
        CHECK(text[length] == '\0');
        CHECK(text[length + 1] == '\0');
        CHECK(ArchiveDataIsOwned(reinterpret_cast<unsigned char*>(text)) == 1);
        GlobalFree(text);
    }
    SUBCASE("a missing key gives no block and goes on") {
        char* title = reinterpret_cast<char*>(1);
        CHECK(LoadAgreementEntry("AgreementTitle", &title) == 1);
        CHECK(title == nullptr);
    }
    Cleanup();

    Start({{"UPDATE.INI", std::string(UpdateIni) + "AgreementTitle=EMPTY.TXT\r\n"}, {"empty.txt", ""}});
    REQUIRE(WriteUpdateIni() == 1);
    REQUIRE(ReadUpdateIdentity() == 1);
    char* title = nullptr;
    CHECK(LoadAgreementEntry("AgreementTitle", &title) == 1);
    REQUIRE(title != nullptr);
    CHECK(title[0] == '\0');
    CHECK(title[1] == '\0');
    GlobalFree(title);
    Cleanup();
}

TEST_CASE("every entry point of the system libraries is found, and calls through the table reach them") {
    REQUIRE(SystemLibrariesLoaded == 1);
    // Each library once: user32's text and window calls, advapi32's registry, and ole32.
    const char text[] = "ab";
    CHECK(CharNextA(text) == text + 1);
    CHECK(GetDlgItem(nullptr, 1) == nullptr);
    HKEY key = nullptr;
    CHECK(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key) == ERROR_SUCCESS);
    CHECK(RegCloseKey(key) == ERROR_SUCCESS);
    HRESULT result = CoInitialize(nullptr);
    CHECK((result == S_OK || result == S_FALSE));
    // Loading again finds the same libraries already there.
    CHECK(LoadSystemLibraries() == 1);
}
