// The reader of "SETUP.INI" over complete and broken files: fields, defaults, list rules, limits and the
// exact messages, read from the stand-in's message box recorder.
#include "context/updater_context.h"
#include "tests/fakes/script.h"
#include "setupcfg/setup_config.h"
#include "tests/setupcfg/ini_files.h"

#include <doctest/doctest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

// The keys of section "SETUP" in file order; Set replaces a key in place or appends it.
struct Ini {
    std::vector<std::pair<std::string, std::string>> keys;

    Ini& Set(const std::string& key, const std::string& value) {
        for (auto& entry : keys) {
            if (entry.first == key) {
                entry.second = value;
                return *this;
            }
        }
        keys.emplace_back(key, value);
        return *this;
    }
    Ini& Remove(const std::string& key) {
        for (size_t i = 0; i < keys.size(); ++i) {
            if (keys[i].first == key) keys.erase(keys.begin() + static_cast<long>(i));
        }
        return *this;
    }
    // "Key=Value" sets, a bare "Key" removes.
    Ini& Apply(const char* change) {
        std::string text = change;
        size_t equals = text.find('=');
        return equals == std::string::npos ? Remove(text)
                                           : Set(text.substr(0, equals), text.substr(equals + 1));
    }
    std::string Text() const {
        std::string text = "[SETUP]\r\n";
        for (const auto& entry : keys)
            text += entry.first + "=" + entry.second + "\r\n";
        return text;
    }
};

// "\x83\x51\x81\x5B\x83\x80" is "game" in katakana; "\x83\x5C\x83\x74\x83\x67" is "soft", whose first trail
// byte is 0x5C.
const char GameTitleSjis[] = "\x83\x51\x81\x5B\x83\x80";

Ini CompleteIni() {
    Ini ini;
    ini.Set("CompanyName", "Acme Soft")
        .Set("GameTitle", GameTitleSjis)
        .Set("GameDir", "acmegame")
        .Set("GameExe", "game.exe")
        .Set("UninstExe", "uninst.exe")
        .Set("SetupBmp", "a.bmp,b.bmp,c.bmp")
        .Set("InstallSelects", "2")
        .Set("InstallTitle0", "Full")
        .Set("InstallFiles0", "1:data.bin,movie.bin,2:voice.bin")
        .Set("InstallTitle1", "Minimal")
        .Set("InstallFiles1", "data.bin")
        .Set("Shortcuts", "2")
        .Set("Shortcut0", "Game,game.exe,,icon.ico")
        .Set("Shortcut1", "Uninstall,uninst.exe");
    return ini;
}

// The complete file with all four install choices; fourthFiles is the fourth choice's file list.
Ini FourSelectIni(const char* fourthFiles) {
    Ini ini = CompleteIni();
    ini.Set("InstallSelects", "4")
        .Set("InstallTitle2", "Third")
        .Set("InstallFiles2", "c.bin")
        .Set("InstallTitle3", "Fourth")
        .Set("InstallFiles3", fourthFiles);
    return ini;
}

struct Reader {
    TempFiles files;
    Reader() {
        Standin::ResetAll();
        ResetUpdaterContext();
        REQUIRE(OpenTempFiles(&files));
    }
    ~Reader() { CloseTempFiles(&files); }

    // Reads ini as the updater does: identity already taken from "UPDATE.INI", QuietMissingKeys set.
    int Read(const Ini& ini, int quiet = 1) {
        REQUIRE(WriteNextFile(&files, ini.Text().c_str(), Updater.SetupIniPath, sizeof Updater.SetupIniPath));
        strcpy(Updater.Setup.GameClass, "ClassFromUpdateIni");
        strcpy(Updater.Setup.GameTitle, "TitleFromUpdateIni");
        Updater.QuietMissingKeys = quiet;
        return ReadSetupConfig();
    }
};

std::string BoxText() {
    return Standin::BoxCount() == 1 ? Standin::Box(0).text : "(box count differs)";
}

void CheckOneBox(const char* text) {
    CHECK(Standin::BoxCount() == 1);
    CHECK(BoxText() == text);
    CHECK(std::string(Standin::Box(0).caption) == "INSTCMMN");
    CHECK(Standin::Box(0).type == (MB_OK | MB_ICONERROR));
}

} // namespace

