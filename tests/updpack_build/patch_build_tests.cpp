// updpack build --base: which files go in as patches (and which stay whole, and why), the patch entries as
// list, test and extract read them with and without the previous release, --keep-whole, and an archive
// without patches kept byte for byte as it was.
#include "tests/updpack/updpack_test_support.h"
#include "tools/updpack/updpack.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include <doctest/doctest.h>

namespace {
const char* const Stub = UPDATER_STUB;

// Bytes with structure (so that a patch finds what moved), from a seed.
Bytes Release(size_t size, uint32_t seed) {
    Bytes bytes;
    static const char* const Words[] = {"texture ", "sound ", "model ", "level ", "script "};
    while (bytes.size() < size) {
        seed = seed * 1664525u + 1013904223u;
        const char* word = Words[(seed >> 8) % 5];
        bytes.insert(bytes.end(), word, word + strlen(word));
        bytes.push_back(static_cast<unsigned char>(seed >> 16));
    }
    bytes.resize(size);
    return bytes;
}

Bytes Noise(size_t size, uint32_t seed) {
    Bytes bytes(size);
    for (unsigned char& byte : bytes) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        byte = static_cast<unsigned char>(seed);
    }
    return bytes;
}

struct Releases {
    ScratchFolder old, update, out;
    Bytes game, pack, save, noise;
    Releases() {
        mkdir((old / "data").c_str(), 0755);
        Bytes oldGame = Release(200000, 1), oldPack = Release(300000, 2);
        WriteHostFile(old / "game.exe", oldGame, UtcTime(2020, 1, 1, 0, 0, 0, 0));
        WriteHostFile(old / "data/pack.dat", oldPack, UtcTime(2020, 1, 1, 0, 0, 0, 0));
        WriteHostFile(old / "save.dat", Release(5000, 3), UtcTime(2020, 1, 1, 0, 0, 0, 0));
        WriteHostFile(old / "noise.bin", Noise(20000, 4), UtcTime(2020, 1, 1, 0, 0, 0, 0));
        // The new release: a few bytes changed in the program, a member inserted and one removed in the
        // pack, the save file changed, the noise replaced by other noise.
        game = oldGame;
        for (size_t i = 100; i < game.size(); i += 5000)
            game[i] ^= 0x10;
        pack = oldPack;
        Bytes member = Release(20000, 9);
        pack.insert(pack.begin() + 100000, member.begin(), member.end());
        pack.erase(pack.begin() + 250000, pack.begin() + 260000);
        save = Release(5000, 5);
        noise = Noise(20000, 6);
        WriteHostFile(
            update / "UPDATE.INI",
            "[SETUP]\r\nCompanyName=Test\r\nGameTitle=Test\r\nGameClass=TestGame\r\nGameDir=TestGame\r\n"
            "[UPDATE]\r\nUpdateFile00=game.exe\r\nUpdateFile01=u,data\\pack.dat\r\n"
            "UpdateFile02=d,save.dat\r\nUpdateFile03=noise.bin\r\nUpdateFile04=new.txt\r\n");
        WriteHostFile(update / "game.exe", game, UtcTime(2021, 1, 1, 0, 0, 0, 0));
        WriteHostFile(update / "pack.dat", pack, UtcTime(2021, 1, 1, 0, 0, 0, 0));
        WriteHostFile(update / "save.dat", save, UtcTime(2021, 1, 1, 0, 0, 0, 0));
        WriteHostFile(update / "noise.bin", noise, UtcTime(2021, 1, 1, 0, 0, 0, 0));
        WriteHostFile(update / "new.txt", "a new file\r\n");
    }
};

