// The plan of "[UPDATE]": both entry grammars with their filters, mode letters and disk prefixes, the
// file name's offset over code page 932, the list limits and the missing-entries rule. Runs natively and
// under Wine, where the real profile reader and IsDBCSLeadByte answer.
#include "context/updater_context.h"
#include "platform/win32.h"
#include "update/update_plan.h"

#ifndef _WIN32
#include "tests/fakes/script.h"
#endif

#include <doctest/doctest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int iniSerial = 0;

// Writes a fresh "UPDATE.INI" (a new name each time, so no profile cache can answer from an old one)
// with the given "[UPDATE]" lines and makes it this run's file.
void UseUpdateIni(const std::vector<std::string>& lines) {
    char folder[MAX_PATH];
    REQUIRE(GetTempPathA(sizeof folder, folder) > 0);
    std::string path = std::string(folder) + "PLAN" + std::to_string(++iniSerial) + ".INI";
    REQUIRE(path.size() < sizeof Updater.UpdateIniPath);
    memcpy(Updater.UpdateIniPath, path.c_str(), path.size() + 1);
    std::string text = "[SETUP]\r\nGameTitle=x\r\n[UPDATE]\r\n";
    for (const std::string& line : lines)
        text += line + "\r\n";
    HANDLE file = CreateFileA(Updater.UpdateIniPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE);
    DWORD written = 0;
    REQUIRE(WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
    CloseHandle(file);
}

void Begin(DWORD instMode) {
#ifndef _WIN32
    Standin::ResetAll();
#endif
    if (Updater.UpdateIniPath[0]) DeleteFileA(Updater.UpdateIniPath);
    ResetUpdaterContext();
    Updater.QuietMissingKeys = 1;
    Updater.Install.InstMode = instMode;
}

struct UpdateRow {
    DWORD instMode;
    const char* value;
    int included;
    int mode;
    const char* path;
    int nameOffset;
};

// "ソ" is 0x83 0x5C in code page 932: its trail byte is the code of "\".
const UpdateRow updateRows[] = {
    {1, "a\\b.dat", 1, ModePlain, "a\\b.dat", 2},
    {1, "b.dat", 1, ModePlain, "b.dat", 0},
    {1, "U,b.dat", 1, ModeNewer, "b.dat", 0},
    {1, "u,b.dat", 1, ModeNewer, "b.dat", 0},
    {1, "d,x\\y\\z.dat", 1, ModeData, "x\\y\\z.dat", 4},
    {1, "D,z.dat", 1, ModeData, "z.dat", 0},
    {1, "o,b.dat", 1, ModeExisting, "b.dat", 0},
    {1, "O,b.dat", 1, ModeExisting, "b.dat", 0},
    {1, " d , b.dat", 1, ModePlain, "d ", 0},     // the blank after the letter belongs to the token
    {1, "\tb.dat ,c", 1, ModePlain, "b.dat ", 0}, // blanks before a token are skipped, after it kept
    {2, "2,o,b.dat", 1, ModeExisting, "b.dat", 0},
    {1, "2,o,b.dat", 0, 0, "", 0},
    {1, "12,b.dat", 1, ModePlain, "12", 0}, // two bytes: no filter
    {5, "5", 1, ModePlain, "", 0},          // a filter with an empty path
    {1, "5", 0, 0, "", 0},
    {0, "0,a.dat", 1, ModePlain, "a.dat", 0},
    {3, "3,u", 1, ModeNewer, "", 0}, // the path token is not there
    {1, "b.dat,c.dat", 1, ModePlain, "b.dat", 0},
    {1, "u,b.dat,c.dat", 1, ModeNewer, "b.dat", 0},
    {1, "x,a.dat", 1, ModePlain, "x", 0},
    {1, "ud,a.dat", 1, ModePlain, "ud", 0},
    {1, "1:b.dat", 1, ModePlain, "b.dat", 0}, // the disk-prefix rule of the scanner
    {1, "u,1:sub\\b.dat", 1, ModeNewer, "sub\\b.dat", 4},
    {1, ",b.dat", 1, ModePlain, "", 0}, // no first token: the list of tokens ends at once
    {1, "sub/b.dat", 1, ModePlain, "sub/b.dat", 0},
    {1, "\x83\x5C.dat", 1, ModePlain, "\x83\x5C.dat", 0},
    {1, "\x83\x5C\\x.dat", 1, ModePlain, "\x83\x5C\\x.dat", 3},
    {1, "a\\\x83\x5C", 1, ModePlain, "a\\\x83\x5C", 2},
    {1, "\x83\x5C\x83\x5C\\\x83\x5C", 1, ModePlain, "\x83\x5C\x83\x5C\\\x83\x5C", 5},
};

struct CopyRow {
    DWORD instMode;
    const char* value;
    int included;
    int disk;
    const char* path;
};

const CopyRow copyRows[] = {
    {1, "1:movie", 1, 1, "movie"},
    {1, "movie", 1, 0, "movie"},
    {2, "2,1:movie", 1, 1, "movie"},
    {2, "3,1:movie", 0, 0, ""},
    {2, "2, 1:movie", 1, 0, " 1:movie"}, // no blanks between the parts
    {2, "2,movie", 1, 0, "movie"},
    {1, "9:a b,c.dat", 1, 9, "a b,c.dat"}, // the rest as it stands, blanks and commas included
    {1, "0:movie", 1, 0, "movie"},
    {1, "a:movie", 1, 'a' - '0', "movie"}, // kept here, refused when the copy is reached
    {1, "1:", 1, 1, ""},
    {1, "x", 1, 0, "x"},
    {2, "2,", 1, 0, ""},
    {1, "m,movie", 0, 0, ""}, // "m" as a filter value is 61
    {1, "movie,x", 1, 0, "movie,x"},
    {1, "C:\\Data", 1, 'C' - '0', "\\Data"},
};

} // namespace

