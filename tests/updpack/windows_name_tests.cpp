// Names Windows cannot hold as written (device names, a dot or space at the end, a colon, control
// characters): create refuses to pack them and extract to write them, each with its reason. Names up to the
// host's longest extract, since the temporary file beside a target is never longer than the target's name.
#include "tests/updpack/updpack_test_support.h"
#include "tools/updpack/updpack.h"

#include <sys/stat.h>

#include <doctest/doctest.h>

TEST_CASE("which names Windows cannot hold as written") {
    struct NameCase {
        const char* name;    // UTF-8
        const char* problem; // a part of the reason, or null when Windows holds the name
    };
    const NameCase cases[] = {
        {"CON", "keeps the name for a device"},
        {"con", "keeps the name for a device"},
        {"Con.txt", "keeps the name for a device"},
        {"NUL.tar.gz", "keeps the name for a device"},
        {"nul", "keeps the name for a device"},
        {"PRN.log", "keeps the name for a device"},
        {"aux", "keeps the name for a device"},
        {"AUX .dat", "keeps the name for a device"},
        {"COM0", "keeps the name for a device"},
        {"COM1", "keeps the name for a device"},
        {"com9.ini", "keeps the name for a device"},
        {"LPT1", "keeps the name for a device"},
        {"lpt9.TXT", "keeps the name for a device"},
        {u8"COM\u00b9", "keeps the name for a device"},
        {u8"lpt\u00b3.txt", "keeps the name for a device"},
        {"CONIN$", "keeps the name for a device"},
        {"conout$.txt", "keeps the name for a device"},
        {"name.", "a dot at the end"},
        {"...", "a dot at the end"},
        {"name ", "a space at the end"},
        {"name.txt ", "a space at the end"},
        {"C:evil", "a character a Windows file name cannot hold"},
        {"data.bin:stream", "a character a Windows file name cannot hold"},
        {"a<b", "a character a Windows file name cannot hold"},
        {"tab\there", "a control character"},
        {"\x1f", "a control character"},
        {"del\x7f", "a control character"},
        // Held as written.
        {"CONSOLE", nullptr},
        {"CON_1", nullptr},
        {"COM10", nullptr},
        {"COM", nullptr},
        {"LPT", nullptr},
        {"COMA.txt", nullptr},
        {"xNUL", nullptr},
        {"NULL.txt", nullptr},
        {"com1x.txt", nullptr},
        {".hidden", nullptr},
        {" lead", nullptr},
        {"a.b.c", nullptr},
        {u8"セーブ.dat", nullptr},
    };
    for (const NameCase& c : cases) {
        INFO(std::string(c.name));
        const char* problem = WindowsNameProblem(c.name);
        if (!c.problem) {
            CHECK(problem == nullptr);
        } else {
            REQUIRE(problem != nullptr);
            CHECK(std::string(problem).find(c.problem) != std::string::npos);
        }
    }
}