TEST_CASE("a complete SETUP.INI fills the model, and the defaults fill the rest") {
    Reader reader;
    REQUIRE(reader.Read(CompleteIni()) == 1);
    const SetupConfig& setup = Updater.Setup;
    CHECK(Standin::BoxCount() == 0);
    CHECK(Updater.QuietMissingKeys == 1);
    CHECK(std::string(setup.CompanyName) == "Acme Soft");
    CHECK(std::string(setup.GameTitle) == GameTitleSjis);
    CHECK(std::string(setup.GameDir) == "acmegame");
    CHECK(std::string(setup.GameExe) == "game.exe");
    CHECK(std::string(setup.UninstExe) == "uninst.exe");
    CHECK(std::string(setup.SetupBmp[0]) == "a.bmp");
    CHECK(std::string(setup.SetupBmp[2]) == "c.bmp");
    CHECK(setup.SetupBmp[3][0] == '\0');
    CHECK(setup.SetupBmpLast == 2);
    CHECK(setup.InstallSelects == 2);
    CHECK(std::string(setup.Select[0].InstallTitle) == "Full");
    CHECK(std::string(setup.Select[0].InstallFiles[2]) == "voice.bin");
    CHECK(setup.Select[0].InstallFiles[3][0] == '\0');
    CHECK(std::string(setup.Select[1].InstallTitle) == "Minimal");
    CHECK(std::string(setup.Select[1].InstallFiles[0]) == "data.bin");
    CHECK(setup.Select[1].UsesDisks == 0);
    CHECK(setup.Select[2].InstallTitle[0] == '\0'); // selects above InstallSelects stay as they were
    CHECK(setup.Select[2].InstallFiles[0][0] == '\0');
    CHECK(setup.Shortcuts == 2);
    CHECK(std::string(setup.Shortcut[0][0]) == "Game");
    CHECK(std::string(setup.Shortcut[0][1]) == "game.exe");
    CHECK(setup.Shortcut[0][2][0] == '\0');
    CHECK(std::string(setup.Shortcut[0][3]) == "icon.ico");
    CHECK(std::string(setup.Shortcut[1][1]) == "uninst.exe");

    // Optional keys, all missing.
    CHECK(std::string(setup.GameClass) == GameTitleSjis); // not the class "UPDATE.INI" gave
    CHECK(setup.IsEngineWindowClass == 0);
    CHECK(setup.DefaultSelect == 0);
    CHECK(setup.Select[0].InstallSize[0] == 0);
    CHECK(setup.Select[0].InstallSize[1] == 0);
    for (int i = 0; i < DiskCheckFileCount; ++i)
        CHECK(setup.DiskCheckFile[i][0] == '\0');
    CHECK(setup.ExecApp[0][0] == '\0');
    CHECK(setup.ExecApp[1][0] == '\0');
    CHECK(setup.InstallDirectX == 0);
    CHECK(std::string(setup.InstallDXMessage) == "ＤｉｒｅｃｔＸをインストールする");
    CHECK(std::string(setup.SelectSetupMessage) == "インストール方法を選択して下さい");
    CHECK(setup.UseCompanyNameForShortcutGroup == 0);
    CHECK(setup.ChooseSaveDataFolder == 0);
    CHECK(std::string(setup.SaveDataFolderNameInInstall) == "savedata");
    CHECK(std::string(setup.SaveDataFolderName) == "acmegame");
    CHECK(setup.CancelSaveData == 0);
    CHECK(setup.InstallAfterAdd == 0);
}