TEST_CASE("update entries follow their grammar") {
    for (const UpdateRow& row : updateRows) {
        CAPTURE(row.value);
        CAPTURE(row.instMode);
        Begin(row.instMode);
        UseUpdateIni({std::string("UpdateFile00=") + row.value});
        int overwriteOnly = -1;
        REQUIRE(ReadUpdatePlan(&overwriteOnly) == 1);
        CHECK(overwriteOnly == 0);
        CHECK(Updater.CopyCount == 0);
        REQUIRE(Updater.UpdateCount == row.included);
        if (!row.included) continue;
        const UpdateItem& item = Updater.UpdateItems[0];
        CHECK(item.mode == row.mode);
        CHECK(std::string(item.path) == row.path);
        CHECK(item.nameOffset == row.nameOffset);
        CHECK(item.pathCut == 0);
    }
}

TEST_CASE("copy entries follow their grammar") {
    for (const CopyRow& row : copyRows) {
        CAPTURE(row.value);
        CAPTURE(row.instMode);
        Begin(row.instMode);
        UseUpdateIni({std::string("CopyFile00=") + row.value});
        int overwriteOnly = -1;
        REQUIRE(ReadUpdatePlan(&overwriteOnly) == 1);
        CHECK(Updater.UpdateCount == 0);
        REQUIRE(Updater.CopyCount == row.included);
        if (!row.included) continue;
        CHECK(Updater.CopyItems[0].disk == row.disk);
        CHECK(std::string(Updater.CopyItems[0].path) == row.path);
    }
}

TEST_CASE("the copy grammar alone reports the filter's byte, whatever the installation") {
    struct Row {
        const char* value;
        int filtered;
        int32_t variant;
        int32_t disk;
        const char* path;
    };
    const Row rows[] = {
        {"movie", 0, -1, 0, "movie"},
        {"1:movie", 0, -1, 1, "movie"},
        {"2,1:movie", 1, 2, 1, "movie"},
        {"2,movie", 1, 2, 0, "movie"},
        {"/,a:x", 1, -1, 49, "x"},
        {"2, 1:movie", 1, 2, 0, " 1:movie"},
        {"", 0, -1, 0, ""},
    };
    for (const Row& row : rows) {
        CAPTURE(row.value);
        CopyItem item;
        int32_t variant = 7;
        CHECK(ParseCopyValue(row.value, &item, &variant) == row.filtered);
        CHECK(variant == row.variant);
        CHECK(item.disk == row.disk);
        CHECK(std::string(item.path) == row.path);
    }
}

TEST_CASE("a path token longer than its slot is marked cut, wherever it stands") {
    std::string longName(300, 'n');
    struct Row {
        std::string value;
        int cut;
        int mode;
    } rows[] = {
        {longName, 1, ModePlain},
        {"u," + longName, 1, ModeNewer},
        {"1,d," + longName, 1, ModeData},
        {"b.dat," + longName, 0, ModePlain}, // ignored after the path
        {std::string(259, 'p'), 0, ModePlain},
        {std::string(260, 'p'), 1, ModePlain},
    };
    for (const Row& row : rows) {
        CAPTURE(row.value.size());
        Begin(1);
        UseUpdateIni({"UpdateFile00=" + row.value});
        int overwriteOnly = 0;
        REQUIRE(ReadUpdatePlan(&overwriteOnly) == 1);
        REQUIRE(Updater.UpdateCount == 1);
        CHECK(Updater.UpdateItems[0].pathCut == row.cut);
        CHECK(Updater.UpdateItems[0].mode == row.mode);
        CHECK(strlen(Updater.UpdateItems[0].path) <= 259);
    }
}

