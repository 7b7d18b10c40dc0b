// updpack diff: the update folder it makes from two releases, what it keeps of OUT's "UPDATE.INI", and a
// table of what it refuses (writing nothing) or warns about.
#include "tests/updpack/updpack_test_support.h"
#include "tools/updpack/updpack.h"

#include <cstring>
#include <sys/stat.h>

#include <doctest/doctest.h>

namespace {
const std::string Setup =
    "[SETUP]\r\nCompanyName=Test\r\nGameTitle=Test\r\nGameClass=TestGame\r\nGameDir=TestGame\r\n";

struct Diff {
    ScratchFolder old, fresh, out, other;
    std::string oldArgument; // the OLD the command is given
    Diff() {
        oldArgument = old.path;
        mkdir((old / "data").c_str(), 0755);
        mkdir((fresh / "data").c_str(), 0755);
        WriteHostFile(old / "game.exe", "old program");
        WriteHostFile(old / "data/pack.dat", "old pack");
        WriteHostFile(old / "same.txt", "unchanged");
        WriteHostFile(old / "gone.txt", "only in the old release");
        WriteHostFile(fresh / "game.exe", "new program");
        WriteHostFile(fresh / "data/pack.dat", "new pack!");
        WriteHostFile(fresh / "same.txt", "unchanged");
        WriteHostFile(fresh / "data/added.dat", "added");
        WriteHostFile(other / "setup.ini", Setup + "[UPDATE]\r\nUpdateFile00=ignored\r\n");
    }
    int Run(std::string& output, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> arguments = {"diff", oldArgument, fresh.path, out / "update"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return RunTool(arguments, output);
    }
};

std::string Text(const std::string& path) {
    Bytes bytes;
    if (!ReadHostFile(path, bytes)) return "<missing>";
    return std::string(bytes.begin(), bytes.end());
}
} // namespace

TEST_CASE("diff makes an update folder of the new and changed files, judged by content") {
    Diff d;
    std::string output;
    REQUIRE(d.Run(output, {"--setup", d.other / "setup.ini"}) == 0);
    CHECK(Text(d.out / "update/UPDATE.INI") ==
          Setup + "\r\n[UPDATE]\r\nRequiredDiskSpace=25\r\n"
                  "UpdateFile00=data\\added.dat\r\nUpdateFile01=data\\pack.dat\r\n"
                  "UpdateFile02=game.exe\r\n");
    CHECK(FolderNames(d.out / "update") ==
          std::vector<std::string>({"UPDATE.INI", "added.dat", "game.exe", "pack.dat"}));
    CHECK(Text(d.out / "update/pack.dat") == "new pack!");
    CHECK(output.find("warning: gone.txt: the new release no longer has it") != std::string::npos);

    // Again over its own UPDATE.INI: the [SETUP] and a mode given by hand are kept, as are disc copies.
    WriteHostFile(
        d.out / "update/UPDATE.INI",
        "[SETUP]\r\nCompanyName=Kept\r\n[UPDATE]\r\nUpdateFile00=u,DATA\\PACK.DAT\r\nCopyFile00=1:movie\r\n");
    for (const char* name : {"added.dat", "game.exe", "pack.dat"})
        remove((d.out / "update/" + name).c_str());
    REQUIRE(d.Run(output) == 0);
    CHECK(Text(d.out / "update/UPDATE.INI") ==
          "[SETUP]\r\nCompanyName=Kept\r\n\r\n[UPDATE]\r\nRequiredDiskSpace=25\r\nUpdateFile00=data\\added."
          "dat\r\n"
          "UpdateFile01=u,DATA\\PACK.DAT\r\nUpdateFile02=game.exe\r\nCopyFile00=1:movie\r\n");
}

TEST_CASE("diff refuses, writing nothing, what would not make a working update") {
    struct Refusal {
        const char* what;
        void (*stage)(Diff& d);
        const char* message;
    };
    const Refusal refusals[] = {
        {"OUT holds another file", [](Diff& d) { WriteHostFile(d.out / "update/stray.txt", "x"); },
         "holds \"stray.txt\": OUT must be empty, or hold only an UPDATE.INI"},
        {"more files than the list holds",
         [](Diff& d) {
             for (int i = 0; i < 14; ++i)
                 WriteHostFile(d.fresh / ("more" + std::to_string(i) + ".dat"), "more");
         },
         "17 new or changed files, but an update lists at most 16 (UpdateFile00 to UpdateFile15)"},
        {"two changed files of one name in two folders",
         [](Diff& d) { WriteHostFile(d.fresh / "PACK.DAT", "another pack"); },
         "PACK.DAT and data/pack.dat: two changed files of the same name"},
        {"no [SETUP] anywhere", [](Diff&) {}, "no [SETUP] for UPDATE.INI: give --setup FILE"},
        {"OLD is not a folder", [](Diff& d) { d.oldArgument = d.old / "missing"; }, "missing: not a folder"},
    };
    for (const Refusal& r : refusals) {
        std::string what = r.what;
        CAPTURE(what);
        Diff d;
        mkdir((d.out / "update").c_str(), 0755);
        r.stage(d);
        std::string output;
        bool setup = strcmp(r.what, "no [SETUP] anywhere") != 0;
        CHECK(d.Run(output, setup ? std::vector<std::string>{"--setup", d.other / "setup.ini"}
                                  : std::vector<std::string>{}) == 1);
        CAPTURE(output);
        CHECK(output.find(r.message) != std::string::npos);
        CHECK(Text(d.out / "update/UPDATE.INI") == "<missing>");
        CHECK(Text(d.out / "update/game.exe") == "<missing>");
    }
}

TEST_CASE("RequiredDiskSpace is what the update prepares, capped where the updater's number ends") {
    struct Case {
        uint64_t prepared;
        uint32_t required;
        int capped;
    };
    const Case cases[] = {{0, 0, 0},
                          {25, 25, 0},
                          {2147483647, 2147483647, 0},
                          {2147483648ull, 2147483647, 1},
                          {uint64_t(5) << 32, 2147483647, 1}};
    for (const Case& c : cases) {
        CAPTURE(c.prepared);
        int capped = -1;
        CHECK(RequiredDiskSpaceFor(c.prepared, &capped) == c.required);
        CHECK(capped == c.capped);
    }
}