TEST_CASE("optional keys of SETUP.INI are read when present") {
    Reader reader;
    Ini ini = CompleteIni();
    ini.Set("GameClass", "TTVPWindowForm")
        .Set("DefaultSelect", "1")
        .Set("InstallSize0", "5000000000")
        .Set("InstallSize1", "abc")
        .Set("DiskCheckFile0", "zero.chk")
        .Set("DiskCheckFile1", "disk1.chk")
        .Set("DiskCheckFile9", "\x83\x5C\x83\x74\x83\x67\\disk9.chk")
        .Set("ExecApp", "readme.txt,notepad.exe,ignored.exe")
        .Set("InstallDXMessage", "DirectX \x82\xF0")
        .Set("SelectSetupMessage", "choose")
        .Set("SaveDataFolderNameInInstall", "save")
        .Set("SaveDataFolderName", "\x83\x5C\x83\x74\x83\x67")
        .Set("UseCompanyNameForShortcutGroup", "1")
        .Set("ChooseSaveDataFolder", "2")
        .Set("CancelSaveData", "0");
    REQUIRE(reader.Read(ini) == 1);
    const SetupConfig& setup = Updater.Setup;
    CHECK(Standin::BoxCount() == 0);
    CHECK(std::string(setup.GameClass) == "TTVPWindowForm");
    CHECK(setup.IsEngineWindowClass == 1);
    CHECK(setup.DefaultSelect == 1);
    CHECK(setup.Select[0].InstallSize[0] == static_cast<uint32_t>(5000000000ull));
    CHECK(setup.Select[0].InstallSize[1] == 1);
    CHECK(setup.Select[1].InstallSize[0] == 0);
    CHECK(setup.Select[1].InstallSize[1] == 0);
    CHECK(std::string(setup.DiskCheckFile[0]) == "zero.chk");
    CHECK(std::string(setup.DiskCheckFile[1]) == "disk1.chk");
    CHECK(setup.DiskCheckFile[2][0] == '\0');
    CHECK(std::string(setup.DiskCheckFile[9]) == "\x83\x5C\x83\x74\x83\x67\\disk9.chk");
    CHECK(std::string(setup.ExecApp[0]) == "readme.txt");
    CHECK(std::string(setup.ExecApp[1]) == "notepad.exe");
    CHECK(std::string(setup.InstallDXMessage) == "DirectX \x82\xF0");
    CHECK(std::string(setup.SelectSetupMessage) == "choose");
    CHECK(std::string(setup.SaveDataFolderNameInInstall) == "save");
    CHECK(std::string(setup.SaveDataFolderName) == "\x83\x5C\x83\x74\x83\x67");
    CHECK(setup.UseCompanyNameForShortcutGroup == 1);
    CHECK(setup.ChooseSaveDataFolder == 1);
    CHECK(setup.CancelSaveData == 0);
}

TEST_CASE("GameClass is compared exactly with the engine's window class") {
    const struct {
        const char* value;
        int engine;
    } cases[] = {{"TTVPWindowForm", 1}, {"ttvpwindowform", 0}, {"TTVPWindowForm2", 0}, {"Other", 0}};
    for (const auto& c : cases) {
        Reader reader;
        CAPTURE(std::string(c.value));
        REQUIRE(reader.Read(CompleteIni().Set("GameClass", c.value)) == 1);
        CHECK(std::string(Updater.Setup.GameClass) == c.value);
        CHECK(Updater.Setup.IsEngineWindowClass == c.engine);
    }
}

