// What create refuses, with its message and status, and that a refused run leaves no archive, no temporary
// file, and an earlier archive exactly as it was. Also the command line's usage errors and help.
#include "tests/updpack/updpack_test_support.h"
#include "tools/updpack/updpack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <doctest/doctest.h>

namespace {
struct Refusal {
    const char* what;
    std::vector<const char*> hostNames; // UTF-8, each a small file in the folder
    const char* message;
};

const Refusal refusals[] = {
    {"a character code page 932 lacks",
     {u8"caf\u00e9.txt"},
     u8"\"caf\u00e9.txt\": the name has no code page 932 form"},
    {"a character outside the BMP", {u8"\U0001F600.txt"}, "the name has no code page 932 form"},
    {"a name that is not UTF-8", {"\xff\xfe.txt"}, "the name has no code page 932 form"},
    {"the yen sign, which code page 932 turns into the path separator",
     {u8"\u00a5.txt"},
     u8"\"\u00a5.txt\": code page 932 would turn the name into \"\\.txt\""},
    {"the wave dash, which comes back as the full-width tilde",
     {u8"a\u301cb.txt"},
     "code page 932 would turn the name"},
    {"a colon", {"a:b.txt"}, "\"a:b.txt\": a Windows file name cannot hold the character 0x3A"},
    {"a backslash", {"a\\b.txt"}, "cannot hold the character 0x5C"},
    {"a question mark", {"what?.txt"}, "cannot hold the character 0x3F"},
    {"names equal without regard to case",
     {"Data.bin", "DATA.BIN"},
     "\"DATA.BIN\" and \"Data.bin\": the updater does not tell these names apart"},
    {"double-byte names followed by letters in another case",
     {u8"ア.TXT", u8"ア.txt"},
     "does not tell these names apart"},
};
} // namespace

TEST_CASE("create refuses names the archive cannot carry, leaving nothing behind") {
    for (const Refusal& refusal : refusals) {
        INFO(std::string(refusal.what));
        ScratchFolder scratch;
        std::string source = scratch / "source";
        REQUIRE(mkdir(source.c_str(), 0777) == 0);
        WriteHostFile(source + "/good.txt", "a file that packs");
        for (const char* name : refusal.hostNames)
            WriteHostFile(source + "/" + name, name);
        std::string output;
        CHECK(RunTool({"create", scratch / "new.kt2", source}, output) == 1);
        CHECK(output.find(refusal.message) != std::string::npos);
        CHECK(output.rfind("updpack: ", 0) == 0);
        CHECK(FolderNames(scratch.path) == std::vector<std::string>{"source"});

        // An earlier archive stays exactly as it was.
        WriteHostFile(scratch / "old.kt2", "earlier archive");
        CHECK(RunTool({"create", scratch / "old.kt2", source}, output) == 1);
        Bytes kept;
        REQUIRE(ReadHostFile(scratch / "old.kt2", kept));
        CHECK(std::string(kept.begin(), kept.end()) == "earlier archive");
        CHECK(FolderNames(scratch.path) == std::vector<std::string>{"old.kt2", "source"});
    }
}

TEST_CASE("create names every refused file in one run") {
    ScratchFolder scratch;
    std::string source = scratch / "source";
    REQUIRE(mkdir(source.c_str(), 0777) == 0);
    WriteHostFile(source + "/a:1", "x");
    WriteHostFile(source + "/b*2", "x");
    std::string output;
    CHECK(RunTool({"create", scratch / "new.kt2", source}, output) == 1);
    CHECK(output.find("\"a:1\"") != std::string::npos);
    CHECK(output.find("\"b*2\"") != std::string::npos);
}

TEST_CASE("create refuses a file of 4 GiB and takes one just below") {
    ScratchFolder scratch;
    std::string source = scratch / "source";
    REQUIRE(mkdir(source.c_str(), 0777) == 0);
    // A sparse file: its size is what counts, and it is refused before a byte of it is read.
    int file = open((source + "/huge.dat").c_str(), O_CREAT | O_WRONLY, 0666);
    REQUIRE(file >= 0);
    REQUIRE(ftruncate(file, 4294967296ll) == 0);
    close(file);
    std::string output;
    CHECK(RunTool({"create", scratch / "new.kt2", source}, output) == 1);
    CHECK(output.find("\"huge.dat\": the file has 4294967296 bytes; an entry holds less than 4 GiB") !=
          std::string::npos);
    CHECK_FALSE(HostFileExists(scratch / "new.kt2"));
}

TEST_CASE("create refuses an archive that would reach the image limit") {
    ScratchFolder scratch;
    std::string source = scratch / "source";
    REQUIRE(mkdir(source.c_str(), 0777) == 0);
    Bytes incompressible(1000);
    uint32_t state = 88172645u;
    for (unsigned char& byte : incompressible) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<unsigned char>(state >> 24);
    }
    WriteHostFile(source + "/a.dat", incompressible, UtcTime(2020, 1, 1, 0, 0, 0, 0));
    WriteHostFile(source + "/b.dat", incompressible, UtcTime(2020, 1, 1, 0, 0, 0, 0));
    std::string archivePath = scratch / "new.kt2";
    std::string text;

    // The 4 GiB limit, scaled down: the same rule at a size a test can reach.
    struct LimitCase {
        uint64_t limit;
        int packed;
    };
    const LimitCase cases[] = {
        {16 + 1008 + 1008, 0},     // the data alone reach the limit
        {16 + 1008 + 1008 + 8, 0}, // the directory would cross it
        {1u << 20, 1},
    };
    for (const LimitCase& c : cases) {
        CAPTURE(c.limit);
        int packed =
            CaptureOutput(text, [&] { return CreateArchive(archivePath.c_str(), source.c_str(), c.limit); });
        CHECK(packed == c.packed);
        CHECK(HostFileExists(archivePath) == c.packed);
        if (!c.packed)
            CHECK(text.find("its offsets are 32-bit, so it must stay below " + std::to_string(c.limit)) !=
                  std::string::npos);
        CHECK(FolderNames(scratch.path).size() == 1u + c.packed);
    }
}

