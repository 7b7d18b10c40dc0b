// The profile readers over real files, silent (QuietMissingKeys set) so that they run under Wine too, where
// a message box would wait for a click: values, cuts, empty and missing keys, integer conversion.
#include "context/updater_context.h"
#include "platform/text_format.h"
#include "setupcfg/profile_access.h"
#include "tests/setupcfg/ini_files.h"

#include <doctest/doctest.h>

#include <cstring>
#include <string>

namespace {

const char setupText[] = "[SETUP]\r\n"
                         "Number=12abc\r\n"
                         "Word=abc\r\n"
                         "Negative= -5\r\n"
                         "Huge=99999999999999999999999\r\n"
                         "TooSmall=-2147483649\r\n"
                         // Only the first 19 characters reach the conversion: "0000000000000000012".
                         "Padded=0000000000000000012345\r\n"
                         "Empty=\r\n"
                         "Title=\x93\xFA\x96\x7B\x8C\xEA\r\n"
                         "[UPDATE]\r\n"
                         "Number=99\r\n";

const char updateText[] = "[SETUP]\r\nGameTitle=Foo\r\n[UPDATE]\r\nUpdateFile00=1,a.dat\r\nEmpty=\r\n";

struct Files {
    TempFiles files;
    Files() {
        ResetUpdaterContext();
        Updater.QuietMissingKeys = 1;
        REQUIRE(OpenTempFiles(&files));
        REQUIRE(WriteNextFile(&files, setupText, Updater.SetupIniPath, sizeof Updater.SetupIniPath));
        REQUIRE(WriteNextFile(&files, updateText, Updater.UpdateIniPath, sizeof Updater.UpdateIniPath));
    }
    ~Files() { CloseTempFiles(&files); }
};

} // namespace

TEST_CASE("ReadSetupInt converts the value and leaves the output alone without one") {
    Files files;
    struct {
        const char* key;
        int result;
        int32_t value;
    } cases[] = {
        {"Number", 1, 12},          {"Word", 1, 0},    {"Negative", 1, -5}, {"Huge", 1, INT32_MAX},
        {"TooSmall", 1, INT32_MIN}, {"Padded", 1, 12}, {"number", 1, 12},   {"Empty", 0, 77},
        {"Missing", 0, 77},         {"Title", 1, 0},
    };
    for (const auto& c : cases) {
        std::string key = c.key;
        CAPTURE(key);
        int32_t value = 77;
        CHECK(ReadSetupInt(c.key, &value) == c.result);
        CHECK(value == c.value);
    }
}

TEST_CASE("ReadSetupValue and ReadProfileValue read their own file and section") {
    Files files;
    char buffer[260];

    memset(buffer, 'Q', sizeof buffer);
    REQUIRE(ReadSetupValue(buffer, "Title", sizeof buffer) == 1);
    CHECK(std::string(buffer) == "\x93\xFA\x96\x7B\x8C\xEA");
    // The whole buffer is zero-filled, not just ended.
    for (size_t i = strlen(buffer); i < sizeof buffer; ++i)
        CHECK(buffer[i] == '\0');

    REQUIRE(ReadSetupValue(buffer, "Number", 5) == 1);
    CHECK(std::string(buffer) == "12ab"); // cut to size - 1, still present

    memset(buffer, 'Q', sizeof buffer);
    CHECK(ReadSetupValue(buffer, "Empty", sizeof buffer) == 0);
    CHECK(buffer[0] == '\0');
    CHECK(ReadSetupValue(buffer, "UpdateFile00", sizeof buffer) == 0); // that key is in the other file

    REQUIRE(ReadProfileValue("UPDATE", "UpdateFile00", buffer, sizeof buffer) == 1);
    CHECK(std::string(buffer) == "1,a.dat");
    REQUIRE(ReadProfileValue("SETUP", "GameTitle", buffer, sizeof buffer) == 1);
    CHECK(std::string(buffer) == "Foo");
    CHECK(ReadProfileValue("UPDATE", "GameTitle", buffer, sizeof buffer) == 0);
    CHECK(ReadProfileValue("UPDATE", "Empty", buffer, sizeof buffer) == 0);
    CHECK(ReadProfileValue("UPDATE", "Number", buffer, sizeof buffer) ==
          0); // "SETUP.INI" has it, not this file

    // A missing file reads as a file without keys.
    CopyText(Updater.SetupIniPath, sizeof Updater.SetupIniPath, "Z:\\no such folder\\SETUP.INI");
    int32_t value = 5;
    CHECK(ReadSetupInt("Number", &value) == 0);
    CHECK(value == 5);
}

TEST_CASE("reading other profile files borrows the record's profile fields and gives them back") {
    Files files;
    char otherUpdate[260], otherSetup[260];
    REQUIRE(WriteNextFile(&files.files, "[UPDATE]\r\nNumber=7\r\n", otherUpdate, sizeof otherUpdate));
    REQUIRE(WriteNextFile(&files.files, "[SETUP]\r\nNumber=8\r\n", otherSetup, sizeof otherSetup));
    Updater.QuietMissingKeys = 0;
    Updater.CurrentDisk = 3;
    std::string updatePath = Updater.UpdateIniPath, setupPath = Updater.SetupIniPath;

    SUBCASE("both paths, quietly") {
        SavedProfileFields saved;
        REQUIRE(BeginProfileReading(otherUpdate, otherSetup, &saved) == 1);
        char value[20];
        CHECK(ReadProfileValue("UPDATE", "Number", value, sizeof value) == 1);
        CHECK(std::string(value) == "7");
        int32_t number = 0;
        CHECK(ReadSetupInt("Number", &number) == 1);
        CHECK(number == 8);
        CHECK(Updater.QuietMissingKeys == 1); // a missing key below is no box
        CHECK(ReadProfileValue("UPDATE", "Missing", value, sizeof value) == 0);
        Updater.CurrentDisk = 9;
        EndProfileReading(&saved);
    }
    SUBCASE("one path: the other reader keeps its file") {
        SavedProfileFields saved;
        REQUIRE(BeginProfileReading(nullptr, otherSetup, &saved) == 1);
        CHECK(std::string(Updater.UpdateIniPath) == updatePath);
        int32_t number = 0;
        CHECK(ReadSetupInt("Number", &number) == 1);
        CHECK(number == 8);
        EndProfileReading(&saved);
    }
    SUBCASE("a path too long for the record changes nothing") {
        std::string longPath(300, 'x');
        SavedProfileFields saved;
        CHECK(BeginProfileReading(longPath.c_str(), otherSetup, &saved) == 0);
    }
    CHECK(std::string(Updater.UpdateIniPath) == updatePath);
    CHECK(std::string(Updater.SetupIniPath) == setupPath);
    CHECK(Updater.QuietMissingKeys == 0);
    CHECK(Updater.CurrentDisk == 3);
}