namespace {

struct FailureCase {
    const char* what;
    const char* changes[3];
    const char* message; // null: the reader fails silently
    int quietAfter;      // QuietMissingKeys when the reader returns
};

// Read as the updater reads: QuietMissingKeys already set.
const FailureCase updaterFailures[] = {
    {"UninstExe missing", {"UninstExe"}, nullptr, 1},
    {"UninstExe empty", {"UninstExe="}, nullptr, 1},
    {"CompanyName blank", {"CompanyName=  "}, nullptr, 1},
    {"SetupBmp missing", {"SetupBmp"}, nullptr, 1},
    {"SetupBmp without a first item", {"SetupBmp=,a.bmp"}, "SETUP.INI : SetupBmps エラー", 1},
    {"SetupBmp of blanks", {"SetupBmp= \t ,a.bmp"}, "SETUP.INI : SetupBmps エラー", 1},
    {"InstallSelects missing", {"InstallSelects"}, nullptr, 1},
    {"InstallSelects above 4", {"InstallSelects=5"}, "SETUP.INI : InstallSelect オーバー", 1},
    {"InstallTitle1 missing", {"InstallTitle1"}, nullptr, 1},
    {"InstallFiles1 missing", {"InstallFiles1"}, nullptr, 1},
    {"InstallFiles1 without a first item", {"InstallFiles1=,x.bin"}, "SETUP.INI : InstallFiles1 エラー", 1},
    {"InstallFiles0 only a comma", {"InstallFiles0=,"}, "SETUP.INI : InstallFiles0 エラー", 1},
    {"Shortcuts missing", {"Shortcuts"}, nullptr, 1},
    {"Shortcuts above 10", {"Shortcuts=11"}, "SETUP.INI : Shortcuts オーバー", 1},
    {"Shortcut1 missing", {"Shortcut1"}, nullptr, 1},
    {"Shortcut1 with one field", {"Shortcut1=Uninstall"}, "SETUP.INI : Shortcut1 エラー", 1},
    {"Shortcut0 with an empty second field", {"Shortcut0=Game,,game.exe"}, "SETUP.INI : Shortcut0 エラー", 1},
    {"Shortcut0 with an empty first field", {"Shortcut0=,game.exe"}, "SETUP.INI : Shortcut0 エラー", 1},
    {"ExecApp with one item", {"ExecApp=setup.exe"}, "SETUP.INI : ExecApp エラー", 1},
    {"ExecApp with an empty second item", {"ExecApp=setup.exe,,x"}, "SETUP.INI : ExecApp エラー", 1},
    {"InstallAfterAdd without InstallAddFiles",
     {"InstallAfterAdd=1"},
     "SETUP.INI : InstallAddFiles キーが存在しません",
     0},
    {"InstallAfterAdd with an empty InstallAddFiles",
     {"InstallAfterAdd=1", "InstallAddFiles="},
     "SETUP.INI : InstallAddFiles キーが存在しません",
     0},
    {"InstallAddFiles without a first item",
     {"InstallAfterAdd=1", "InstallAddFiles=,add.bin"},
     "SETUP.INI : InstallAddFiles エラー",
     0},
};

// Read as the installer reads: QuietMissingKeys clear, so the required keys are reported.
const FailureCase installerFailures[] = {
    {"CompanyName missing", {"CompanyName"}, "SETUP.INI : CompanyName キーが存在しません", 0},
    {"GameExe empty", {"GameExe="}, "SETUP.INI : GameExe キーが存在しません", 0},
    {"SetupBmp missing", {"SetupBmp"}, "SETUP.INI : SetupBmp キーが存在しません", 0},
    {"InstallSelects missing", {"InstallSelects"}, "SETUP.INI : InstallSelects キーが存在しません", 0},
    {"InstallTitle0 missing", {"InstallTitle0"}, "SETUP.INI : InstallTitle0 キーが存在しません", 0},
    {"InstallFiles1 empty", {"InstallFiles1="}, "SETUP.INI : InstallFiles1 キーが存在しません", 0},
    {"Shortcuts missing", {"Shortcuts"}, "SETUP.INI : Shortcuts キーが存在しません", 0},
    {"Shortcut1 missing", {"Shortcut1"}, "SETUP.INI : Shortcut1 キーが存在しません", 0},
    {"SetupBmp without a first item", {"SetupBmp=,a"}, "SETUP.INI : SetupBmps エラー", 0},
    // Past the required keys the reader is silent for missing keys, whatever the flag was.
    {"ExecApp with one item", {"ExecApp=a.exe"}, "SETUP.INI : ExecApp エラー", 1},
};

void RunFailures(const FailureCase* cases, size_t count, int quiet) {
    for (size_t i = 0; i < count; ++i) {
        const FailureCase& c = cases[i];
        Reader reader;
        CAPTURE(std::string(c.what));
        Ini ini = CompleteIni();
        for (const char* change : c.changes) {
            if (change) ini.Apply(change);
        }
        CHECK(reader.Read(ini, quiet) == 0);
        if (c.message) {
            CheckOneBox(c.message);
        } else {
            CHECK(Standin::BoxCount() == 0);
        }
        CHECK(Updater.QuietMissingKeys == c.quietAfter);
    }
}

} // namespace

TEST_CASE("a broken SETUP.INI fails with its one message, or silently for a missing required key") {
    RunFailures(updaterFailures, sizeof updaterFailures / sizeof updaterFailures[0], 1);
}

TEST_CASE("the installer, with QuietMissingKeys clear, hears of every missing required key") {
    RunFailures(installerFailures, sizeof installerFailures / sizeof installerFailures[0], 0);
}

