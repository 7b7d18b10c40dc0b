// The installation lookup against the stand-in registry and file system: which registry records count as
// an installation, the "SETUP.INI" presence check, the caption rule and the boxes of these steps.
#include "app/install_lookup.h"
#include "app/installed_setup.h"
#include "app/update_notice.h"
#include "context/updater_context.h"
#include "tests/fakes/registry_script.h"
#include "tests/fakes/script.h"

#include <doctest/doctest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const char* const KeyPath = "Software\\TestCo\\TestGame";

void Start() {
    Standin::ResetAll();
    ResetUpdaterContext();
    strcpy(Updater.Setup.CompanyName, "TestCo");
    strcpy(Updater.Setup.GameDir, "TestGame");
    strcpy(Updater.Setup.GameTitle, "テストゲーム");
}

void InstallFull() {
    Standin::SetRegistryString(KeyPath, "InstPath", "C:\\Games\\Test");
    Standin::SetRegistryString(KeyPath, "DataPath", "C:\\Data\\Test");
    Standin::SetRegistryNumber(KeyPath, "InstMode", 2);
    Standin::SetRegistryNumber(KeyPath, "InstAdd", 7);
}

std::string Text(const char* text) {
    return text;
}
} // namespace

TEST_CASE("registry record: what counts as installed") {
    SUBCASE("all four values") {
        Start();
        InstallFull();
        CHECK(ReadInstallRecord() == 1);
        CHECK(Text(Updater.Install.InstPath) == "C:\\Games\\Test");
        CHECK(Text(Updater.Install.DataPath) == "C:\\Data\\Test");
        CHECK(Updater.Install.InstMode == 2);
        CHECK(Updater.Install.InstAdd == 7);
    }
    SUBCASE("key names are found without regard to case") {
        Start();
        InstallFull();
        strcpy(Updater.Setup.CompanyName, "TESTCO");
        CHECK(ReadInstallRecord() == 1);
    }
    SUBCASE("missing key") {
        Start();
        CHECK(ReadInstallRecord() == 0);
    }
    SUBCASE("key without values") {
        Start();
        Standin::AddRegistryKey(KeyPath);
        CHECK(ReadInstallRecord() == 0);
    }
    SUBCASE("missing DataPath gives an empty data folder, still installed") {
        Start();
        Standin::SetRegistryString(KeyPath, "InstPath", "C:\\Games\\Test");
        Standin::SetRegistryNumber(KeyPath, "InstMode", 1);
        strcpy(Updater.Install.DataPath, "stale");
        CHECK(ReadInstallRecord() == 1);
        CHECK(Text(Updater.Install.DataPath) == "");
        CHECK(Updater.Install.InstAdd == 0);
    }
    SUBCASE("missing InstMode") {
        Start();
        Standin::SetRegistryString(KeyPath, "InstPath", "C:\\Games\\Test");
        CHECK(ReadInstallRecord() == 0);
    }
    SUBCASE("missing InstPath") {
        Start();
        Standin::SetRegistryNumber(KeyPath, "InstMode", 1);
        CHECK(ReadInstallRecord() == 0);
    }
    SUBCASE("InstMode stored as a string longer than 4 bytes") {
        Start();
        Standin::SetRegistryString(KeyPath, "InstPath", "C:\\Games\\Test");
        Standin::SetRegistryString(KeyPath, "InstMode", "1234");
        CHECK(ReadInstallRecord() == 0);
    }
    SUBCASE("InstMode of exactly 4 bytes of any type is taken") {
        Start();
        Standin::SetRegistryString(KeyPath, "InstPath", "C:\\Games\\Test");
        Standin::SetRegistryValue(KeyPath, "InstMode", 3, "\x05\0\0\0", 4);
        CHECK(ReadInstallRecord() == 1);
        CHECK(Updater.Install.InstMode == 5);
    }
    SUBCASE("every opened key is closed") {
        Start();
        InstallFull();
        ReadInstallRecord();
        CHECK(Standin::OpenRegistryKeyCount() == 0);
        Start();
        Standin::SetRegistryString(KeyPath, "InstPath", "C:\\Games\\Test");
        ReadInstallRecord();
        CHECK(Standin::OpenRegistryKeyCount() == 0);
    }
}

TEST_CASE("registry strings at the edge of their 260 bytes") {
    char full[261];
    memset(full, 'a', sizeof full);
    full[260] = '\0';
    struct Row {
        const char* what;
        DWORD size;    // bytes stored
        int withNul;   // the stored bytes end with a NUL
        int installed; // InstPath readable
        size_t length; // length of the text read
    };
    const Row rows[] = {
        {"259 characters and NUL", 259, 1, 1, 259},
        {"260 characters and NUL", 260, 1, 0, 0},
        {"260 bytes without NUL", 260, 0, 0, 0},
        {"259 bytes without NUL", 259, 0, 1, 259},
        {"empty", 0, 0, 1, 0},
    };
    for (const Row& row : rows) {
        CAPTURE(row.what);
        Start();
        char stored[262];
        memset(stored, 'a', sizeof stored);
        DWORD bytes = row.size;
        if (row.withNul) stored[bytes++] = '\0';
        Standin::SetRegistryValue(KeyPath, "InstPath", REG_SZ, stored, bytes);
        Standin::SetRegistryValue(KeyPath, "DataPath", REG_SZ, stored, bytes);
        Standin::SetRegistryNumber(KeyPath, "InstMode", 1);
        CHECK(ReadInstallRecord() == row.installed);
        if (row.installed) {
            CHECK(strlen(Updater.Install.InstPath) == row.length);
            CHECK(strlen(Updater.Install.DataPath) == row.length);
        }
    }
    SUBCASE("an unreadable DataPath is empty and the product still installed") {
        Start();
        Standin::SetRegistryString(KeyPath, "InstPath", "C:\\Games\\Test");
        Standin::SetRegistryValue(KeyPath, "DataPath", REG_SZ, full, 260);
        Standin::SetRegistryNumber(KeyPath, "InstMode", 1);
        CHECK(ReadInstallRecord() == 1);
        CHECK(Text(Updater.Install.DataPath) == "");
    }
}