TEST_CASE("create and extract refuse names Windows cannot hold, each with its reason") {
    struct RefusedName {
        const char* name;           // UTF-8 and, being ASCII, the archive's bytes as well
        const char* createMessage;  // what create says of the file
        const char* extractMessage; // what extract says of the entry
    };
    const RefusedName cases[] = {
        {"CON", "\"CON\": not a name Windows can hold as written: Windows keeps the name for a device",
         "entry \"CON\": not a name Windows can hold as written: Windows keeps the name for a device"},
        {"nul.txt", "\"nul.txt\": not a name Windows can hold as written: Windows keeps the name",
         "entry \"nul.txt\": not a name Windows can hold as written: Windows keeps the name"},
        {"Com1.dat", "\"Com1.dat\": not a name", "entry \"Com1.dat\": not a name"},
        {"LPT9", "\"LPT9\": not a name", "entry \"LPT9\": not a name"},
        {"trailing.", "\"trailing.\": not a name Windows can hold as written: Windows drops a dot at the end",
         "entry \"trailing.\": not a name Windows can hold as written: Windows drops a dot at the end"},
        {"trailing ", "Windows drops a space at the end", "Windows drops a space at the end"},
        {"C:evil", "\"C:evil\": a Windows file name cannot hold the character 0x3A",
         "entry \"C:evil\": not a name Windows can hold as written: it holds a character a Windows file name "
         "cannot hold"},
        {"bell\x07", "cannot hold the character 0x07",
         "entry \"bell\\x07\": not a name Windows can hold as written: it holds a control character"},
    };
    for (const RefusedName& c : cases) {
        INFO(std::string(c.name));
        ScratchFolder scratch;
        std::string source = scratch / "source";
        REQUIRE(mkdir(source.c_str(), 0777) == 0);
        WriteHostFile(source + "/good.txt", "good");
        WriteHostFile(source + "/" + c.name, "refused");
        std::string output;
        CHECK(RunTool({"create", scratch / "new.kt2", source}, output) == 1);
        CHECK(output.find(c.createMessage) != std::string::npos);
        CHECK_FALSE(HostFileExists(scratch / "new.kt2"));

        // An archive from elsewhere: list and test read it, extract writes nothing of it.
        std::string archivePath = scratch / "foreign.kt2";
        Bytes good = {'g'}, refused = {'r'};
        WriteHostFile(archivePath, BuildImage({StoredEntry("good.txt", good), StoredEntry(c.name, refused)}),
                      UtcTime(2020, 1, 1, 0, 0, 0, 0));
        CHECK(RunTool({"list", archivePath}, output) == 0);
        CHECK(RunTool({"test", archivePath}, output) == 0);
        CHECK(RunTool({"extract", archivePath, scratch / "out"}, output) == 1);
        CHECK(output.find(c.extractMessage) != std::string::npos);
        CHECK_FALSE(HostFileExists(scratch / "out"));
    }
}

TEST_CASE("extract names every refused entry before writing any") {
    ScratchFolder scratch;
    std::string archivePath = scratch / "foreign.kt2";
    Bytes content = {'x'};
    WriteHostFile(archivePath,
                  BuildImage({StoredEntry("a.txt", content), StoredEntry("PRN", content),
                              StoredEntry("b.txt", content), StoredEntry("x:y", content)}),
                  UtcTime(2020, 1, 1, 0, 0, 0, 0));
    std::string output;
    CHECK(RunTool({"extract", archivePath, scratch / "out"}, output) == 1);
    CHECK(output.find("entry \"PRN\"") != std::string::npos);
    CHECK(output.find("entry \"x:y\"") != std::string::npos);
    CHECK_FALSE(HostFileExists(scratch / "out"));
}

TEST_CASE("names up to the longest the host holds go through create and extract") {
    // A name of 248 to 255 bytes used to fail: the temporary name beside it was longer than the host's
    // limit of 255. 259 bytes fit an entry but no Linux folder.
    for (size_t length : {247u, 248u, 250u, 254u, 255u}) {
        CAPTURE(length);
        ScratchFolder scratch;
        std::string source = scratch / "source";
        REQUIRE(mkdir(source.c_str(), 0777) == 0);
        std::string name = std::string(length - 4, 'n') + ".dat";
        WriteHostFile(source + "/" + name, "long");
        std::string output;
        REQUIRE(RunTool({"create", scratch / "long.kt2", source}, output) == 0);
        REQUIRE(RunTool({"extract", scratch / "long.kt2", scratch / "out"}, output) == 0);
        CHECK(FolderNames(scratch / "out") == std::vector<std::string>{name});
        Bytes content;
        REQUIRE(ReadHostFile(scratch / "out/" + name, content));
        CHECK(std::string(content.begin(), content.end()) == "long");
        // Again over the file that is there now.
        REQUIRE(RunTool({"extract", scratch / "long.kt2", scratch / "out"}, output) == 0);
        CHECK(FolderNames(scratch / "out") == std::vector<std::string>{name});
    }

    ScratchFolder scratch;
    std::string archivePath = scratch / "longest.kt2";
    std::string longest(259, 'n');
    WriteHostFile(archivePath, BuildImage({StoredEntry(longest, Bytes(1, 'x'))}),
                  UtcTime(2020, 1, 1, 0, 0, 0, 0));
    std::string output;
    CHECK(RunTool({"extract", archivePath, scratch / "out"}, output) == 1);
    CHECK(output.find("File name too long") != std::string::npos);
    CHECK(FolderNames(scratch / "out").empty());
}