TEST_CASE("SetupBmp keeps up to 20 bitmaps and ends at the first empty item") {
    std::string many;
    for (int i = 0; i < 25; ++i)
        many += (i ? "," : "") + std::string("b") + std::to_string(i) + ".bmp";
    const struct {
        std::string value;
        int last;
        const char* lastName;
    } cases[] = {
        {"a.bmp,,b.bmp", 0, "a.bmp"},
        {"a.bmp, b.bmp ,", 1, "b.bmp "},
        {many, 19, "b19.bmp"},
    };
    for (const auto& c : cases) {
        Reader reader;
        CAPTURE(c.value);
        REQUIRE(reader.Read(CompleteIni().Set("SetupBmp", c.value)) == 1);
        CHECK(Updater.Setup.SetupBmpLast == c.last);
        CHECK(std::string(Updater.Setup.SetupBmp[c.last]) == c.lastName);
        if (c.last + 1 < SetupBmpCapacity) CHECK(Updater.Setup.SetupBmp[c.last + 1][0] == '\0');
    }

    // A bitmap name longer than an entry is kept cut to 259 bytes; the list goes on after it.
    Reader reader;
    std::string longName(300, 'n');
    REQUIRE(reader.Read(CompleteIni().Set("SetupBmp", longName + ",z.bmp")) == 1);
    CHECK(std::string(Updater.Setup.SetupBmp[0]) == longName.substr(0, 259));
    CHECK(std::string(Updater.Setup.SetupBmp[1]) == "z.bmp");
    CHECK(Updater.Setup.SetupBmpLast == 1);
}

TEST_CASE("InstallSelects of 4 is accepted; 0, negative and non-numbers read no selects") {
    {
        Reader reader;
        Ini ini = FourSelectIni("d.bin");
        ini.Set("InstallSize3", "123");
        REQUIRE(reader.Read(ini) == 1);
        CHECK(Updater.Setup.InstallSelects == 4);
        CHECK(std::string(Updater.Setup.Select[3].InstallTitle) == "Fourth");
        CHECK(std::string(Updater.Setup.Select[3].InstallFiles[0]) == "d.bin");
        CHECK(Updater.Setup.Select[3].InstallSize[0] == 123);
    }
    for (const char* value : {"0", "-1", "abc"}) {
        Reader reader;
        CAPTURE(std::string(value));
        Ini ini = CompleteIni();
        for (const char* key : {"InstallTitle0", "InstallFiles0", "InstallTitle1", "InstallFiles1"})
            ini.Remove(key);
        REQUIRE(reader.Read(ini.Set("InstallSelects", value).Set("InstallSize0", "77")) == 1);
        CHECK(Standin::BoxCount() == 0);
        CHECK(Updater.Setup.Select[0].InstallTitle[0] == '\0');
        CHECK(Updater.Setup.Select[0].InstallSize[0] == 0);
    }
}

TEST_CASE("InstallFiles carry sticky disk numbers and keep up to 40 files") {
    std::string many;
    for (int i = 0; i < 45; ++i)
        many += (i ? "," : "") + std::string("f") + std::to_string(i);
    const struct {
        std::string value;
        int count;
        int disks[3];
        int usesDisks;
    } cases[] = {
        {"1:data.bin,movie.bin,2:voice.bin", 3, {1, 1, 2}, 1},
        {"data.bin,movie.bin,voice.bin", 3, {0, 0, 0}, 0},
        {"0:data.bin,movie.bin", 2, {0, 0}, 0},
        {"a.bin,3:b.bin,0:c.bin", 3, {0, 3, 0}, 1},
        {many, 40, {0, 0, 0}, 0},
    };
    for (const auto& c : cases) {
        Reader reader;
        CAPTURE(c.value);
        // The disk of an earlier list must not leak into this one.
        REQUIRE(reader.Read(CompleteIni().Set("InstallFiles0", "7:x.bin").Set("InstallFiles1", c.value)) ==
                1);
        const InstallSelect& select = Updater.Setup.Select[1];
        for (int k = 0; k < 3 && k < c.count; ++k)
            CHECK(select.InstallDisks[k] == c.disks[k]);
        CHECK(select.UsesDisks == c.usesDisks);
        CHECK(select.InstallFiles[c.count - 1][0] != '\0');
        if (c.count < InstallFilesCapacity) CHECK(select.InstallFiles[c.count][0] == '\0');
    }
    Reader reader;
    REQUIRE(reader.Read(CompleteIni().Set("InstallFiles1", many)) == 1);
    CHECK(std::string(Updater.Setup.Select[1].InstallFiles[39]) == "f39");
}

