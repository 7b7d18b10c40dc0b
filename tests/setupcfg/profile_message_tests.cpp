// The missing-key messages of the profile readers, read from the stand-in's message box recorder.
#include "context/updater_context.h"
#include "tests/fakes/script.h"
#include "setupcfg/profile_access.h"
#include "tests/setupcfg/ini_files.h"

#include <doctest/doctest.h>

#include <cstring>
#include <string>

namespace {

struct Files {
    TempFiles files;
    Files() {
        Standin::ResetAll();
        ResetUpdaterContext();
        REQUIRE(OpenTempFiles(&files));
        REQUIRE(WriteNextFile(&files, "[SETUP]\r\nPresent=yes\r\nEmpty=\r\nNumber=3\r\n",
                              Updater.SetupIniPath, sizeof Updater.SetupIniPath));
        REQUIRE(WriteNextFile(&files, "[UPDATE]\r\nPresent=yes\r\nBlank=   \r\n", Updater.UpdateIniPath,
                              sizeof Updater.UpdateIniPath));
    }
    ~Files() { CloseTempFiles(&files); }
};

void CheckOneCommonError(const char* text) {
    REQUIRE(Standin::BoxCount() == 1);
    CHECK(std::string(Standin::Box(0).text) == text);
    CHECK(std::string(Standin::Box(0).caption) == "INSTCMMN");
    CHECK(Standin::Box(0).type == (MB_OK | MB_ICONERROR));
}

} // namespace

TEST_CASE("a missing or empty key is reported while QuietMissingKeys is 0") {
    Files files;
    char buffer[64];

    SUBCASE("missing key of SETUP.INI") {
        memset(buffer, 'Q', sizeof buffer);
        CHECK(ReadSetupValue(buffer, "GameExe", sizeof buffer) == 0);
        CHECK(buffer[0] == '\0');
        CheckOneCommonError("SETUP.INI : GameExe キーが存在しません");
    }
    SUBCASE("empty key of SETUP.INI") {
        CHECK(ReadSetupValue(buffer, "Empty", sizeof buffer) == 0);
        CheckOneCommonError("SETUP.INI : Empty キーが存在しません");
    }
    SUBCASE("missing integer keeps the output") {
        int32_t value = 9;
        CHECK(ReadSetupInt("Shortcuts", &value) == 0);
        CHECK(value == 9);
        CheckOneCommonError("SETUP.INI : Shortcuts キーが存在しません");
    }
    SUBCASE("missing key of UPDATE.INI names the section first") {
        CHECK(ReadProfileValue("UPDATE", "RequiredDiskSpace", buffer, sizeof buffer) == 0);
        CheckOneCommonError("UPDATE : RequiredDiskSpace キーが存在しません");
    }
    SUBCASE("blank key of UPDATE.INI") {
        CHECK(ReadProfileValue("UPDATE", "Blank", buffer, sizeof buffer) == 0);
        CheckOneCommonError("UPDATE : Blank キーが存在しません");
    }
    SUBCASE("missing section of UPDATE.INI") {
        CHECK(ReadProfileValue("SETUP", "Present", buffer, sizeof buffer) == 0);
        CheckOneCommonError("SETUP : Present キーが存在しません");
    }
    SUBCASE("a present key shows nothing") {
        CHECK(ReadSetupValue(buffer, "Present", sizeof buffer) == 1);
        CHECK(ReadProfileValue("UPDATE", "Present", buffer, sizeof buffer) == 1);
        int32_t value = 0;
        CHECK(ReadSetupInt("Number", &value) == 1);
        CHECK(value == 3);
        CHECK(Standin::BoxCount() == 0);
    }
}

TEST_CASE("QuietMissingKeys makes a missing key a silent failure") {
    Files files;
    Updater.QuietMissingKeys = 1;
    char buffer[64];
    int32_t value = 4;
    CHECK(ReadSetupValue(buffer, "GameExe", sizeof buffer) == 0);
    CHECK(ReadSetupValue(buffer, "Empty", sizeof buffer) == 0);
    CHECK(ReadSetupInt("Shortcuts", &value) == 0);
    CHECK(ReadProfileValue("UPDATE", "Blank", buffer, sizeof buffer) == 0);
    CHECK(value == 4);
    CHECK(Standin::BoxCount() == 0);
}

TEST_CASE("a key name too long for the message is cut, not overrun") {
    Files files;
    std::string key(2000, 'K');
    char buffer[16];
    CHECK(ReadSetupValue(buffer, key.c_str(), sizeof buffer) == 0);
    REQUIRE(Standin::BoxCount() == 1);
    CHECK(strlen(Standin::Box(0).text) == 1023);
    CHECK(std::string(Standin::Box(0).text).compare(0, 12, "SETUP.INI : ") == 0);
}