// The form list gives each entry, as "name=form" lines in directory order.
std::string Forms(const std::string& updater) {
    std::string output;
    RunTool({"list", updater}, output);
    std::string forms;
    size_t at = output.find('\n') + 1;
    while (at < output.size()) {
        size_t end = output.find('\n', at);
        std::string line = output.substr(at, end - at);
        at = end + 1;
        char form[32], date[32], time[32], name[260];
        unsigned size, stored;
        if (sscanf(line.c_str(), "%u %u %31s %31s %31s %259s", &size, &stored, form, date, time, name) == 6)
            forms += std::string(name) + "=" + form + "\n";
    }
    return forms;
}
} // namespace

TEST_CASE("build --base: patches where the previous release is, whole files where not, and why") {
    Releases r;
    std::string updater = r.out / "update.exe", output;
    REQUIRE(RunTool({"build", updater, r.update.path, "--stub", Stub, "--base", r.old.path}, output) == 0);
    CAPTURE(output);
    CHECK(output.find("\"save.dat\": whole: a data file") != std::string::npos);
    CHECK(output.find("\"new.txt\": whole: ") != std::string::npos);
    CHECK(output.find("\"noise.bin\": whole: the patch saves too little") != std::string::npos);
    CHECK(Forms(updater) == "UPDATE.INI=compressed\ngame.exe=patch\nnew.txt=stored\nnoise.bin=stored\n"
                            "pack.dat=patch\nsave.dat=compressed\n");

    SUBCASE("list --json names each patch's base") {
        REQUIRE(RunTool({"list", updater, "--json"}, output) == 0);
        CHECK(output.find("\"form\": \"patch\"") != std::string::npos);
        CHECK(output.find("\"baseSize\": 300000") != std::string::npos);
    }
    SUBCASE("test reads a patch's header alone, and applies it with --base") {
        REQUIRE(RunTool({"test", updater}, output) == 0);
        CHECK(output.find("2 patch entries checked for their header only") != std::string::npos);
        CHECK(RunTool({"test", updater, "--base", r.old.path}, output) == 0);
        CHECK(output.find("6 entries, all sound") != std::string::npos);
        // Another release is no base: both patches are damaged there.
        WriteHostFile(r.old / "game.exe", Release(200000, 7), UtcTime(2020, 1, 1, 0, 0, 0, 0));
        CHECK(RunTool({"test", updater, "--base", r.old.path}, output) == 1);
        CHECK(output.find("entry \"game.exe\": ") != std::string::npos);
        CHECK(output.find("holds no file of that name with the patch's base") != std::string::npos);
    }
    SUBCASE("extract makes the new release from the previous one, and refuses without it") {
        ScratchFolder target;
        CHECK(RunTool({"extract", updater, target / "x"}, output) == 1);
        CHECK(output.find("entry \"game.exe\" is a patch: give --base OLD") != std::string::npos);
        CHECK(!HostFileExists(target / "x/new.txt"));
        REQUIRE(RunTool({"extract", updater, target / "y", "--base", r.old.path}, output) == 0);
        Bytes game, pack;
        CHECK(ReadHostFile(target / "y/game.exe", game));
        CHECK(ReadHostFile(target / "y/pack.dat", pack));
        CHECK(game == r.game);
        CHECK(pack == r.pack);
        CHECK(HostLastWrite(target / "y/pack.dat").tv_sec == UtcTime(2021, 1, 1, 0, 0, 0, 0).tv_sec);
    }
}

TEST_CASE("build --base --keep-whole carries the whole file before its patch") {
    Releases r;
    std::string updater = r.out / "update.exe", output;
    REQUIRE(RunTool({"build", updater, r.update.path, "--stub", Stub, "--base", r.old.path, "--keep-whole"},
                    output) == 0);
    CHECK(Forms(updater) == "UPDATE.INI=compressed\ngame.exe=compressed\ngame.exe=patch\nnew.txt=stored\n"
                            "noise.bin=stored\npack.dat=compressed\npack.dat=patch\nsave.dat=compressed\n");
    // The whole files suffice without the previous release.
    ScratchFolder target;
    REQUIRE(RunTool({"extract", updater, target.path}, output) == 0);
    Bytes game;
    CHECK(ReadHostFile(target / "game.exe", game));
    CHECK(game == r.game);
    CHECK(output.find("skipping") == std::string::npos);
}