TEST_CASE("Shortcut fields: two required, empty third and fourth fields skipped over") {
    const struct {
        const char* value;
        const char* fields[4];
    } cases[] = {
        {"f1,f2", {"f1", "f2", "", ""}},
        {"f1,f2,,f4", {"f1", "f2", "", "f4"}},
        {"f1,f2,,,f4", {"f1", "f2", "", "f4"}},
        {"f1,f2, , ,f4", {"f1", "f2", "", "f4"}},
        {"f1,f2,f3,,f5", {"f1", "f2", "f3", ""}},
        {"f1,f2,f3,f4,f5", {"f1", "f2", "f3", "f4"}},
        {"f1,f2,", {"f1", "f2", "", ""}},
        {"f1,f2,,", {"f1", "f2", "", ""}},
        {"C:\\x,f2", {"\\x", "f2", "", ""}}, // a drive letter reads as a disk prefix
        {"\x83\x51\x81\x5B\x83\x80,\x83\x5C\x83\x74\x83\x67\\g.exe",
         {GameTitleSjis, "\x83\x5C\x83\x74\x83\x67\\g.exe", "", ""}},
    };
    for (const auto& c : cases) {
        Reader reader;
        CAPTURE(std::string(c.value));
        // The slot is emptied first: a former fourth field does not survive.
        strcpy(Updater.Setup.Shortcut[1][3], "stale");
        REQUIRE(reader.Read(CompleteIni().Set("Shortcut1", c.value)) == 1);
        for (int f = 0; f < 4; ++f) {
            CAPTURE(f);
            CHECK(std::string(Updater.Setup.Shortcut[1][f]) == c.fields[f]);
        }
    }
    Reader reader;
    Ini ini = CompleteIni().Set("Shortcuts", "10");
    for (int s = 2; s < 10; ++s)
        ini.Set("Shortcut" + std::to_string(s), "n,t");
    REQUIRE(reader.Read(ini) == 1);
    CHECK(Updater.Setup.Shortcuts == 10);
    CHECK(std::string(Updater.Setup.Shortcut[9][1]) == "t");
}

TEST_CASE("InstallDirectX becomes the DirectX setup flag word") {
    const struct {
        const char* value; // null: no key
        uint32_t word;
    } cases[] = {{"0", 0x10000}, {"1", 0x10008}, {"2", 0x10010},   {"3", 0x10018},
                 {"4", 0x10000}, {"7", 0x10018}, {"abc", 0x10000}, {nullptr, 0}};
    for (const auto& c : cases) {
        Reader reader;
        CAPTURE(std::string(c.value ? c.value : "(none)"));
        Ini ini = CompleteIni();
        if (c.value) ini.Set("InstallDirectX", c.value);
        REQUIRE(reader.Read(ini) == 1);
        CHECK(Updater.Setup.InstallDirectX == c.word);
    }
}

TEST_CASE("the four on/off keys are 1 only for a nonzero number") {
    const char* keys[] = {"UseCompanyNameForShortcutGroup", "ChooseSaveDataFolder", "CancelSaveData"};
    const struct {
        const char* value;
        int32_t on;
    } cases[] = {{"1", 1}, {"0", 0}, {"-3", 1}, {"x", 0}, {"", 0}, {nullptr, 0}};
    for (const char* key : keys) {
        for (const auto& c : cases) {
            Reader reader;
            CAPTURE(std::string(key));
            CAPTURE(std::string(c.value ? c.value : "(none)"));
            Ini ini = CompleteIni();
            if (c.value) ini.Set(key, c.value);
            REQUIRE(reader.Read(ini) == 1);
            const SetupConfig& setup = Updater.Setup;
            int32_t read = key == keys[0]   ? setup.UseCompanyNameForShortcutGroup
                           : key == keys[1] ? setup.ChooseSaveDataFolder
                                            : setup.CancelSaveData;
            CHECK(read == c.on);
        }
    }
    Reader reader;
    REQUIRE(reader.Read(CompleteIni().Set("InstallAfterAdd", "0").Set("InstallAddFiles", "add.bin")) == 1);
    CHECK(Updater.Setup.InstallAfterAdd == 0);
    CHECK(Updater.Setup.Select[3].InstallFiles[0][0] == '\0');
}