TEST_CASE("OverwriteOnly is on for any value that converts to non-zero") {
    struct Row {
        const char* line;
        int expected;
    } rows[] = {
        {"OverwriteOnly=1", 1},   {"OverwriteOnly=0", 0},   {"OverwriteOnly=", 0},   {"Other=1", 0},
        {"OverwriteOnly=abc", 0}, {"OverwriteOnly= 2x", 1}, {"OverwriteOnly=-1", 1}, {"OverwriteOnly=00", 0},
    };
    for (const auto& row : rows) {
        CAPTURE(row.line);
        Begin(1);
        UseUpdateIni({row.line, "UpdateFile00=a.dat"});
        int overwriteOnly = -1;
        REQUIRE(ReadUpdatePlan(&overwriteOnly) == 1);
        CHECK(overwriteOnly == row.expected);
    }
}

TEST_CASE("lists: sixteen keys at most, packed past filtered entries, ended by the first gap") {
    SUBCASE("sixteen of each fill both lists; the seventeenth is never read") {
        Begin(1);
        std::vector<std::string> lines;
        for (int i = 0; i <= 16; ++i) {
            char line[64];
            snprintf(line, sizeof line, "UpdateFile%02d=f%02d.dat", i, i);
            lines.push_back(line);
            snprintf(line, sizeof line, "CopyFile%02d=1:c%02d", i, i);
            lines.push_back(line);
        }
        UseUpdateIni(lines);
        int overwriteOnly = 0;
        REQUIRE(ReadUpdatePlan(&overwriteOnly) == 1);
        REQUIRE(Updater.UpdateCount == 16);
        REQUIRE(Updater.CopyCount == 16);
        CHECK(std::string(Updater.UpdateItems[15].path) == "f15.dat");
        CHECK(std::string(Updater.CopyItems[15].path) == "c15");
    }
    SUBCASE("an excluded entry takes no slot and the next key is still read") {
        Begin(1);
        UseUpdateIni({"UpdateFile00=2,o,a.dat", "UpdateFile01=1,b.dat", "UpdateFile02=c.dat",
                      "CopyFile00=3,1:m", "CopyFile01=1,2:n"});
        int overwriteOnly = 0;
        REQUIRE(ReadUpdatePlan(&overwriteOnly) == 1);
        REQUIRE(Updater.UpdateCount == 2);
        CHECK(std::string(Updater.UpdateItems[0].path) == "b.dat");
        CHECK(std::string(Updater.UpdateItems[1].path) == "c.dat");
        REQUIRE(Updater.CopyCount == 1);
        CHECK(Updater.CopyItems[0].disk == 2);
    }
    SUBCASE("a gap or an empty value ends the list") {
        Begin(1);
        UseUpdateIni(
            {"UpdateFile00=a.dat", "UpdateFile02=c.dat", "CopyFile00=x", "CopyFile01=", "CopyFile02=z"});
        int overwriteOnly = 0;
        REQUIRE(ReadUpdatePlan(&overwriteOnly) == 1);
        CHECK(Updater.UpdateCount == 1);
        CHECK(Updater.CopyCount == 1);
    }
    SUBCASE("every entry filtered away is an empty plan, not a failure") {
        Begin(1);
        UseUpdateIni({"UpdateFile00=2,a.dat", "CopyFile00=3,1:movie"});
        int overwriteOnly = 0;
        CHECK(ReadUpdatePlan(&overwriteOnly) == 1);
        CHECK(Updater.UpdateCount == 0);
        CHECK(Updater.CopyCount == 0);
    }
    SUBCASE("each run starts from empty lists") {
        Begin(1);
        UseUpdateIni({"UpdateFile00=a.dat", "UpdateFile01=b.dat", "CopyFile00=m"});
        int overwriteOnly = 0;
        REQUIRE(ReadUpdatePlan(&overwriteOnly) == 1);
        UseUpdateIni({"CopyFile00=1:n"});
        REQUIRE(ReadUpdatePlan(&overwriteOnly) == 1);
        CHECK(Updater.UpdateCount == 0);
        REQUIRE(Updater.CopyCount == 1);
        CHECK(std::string(Updater.CopyItems[0].path) == "n");
    }
}

#ifndef _WIN32
TEST_CASE("without UpdateFile00 and CopyFile00 the plan fails after its box, even with later keys") {
    Begin(1);
    UseUpdateIni({"UpdateFile01=a.dat", "CopyFile01=1:m", "UpdateFile00="});
    int overwriteOnly = 0;
    CHECK(ReadUpdatePlan(&overwriteOnly) == 0);
    REQUIRE(Standin::BoxCount() == 1);
    CHECK(std::string(Standin::Box(0).text) == "No 'UpdateFileXX' and 'CopyFileXX'");
    CHECK(std::string(Standin::Box(0).caption) == "UPDATE");
    CHECK(Standin::Box(0).type == (MB_OK | MB_ICONERROR));

    // One first key is enough, and a key that is present never produces a box.
    Begin(1);
    UseUpdateIni({"CopyFile00=2,m"});
    CHECK(ReadUpdatePlan(&overwriteOnly) == 1);
    CHECK(Standin::BoxCount() == 0);
}
#endif