TEST_CASE("archive names: at most 259 bytes of code page 932") {
    std::string name;
    std::string text;
    CHECK(CaptureOutput(text, [&] { return ArchiveNameFromHost(std::string(259, 'a').c_str(), name); }) == 1);
    CHECK(name.size() == 259);
    CHECK(CaptureOutput(text, [&] { return ArchiveNameFromHost(std::string(260, 'a').c_str(), name); }) == 0);
    CHECK(text.find("the name takes 260 bytes in code page 932; an entry name holds 1 to 259") !=
          std::string::npos);
    // 130 kanji take 390 bytes of UTF-8 but 260 of code page 932: the archive's count is the one that
    // matters.
    std::string kanji;
    for (int i = 0; i < 129; ++i)
        kanji += u8"表";
    CHECK(CaptureOutput(text, [&] { return ArchiveNameFromHost((kanji + "a").c_str(), name); }) == 1);
    CHECK(name.size() == 259);
    CHECK(CaptureOutput(text, [&] { return ArchiveNameFromHost((kanji + u8"表").c_str(), name); }) == 0);
}

TEST_CASE("the command line: usage errors exit 2, help exits 0") {
    struct UsageCase {
        std::vector<std::string> arguments;
        int status;
        const char* expected;
    };
    const UsageCase cases[] = {
        {{}, 2, "usage:"},
        {{"pack", "a", "b"}, 2, "updpack: no command \"pack\"; see updpack --help"},
        {{"create", "a"}, 2, "updpack: usage: updpack create ARCHIVE FOLDER"},
        {{"list"}, 2, "updpack: usage: updpack list ARCHIVE"},
        {{"test", "a", "b"}, 2, "updpack: usage: updpack test ARCHIVE"},
        {{"extract", "a"}, 2, "updpack: usage: updpack extract ARCHIVE FOLDER"},
        {{"help", "pack"}, 2, "no command \"pack\""},
        {{"--help"}, 0, "updpack create ARCHIVE FOLDER"},
        {{"-h"}, 0, "updpack extract ARCHIVE FOLDER"},
        {{"help"}, 0, "Exit status: 0 done, 1 refused or failed, 2 wrong usage."},
        {{"help", "create"}, 0, "usage: updpack create ARCHIVE FOLDER\n\nPacks every regular file"},
        {{"create", "--help"}, 0, "usage: updpack create ARCHIVE FOLDER\n\nPacks every regular file"},
        {{"list", "-h"}, 0, "usage: updpack list ARCHIVE [--json]\n"},
        {{"test", "x.kt2", "--help"}, 0, "usage: updpack test ARCHIVE [--json] [--base OLD]\n"},
        {{"list", "a", "--json", "--json"}, 2, "updpack: usage: updpack list ARCHIVE [--json]"},
        {{"extract", "a", "b", "--json"}, 2, "updpack: usage: updpack extract ARCHIVE FOLDER"},
        {{"list", "a", "--cdrom", "d"}, 2, "updpack: usage: updpack list ARCHIVE"},
        {{"plan", "a"}, 2, "updpack: usage: updpack plan UPDATER GAME_DIR"},
        {{"plan", "a", "b", "--variant", "x"}, 2, "updpack: usage: updpack plan UPDATER GAME_DIR"},
        {{"plan", "a", "b", "--variant", "4294967296"}, 2, "updpack: usage: updpack plan"},
        {{"plan", "a", "b", "--add", "1", "--add", "2"}, 2, "updpack: usage: updpack plan"},
        {{"plan", "a", "b", "--cdrom", ""}, 2, "updpack: usage: updpack plan"},
        {{"plan", "a", "b", "--data"}, 2, "updpack: usage: updpack plan"},
        {{"help", "plan"}, 0, "usage: updpack plan UPDATER GAME_DIR [--data DIR]"},
        {{"help", "extract"}, 0, "usage: updpack extract ARCHIVE FOLDER [--base OLD]\n"},
    };
    for (const UsageCase& c : cases) {
        std::string output;
        INFO(std::string(c.expected));
        CHECK(RunTool(c.arguments, output) == c.status);
        CHECK(output.find(c.expected) != std::string::npos);
    }
}

TEST_CASE("commands on a missing archive or folder fail with the path named") {
    ScratchFolder scratch;
    std::string output;
    CHECK(RunTool({"create", scratch / "a.kt2", scratch / "missing"}, output) == 1);
    CHECK(output.find("missing: cannot read the folder") != std::string::npos);
    for (const char* command : {"list", "test"}) {
        CHECK(RunTool({command, scratch / "missing.kt2"}, output) == 1);
        CHECK(output.find("missing.kt2: cannot read") != std::string::npos);
    }
    CHECK(RunTool({"extract", scratch / "missing.kt2", scratch / "out"}, output) == 1);
    CHECK_FALSE(HostFileExists(scratch / "out"));
}