TEST_CASE("build --base refusals, and --version") {
    Releases r;
    std::string output;
    CHECK(RunTool({"build", r.out / "a.exe", r.update.path, "--stub", Stub, "--base", r.old / "missing"},
                  output) == 1);
    CHECK(output.find("not a folder (--base names the previous release)") != std::string::npos);
    CHECK(!HostFileExists(r.out / "a.exe"));
    CHECK(RunTool({"build", r.out / "a.exe", r.update.path, "--stub", Stub, "--keep-whole"}, output) == 2);
    CHECK(RunTool({"--version"}, output) == 0);
    CHECK(output.rfind("updpack ", 0) == 0);
}

TEST_CASE("an archive without patches is byte for byte what it was") {
    // The folder of tests/updpack/golden/plain.kt2, made by updpack before patches were added.
    ScratchFolder folder, out;
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += "UpdateFile" + std::string(i < 10 ? "0" : "") + std::to_string(i) + "=u,data" +
                std::to_string(i) + ".dat\r\n";
    WriteHostFile(folder / "UPDATE.INI", Bytes(text.begin(), text.end()), UtcTime(2020, 2, 2, 2, 2, 2, 0));
    Bytes pattern(3000);
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<unsigned char>(((i * i * 7 + 3) >> 3) & 255);
    WriteHostFile(folder / "pattern.bin", pattern, UtcTime(2021, 3, 4, 5, 6, 7, 0));
    WriteHostFile(folder / "empty.dat", Bytes(), UtcTime(2019, 1, 1, 0, 0, 0, 0));
    std::string output;
    REQUIRE(RunTool({"create", out / "plain.kt2", folder.path}, output) == 0);
    Bytes made, golden;
    REQUIRE(ReadHostFile(out / "plain.kt2", made));
    REQUIRE(ReadHostFile(std::string(UPDATER_SOURCE_DIR) + "/tests/updpack/golden/plain.kt2", golden));
    CHECK(made == golden);
}

TEST_CASE("diff, then build --base: an updater of patches from two release folders") {
    Releases r;
    ScratchFolder fresh, folder;
    mkdir((fresh / "data").c_str(), 0755);
    Bytes save;
    REQUIRE(ReadHostFile(r.old / "save.dat", save));
    WriteHostFile(fresh / "game.exe", r.game, UtcTime(2021, 1, 1, 0, 0, 0, 0));
    WriteHostFile(fresh / "data/pack.dat", r.pack, UtcTime(2021, 1, 1, 0, 0, 0, 0));
    WriteHostFile(fresh / "save.dat", save, UtcTime(2021, 1, 1, 0, 0, 0, 0));
    WriteHostFile(r.out / "setup.ini",
                  "[SETUP]\r\nCompanyName=Test\r\nGameTitle=Test\r\nGameClass=TestGame\r\n"
                  "GameDir=TestGame\r\n");
    std::string output, updater = r.out / "update.exe";
    REQUIRE(RunTool({"diff", r.old.path, fresh.path, folder / "update", "--setup", r.out / "setup.ini"},
                    output) == 0);
    CHECK(output.find("warning: noise.bin: the new release no longer has it") != std::string::npos);
    REQUIRE(RunTool({"build", updater, folder / "update", "--stub", Stub, "--base", r.old.path}, output) ==
            0);
    CHECK(Forms(updater) == "UPDATE.INI=compressed\ngame.exe=patch\npack.dat=patch\n");
    ScratchFolder target;
    REQUIRE(RunTool({"extract", updater, target.path, "--base", r.old.path}, output) == 0);
    Bytes pack;
    CHECK(ReadHostFile(target / "pack.dat", pack));
    CHECK(pack == r.pack);
}