TEST_CASE("not installed: message with the title from UPDATE.INI, caption UPDATE, no owner") {
    Start();
    CHECK(FindInstallation() == 0);
    REQUIRE(Standin::BoxCount() == 1);
    CHECK(Text(Standin::Box(0).text) == "「テストゲーム」がインストールされていません");
    CHECK(Text(Standin::Box(0).caption) == "UPDATE");
    CHECK(Standin::Box(0).type == (MB_OK | MB_ICONERROR));
    CHECK(Standin::Box(0).owner == nullptr);

    Start();
    InstallFull();
    CHECK(FindInstallation() == 1);
    CHECK(Standin::BoxCount() == 0);
}

TEST_CASE("SETUP.INI presence in the installation folder") {
    char folder[] = "/tmp/app_lookup_XXXXXX";
    REQUIRE(mkdtemp(folder));
    const char* missing = "インストール先に \"SETUP.INI\" ファイルが見つかりません";

    SUBCASE("absent") {
        Start();
        Standin::SetDrive('C', folder, DRIVE_FIXED);
        strcpy(Updater.Install.InstPath, "C:\\");
        CHECK(CheckSetupIniPresent() == 0);
        REQUIRE(Standin::BoxCount() == 1);
        CHECK(Text(Standin::Box(0).text) == missing);
        CHECK(Text(Standin::Box(0).caption) == "UPDATE");
    }
    SUBCASE("present, joined with one separator") {
        Start();
        Standin::SetDrive('C', folder, DRIVE_FIXED);
        std::string file = std::string(folder) + "/SETUP.INI";
        FILE* setup = fopen(file.c_str(), "w");
        REQUIRE(setup);
        fclose(setup);
        strcpy(Updater.Install.InstPath, "C:");
        CHECK(CheckSetupIniPresent() == 1);
        CHECK(Text(Updater.SetupIniPath) == "C:\\SETUP.INI");
        CHECK(Standin::BoxCount() == 0);
        remove(file.c_str());
    }
    SUBCASE("a folder of that name passes") {
        Start();
        Standin::SetDrive('C', folder, DRIVE_FIXED);
        std::string sub = std::string(folder) + "/SETUP.INI";
        REQUIRE(mkdir(sub.c_str(), 0700) == 0);
        strcpy(Updater.Install.InstPath, "C:\\");
        CHECK(CheckSetupIniPresent() == 1);
        rmdir(sub.c_str());
    }
    SUBCASE("an installation path that leaves no room for the name") {
        Start();
        Standin::SetDrive('C', folder, DRIVE_FIXED);
        memset(Updater.Install.InstPath, 'a', 250);
        Updater.Install.InstPath[0] = 'C';
        Updater.Install.InstPath[1] = ':';
        Updater.Install.InstPath[2] = '\\';
        Updater.Install.InstPath[250] = '\0';
        CHECK(CheckSetupIniPresent() == 0);
        REQUIRE(Standin::BoxCount() == 1);
        CHECK(Text(Standin::Box(0).text) == missing);
        CHECK(strlen(Updater.SetupIniPath) < sizeof Updater.SetupIniPath);
    }
    rmdir(folder);
}

TEST_CASE("caption rule") {
    struct Row {
        const char* updaterTitle;
        const char* version;
        const char* expected;
    };
    const Row rows[] = {
        {"", "1.02", "テストゲーム アップデータ 1.02"},
        {"", "", "テストゲーム アップデータ "},
        {"特別版 Updater", "9.9", "特別版 Updater"},
        {"100% sure", "", "100% sure"},
    };
    for (const Row& row : rows) {
        CAPTURE(row.expected);
        Start();
        strcpy(Updater.UpdaterTitle, row.updaterTitle);
        strcpy(Updater.UpdaterVersion, row.version);
        BuildCaption();
        CHECK(Text(Updater.Caption) == row.expected);
    }
    SUBCASE("the longest title and version are cut to the caption's buffer") {
        Start();
        memset(Updater.Setup.GameTitle, 'g', 259);
        memset(Updater.UpdaterVersion, 'v', 259);
        BuildCaption();
        CHECK(strlen(Updater.Caption) == 259 + strlen(" アップデータ ") + 259);
    }
}

TEST_CASE("update notice box: error icon, caption UPDATE, no owner; nothing for an empty notice") {
    Start();
    ShowUpdateNotice();
    CHECK(Standin::BoxCount() == 0);

    strcpy(Updater.UpdateMessage, "line one\\nline two");
    ShowUpdateNotice();
    REQUIRE(Standin::BoxCount() == 1);
    CHECK(Text(Standin::Box(0).text) == "line one\rline two");
    CHECK(Text(Standin::Box(0).caption) == "UPDATE");
    CHECK(Standin::Box(0).type == (MB_OK | MB_ICONERROR));
    CHECK(Standin::Box(0).owner == nullptr);
}