TEST_CASE("the add-on list replaces the fourth select") {
    Reader reader;
    Ini ini = FourSelectIni("2:d1.bin,d2.bin,d3.bin");
    ini.Set("InstallSize3", "999")
        .Set("InstallAfterAdd", "1")
        .Set("InstallAddFiles", "add1.bin,1:add2.bin")
        .Set("InstallAddSize", "4294967296");
    REQUIRE(reader.Read(ini) == 1);
    const InstallSelect& add = Updater.Setup.Select[3];
    CHECK(Updater.Setup.InstallAfterAdd == 1);
    CHECK(Updater.QuietMissingKeys == 1);
    CHECK(std::string(add.InstallTitle) == "Fourth"); // the title stays
    CHECK(std::string(add.InstallFiles[0]) == "add1.bin");
    CHECK(std::string(add.InstallFiles[1]) == "add2.bin");
    CHECK(add.InstallFiles[2][0] == '\0');
    CHECK(add.InstallDisks[0] == 0); // the disk of InstallFiles3 does not carry over
    CHECK(add.InstallDisks[1] == 1);
    CHECK(add.UsesDisks == 1);
    CHECK(add.InstallSize[0] == 0);
    CHECK(add.InstallSize[1] == 1);

    // Without InstallAddSize the size of the fourth select becomes 0.
    Reader second;
    ini.Remove("InstallAddSize").Set("InstallAddFiles", "add1.bin");
    REQUIRE(second.Read(ini) == 1);
    CHECK(Updater.Setup.Select[3].InstallSize[0] == 0);
    CHECK(Updater.Setup.Select[3].UsesDisks == 0);
    CHECK(Updater.Setup.Select[3].InstallDisks[0] == 0);

    // With fewer selects the add-on list still goes to the fourth slot.
    Reader third;
    REQUIRE(third.Read(CompleteIni().Set("InstallAfterAdd", "1").Set("InstallAddFiles", "x.bin")) == 1);
    CHECK(std::string(Updater.Setup.Select[3].InstallFiles[0]) == "x.bin");
    CHECK(Updater.Setup.Select[3].InstallTitle[0] == '\0');
}

TEST_CASE("a list without a first item fails without writing its first entry") {
    SUBCASE("SetupBmp") {
        Reader reader;
        strcpy(Updater.Setup.SetupBmp[0], "earlier.bmp");
        CHECK(reader.Read(CompleteIni().Set("SetupBmp", ",a.bmp")) == 0);
        CheckOneBox("SETUP.INI : SetupBmps エラー");
        CHECK(std::string(Updater.Setup.SetupBmp[0]) == "earlier.bmp");
    }
    SUBCASE("InstallFiles1") {
        Reader reader;
        strcpy(Updater.Setup.Select[1].InstallFiles[0], "earlier.bin");
        CHECK(reader.Read(CompleteIni().Set("InstallFiles1", " ,x.bin")) == 0);
        CheckOneBox("SETUP.INI : InstallFiles1 エラー");
        CHECK(std::string(Updater.Setup.Select[1].InstallFiles[0]) == "earlier.bin");
    }
    SUBCASE("the add-on list keeps the fourth select's files that InstallFiles3 gave") {
        Reader reader;
        Ini ini = FourSelectIni("d1.bin,d2.bin");
        ini.Set("InstallAfterAdd", "1").Set("InstallAddFiles", ",add.bin");
        CHECK(reader.Read(ini) == 0);
        CheckOneBox("SETUP.INI : InstallAddFiles エラー");
        CHECK(std::string(Updater.Setup.Select[3].InstallFiles[0]) == "d1.bin");
        CHECK(std::string(Updater.Setup.Select[3].InstallFiles[1]) == "d2.bin");
    }
}

TEST_CASE("ExecApp takes two items when present") {
    Reader reader;
    strcpy(Updater.Setup.ExecApp[0], "stale");
    REQUIRE(reader.Read(CompleteIni().Set("ExecApp", " a.exe , b.exe")) == 1);
    CHECK(std::string(Updater.Setup.ExecApp[0]) == "a.exe ");
    CHECK(std::string(Updater.Setup.ExecApp[1]) == "b.exe");
}

TEST_CASE("InstallSize keeps 64 bits and reads at most 19 characters") {
    const struct {
        const char* value;
        uint64_t size;
    } cases[] = {{"4294967295", 0xFFFFFFFFull},
                 {"4294967296", 0x100000000ull},
                 {"9999999999999999999", 9999999999999999999ull},
                 {"99999999999999999999", 9999999999999999999ull}, // the 20th digit is not read
                 {"  77 bytes", 77},
                 {"abc", 0}};
    for (const auto& c : cases) {
        Reader reader;
        CAPTURE(std::string(c.value));
        REQUIRE(reader.Read(CompleteIni().Set("InstallSize1", c.value)) == 1);
        const InstallSelect& select = Updater.Setup.Select[1];
        CHECK(((static_cast<uint64_t>(select.InstallSize[1]) << 32) | select.InstallSize[0]) == c.size);
    }
}
