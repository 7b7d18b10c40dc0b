// updpack build and the commands that read an updater program: the built program is the stub with exactly
// one "UPDATE" resource holding the archive create makes of the same folder; a rebuild replaces it; the
// folder is refused, naming every problem, when the updater would stumble on it; texts it would show
// garbled are warned about; and damaged or foreign programs are refused cleanly. Runs on the Windows
// build's real stub.
#include "tests/updpack/updpack_test_support.h"
#include "tools/pe/pe_resources.h"
#include "tools/updpack/updpack.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include <doctest/doctest.h>

namespace {
const char* const Stub = UPDATER_STUB;

// "UPDATE.INI" in code page 932 with CR LF line ends (the test's literals are code page 932).
std::string Profile(const std::string& setup, const std::string& update) {
    std::string text = "[SETUP]\r\n" + setup + "[UPDATE]\r\n" + update;
    return text;
}

const std::string GoodSetup =
    "CompanyName=テストソフト\r\nGameTitle=テスト\r\nGameClass=TestGame\r\nGameDir=TestGame\r\n"
    "AgreementText=agree.txt\r\n";

// A folder the updater reads without a stumble: entry names differ from the keys' in case only.
void WriteGoodFolder(const std::string& folder, const std::string& patch) {
    WriteHostFile(folder + "/UPDATE.INI",
                  Profile(GoodSetup, "UpdateFile00=1,u,Patch.DAT\r\nUpdateFile01=d,save\\SAVE00.dat\r\n"));
    WriteHostFile(folder + "/AGREE.TXT", "同意してください。\r\n");
    WriteHostFile(folder + "/patch.dat", patch);
    WriteHostFile(folder + "/save00.dat", "save");
}

struct Resources {
    std::unique_ptr<PeResourceList> list{new PeResourceList()};
    int Count(const char* typeName, uint16_t typeId, uint16_t nameId) const {
        int count = 0;
        for (int i = 0; i < list->count; ++i) {
            const PeResource& r = list->items[i];
            count +=
                !strcmp(r.typeName, typeName) && (typeName[0] || r.typeId == typeId) && r.nameId == nameId;
        }
        return count;
    }
    const PeResource* Find(const char* typeName, uint16_t typeId, uint16_t nameId) const {
        for (int i = 0; i < list->count; ++i) {
            const PeResource& r = list->items[i];
            if (!strcmp(r.typeName, typeName) && (typeName[0] || r.typeId == typeId) && r.nameId == nameId)
                return &r;
        }
        return nullptr;
    }
};

void ReadResources(const Bytes& program, Resources& resources) {
    char error[PeErrorCapacity] = "";
    INFO(error);
    REQUIRE(ReadPeResources(program.data(), program.size(), resources.list.get(), error) == 1);
}

Bytes ReadFileBytes(const std::string& path) {
    Bytes bytes;
    REQUIRE(ReadHostFile(path, bytes));
    return bytes;
}

uint32_t Get32(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
} // namespace

TEST_CASE("a built updater is the stub plus the archive that create makes, and reads back as one") {
    ScratchFolder scratch;
    std::string source = scratch / "source";
    REQUIRE(mkdir(source.c_str(), 0777) == 0);
    WriteGoodFolder(source, std::string(5000, 'x') + "tail");
    std::string output;
    REQUIRE(RunTool({"build", scratch / "update.exe", source, "--stub", Stub}, output) == 0);
    REQUIRE(RunTool({"create", scratch / "update.kt2", source}, output) == 0);

    Bytes stub = ReadFileBytes(Stub), program = ReadFileBytes(scratch / "update.exe");
    Bytes archive = ReadFileBytes(scratch / "update.kt2");
    Resources before, after;
    ReadResources(stub, before);
    ReadResources(program, after);
    REQUIRE(before.Count("UPDATE", 0, 102) == 0);
    CHECK(after.list->count == before.list->count + 1);
    const PeResource* carried = after.Find("UPDATE", 0, 102);
    REQUIRE(carried != nullptr);
    CHECK(carried->language == 1041);
    CHECK(Bytes(carried->data, carried->data + carried->size) == archive);
    // The wizard's templates and the manifest stay as they were, byte for byte.
    for (int i = 0; i < before.list->count; ++i) {
        const PeResource& kept = before.list->items[i];
        const PeResource* found = after.Find(kept.typeName, kept.typeId, kept.nameId);
        REQUIRE(found != nullptr);
        CHECK(found->language == kept.language);
        CHECK(Bytes(found->data, found->data + found->size) == Bytes(kept.data, kept.data + kept.size));
    }
    CHECK(before.Find("", 5, 100) != nullptr);
    CHECK(before.Find("", 5, 101) != nullptr);
    CHECK(before.Find("", 24, 1) != nullptr);
    // The checksum in the optional header is the image's.
    size_t checksumAt = Get32(program, 0x3C) + 4 + 20 + 64;
    CHECK(Get32(program, checksumAt) == PeChecksum(program.data(), program.size()));
    // The price of carrying the archive: a few directory records, a name and the section's alignment.
    long overhead = static_cast<long>(program.size()) - static_cast<long>(stub.size() + archive.size());
    MESSAGE("updater " << program.size() << " = stub " << stub.size() << " + archive " << archive.size()
                       << " + " << overhead);
    CHECK(overhead >= 0);
    CHECK(overhead <= 640);
    CHECK(output.find("update.kt2: 4 entries") != std::string::npos);

    // list, test and extract take the program as they take the archive.
    CHECK(RunTool({"list", scratch / "update.exe"}, output) == 0);
    CHECK(output.find("4 entries, ") != std::string::npos);
    CHECK(output.find("Patch.DAT") == std::string::npos);
    CHECK(output.find("patch.dat") != std::string::npos);
    CHECK(RunTool({"test", scratch / "update.exe"}, output) == 0);
    CHECK(output.find("4 entries, all sound") != std::string::npos);
    CHECK(RunTool({"extract", scratch / "update.exe", scratch / "out"}, output) == 0);
    CHECK(FolderNames(scratch / "out") == FolderNames(source));
    CHECK(ReadFileBytes(scratch / "out/patch.dat") == ReadFileBytes(source + "/patch.dat"));
}

TEST_CASE("an updater rebuilt with a second archive carries only the second") {
    ScratchFolder scratch;
    std::string first = scratch / "first", second = scratch / "second";
    REQUIRE(mkdir(first.c_str(), 0777) == 0);
    REQUIRE(mkdir(second.c_str(), 0777) == 0);
    WriteGoodFolder(first, std::string(20000, 'a'));
    WriteGoodFolder(second, "small");
    WriteHostFile(second + "/extra.bin", "only in the second");
    std::string output;
    REQUIRE(RunTool({"build", scratch / "one.exe", first, "--stub", Stub}, output) == 0);
    REQUIRE(RunTool({"build", scratch / "two.exe", second, "--stub", scratch / "one.exe"}, output) == 0);
    // The stub's size counts the first archive, which the rebuilt resource section no longer holds: the
    // figures say so, none of them negative.
    Bytes one = ReadFileBytes(scratch / "one.exe");
    uint32_t oldSection = PeResourceSectionSize(one.data(), one.size());
    Bytes stub = ReadFileBytes(Stub);
    CHECK(oldSection > PeResourceSectionSize(stub.data(), stub.size()));
    CHECK(output.find("stub " + std::to_string(one.size()) + ", archive ") != std::string::npos);
    Bytes rebuilt = ReadFileBytes(scratch / "two.exe");
    CHECK(output.find("; the stub's resource section of " + std::to_string(oldSection) +
                      " bytes rebuilt with the archive as " +
                      std::to_string(rebuilt.size() - (one.size() - oldSection)) + "\n") !=
          std::string::npos);
    REQUIRE(RunTool({"build", scratch / "direct.exe", second, "--stub", Stub}, output) == 0);

    Bytes two = ReadFileBytes(scratch / "two.exe");
    Resources resources;
    ReadResources(two, resources);
    CHECK(resources.Count("UPDATE", 0, 102) == 1);
    // Nothing of the first archive is left: the rebuild is the very program the plain stub gives.
    CHECK(two == ReadFileBytes(scratch / "direct.exe"));
    CHECK(RunTool({"list", scratch / "two.exe"}, output) == 0);
    CHECK(output.find("extra.bin") != std::string::npos);
    CHECK(output.find("    20000 ") == std::string::npos);

    // Building over an existing updater replaces it whole; building into the packed folder leaves the
    // earlier updater out of the archive.
    REQUIRE(RunTool({"build", scratch / "one.exe", second, "--stub", Stub}, output) == 0);
    CHECK(ReadFileBytes(scratch / "one.exe") == two);
    REQUIRE(RunTool({"build", second + "/in.exe", second, "--stub", Stub}, output) == 0);
    REQUIRE(RunTool({"build", second + "/in.exe", second, "--stub", Stub}, output) == 0);
    CHECK(output.find("skipping \"in.exe\"") != std::string::npos);
    CHECK(ReadFileBytes(second + "/in.exe") == two);
}

TEST_CASE("a folder the updater would stumble on is refused with every problem named, and nothing written") {
    ScratchFolder scratch;
    std::string source = scratch / "source";
    REQUIRE(mkdir(source.c_str(), 0777) == 0);
    WriteHostFile(
        source + "/update.ini",
        Profile("CompanyName=テストソフト\r\nGameTitle=テスト\r\nGameDir=\r\nAgreementText=agree.txt\r\n"
                "AgreementTitle=題名.txt\r\n",
                "UpdateFile00=1,u,Patch.DAT\r\nUpdateFile01=3,d,absent.dat\r\n"
                "UpdateFile02=o,sub\\ソ\\missing.dat\r\nUpdateFile03=u\r\nUpdateFile05=never.dat\r\n"));
    WriteHostFile(source + "/PATCH.dat", "patch");
    WriteHostFile(scratch / "old.exe", "an earlier file");

    struct Expected {
        const char* text;
    };
    const Expected problems[] = {
        {"[SETUP] has no GameClass, or it is empty"},
        {"[SETUP] has no GameDir, or it is empty"},
        {"AgreementText names \"agree.txt\", which the folder lacks"},
        {u8"AgreementTitle names \"題名.txt\", which the folder lacks"},
        {"UpdateFile01 names the file \"absent.dat\", which the folder lacks"},
        {"UpdateFile02 names the file \"missing.dat\", which the folder lacks"},
        {"UpdateFile03 names no file"},
        {"old.exe: not written"},
    };
    std::string output;
    CHECK(RunTool({"build", scratch / "old.exe", source, "--stub", Stub}, output) == 1);
    for (const Expected& problem : problems) {
        INFO(problem.text);
        CHECK(output.find(problem.text) != std::string::npos);
    }
    CHECK(output.find("CompanyName") == std::string::npos);
    CHECK(output.find("Patch.DAT") == std::string::npos);
    CHECK(output.find("UpdateFile00") == std::string::npos);
    // The list ends at the first missing key, as the updater's does.
    CHECK(output.find("never.dat") == std::string::npos);
    CHECK(FolderNames(scratch.path) == std::vector<std::string>{"old.exe", "source"});
    CHECK(output.find("--force") == std::string::npos);
    CHECK(ReadFileBytes(scratch / "old.exe") ==
          Bytes{'a', 'n', ' ', 'e', 'a', 'r', 'l', 'i', 'e', 'r', ' ', 'f', 'i', 'l', 'e'});

    // --force writes it all the same, for tests of how the updater meets such a folder; the problems are
    // still named.
    CHECK(RunTool({"build", scratch / "forced.exe", source, "--force", "--stub", Stub}, output) == 0);
    CHECK(output.find("UpdateFile03 names no file") != std::string::npos);
    CHECK(output.find("forced.exe: written all the same (--force)") != std::string::npos);
    CHECK(RunTool({"test", scratch / "forced.exe"}, output) == 0);
    CHECK(output.find("2 entries, all sound") != std::string::npos);

    // Without UPDATE.INI, and with a stub that is no updater, both are named, --force or not.
    ScratchFolder bare;
    WriteHostFile(bare / "data.bin", "data");
    CHECK(RunTool({"build", scratch / "new.exe", bare.path, "--stub", scratch / "old.exe", "--force"},
                  output) == 1);
    CHECK(output.find("no \"UPDATE.INI\"") != std::string::npos);
    CHECK(output.find("old.exe: not a Windows program") != std::string::npos);
    CHECK_FALSE(HostFileExists(scratch / "new.exe"));
}

TEST_CASE("texts the updater would show garbled are warned about, and the updater is still built") {
    struct ShownText {
        const char* name;
        std::string text;
        const char* reason; // null: no warning
    };
    const ShownText cases[] = {
        {"code page 932, CR LF", "同意します。\r\n半角ｶﾅ\r\n", nullptr},
        {"ASCII, CR LF", "[SETUP]\r\nA=b\r\n", nullptr},
        {"empty", "", nullptr},
        {"UTF-8", u8"同意します。\r\n", "reads as UTF-8"},
        {"UTF-8 with a mark", u8"\uFEFFabc\r\n", "byte order mark"},
        {"bare line feed", "a\r\nb\n", "line feeds without carriage returns"},
        {"line feed first", "\nb", "line feeds without carriage returns"},
        {"UTF-8 and line feeds", u8"同意\n", "not code page 932; it has line feeds"},
        {"cut double-byte character", std::string("ab\x82", 3), "not valid code page 932"},
        {"bad trail byte", std::string("\x82\x20", 2), "not valid code page 932"},
        {"byte 0xFF", std::string("a\xFF", 2), "not valid code page 932"},
    };
    for (const ShownText& c : cases) {
        INFO(std::string(c.name));
        std::string reasons;
        int clean =
            CheckShownText(reinterpret_cast<const unsigned char*>(c.text.data()), c.text.size(), reasons);
        INFO(reasons);
        CHECK(clean == (c.reason == nullptr));
        if (c.reason) CHECK(reasons.find(c.reason) != std::string::npos);
    }

    ScratchFolder scratch;
    std::string source = scratch / "source";
    REQUIRE(mkdir(source.c_str(), 0777) == 0);
    WriteGoodFolder(source, "patch");
    WriteHostFile(source + "/AGREE.TXT", u8"同意してください。\n");
    std::string profile = Profile(GoodSetup, "UpdateFile00=1,u,Patch.DAT\n");
    WriteHostFile(source + "/UPDATE.INI", profile);
    std::string output;
    CHECK(RunTool({"build", scratch / "update.exe", source, "--stub", Stub}, output) == 0);
    CHECK(output.find("warning: \"AGREE.TXT\": it reads as UTF-8, not code page 932; it has line feeds") !=
          std::string::npos);
    CHECK(output.find("warning: \"UPDATE.INI\": it has line feeds without carriage returns") !=
          std::string::npos);
    CHECK(HostFileExists(scratch / "update.exe"));
}

TEST_CASE("a RequiredDiskSpace below what preparing the archive files takes is warned about") {
    // patch.dat (5 bytes) and save00.dat (4 bytes) are both prepared before either replaces its file.
    struct Space {
        const char* line;    // the [UPDATE] line, empty: none
        const char* warning; // null: no warning
    };
    const Space cases[] = {
        {"", nullptr},
        {"RequiredDiskSpace=0\r\n", nullptr},
        {"RequiredDiskSpace=9\r\n", nullptr},
        {"RequiredDiskSpace=1048576\r\n", nullptr},
        {"RequiredDiskSpace=8\r\n", "RequiredDiskSpace is 8 bytes, but the update prepares 9 bytes"},
        {"RequiredDiskSpace=1\r\n", "RequiredDiskSpace is 1 bytes, but the update prepares 9 bytes"},
    };
    for (const Space& c : cases) {
        INFO(std::string(c.line));
        ScratchFolder scratch;
        std::string source = scratch / "source";
        REQUIRE(mkdir(source.c_str(), 0777) == 0);
        WriteGoodFolder(source, "patch");
        WriteHostFile(
            source + "/UPDATE.INI",
            Profile(GoodSetup, std::string(c.line) +
                                   "UpdateFile00=1,u,Patch.DAT\r\nUpdateFile01=d,save\\SAVE00.dat\r\n"));
        std::string output;
        CHECK(RunTool({"build", scratch / "update.exe", source, "--stub", Stub}, output) == 0);
        INFO(output);
        CHECK((output.find("RequiredDiskSpace") != std::string::npos) == (c.warning != nullptr));
        if (c.warning) CHECK(output.find(c.warning) != std::string::npos);
        CHECK(HostFileExists(scratch / "update.exe"));
    }
}

TEST_CASE("damaged and foreign programs are refused cleanly by list, test, extract and build") {
    ScratchFolder scratch;
    std::string source = scratch / "source";
    REQUIRE(mkdir(source.c_str(), 0777) == 0);
    WriteGoodFolder(source, "patch");
    std::string output;
    REQUIRE(RunTool({"build", scratch / "good.exe", source, "--stub", Stub}, output) == 0);
    Bytes good = ReadFileBytes(scratch / "good.exe");
    Bytes stub = ReadFileBytes(Stub);
    Resources resources;
    ReadResources(good, resources);
    const PeResource* carried = resources.Find("UPDATE", 0, 102);
    REQUIRE(carried != nullptr);
    size_t archiveAt = static_cast<size_t>(carried->data - good.data());

    struct Damage {
        const char* name;
        Bytes program;
        const char* readMessage;  // list and test
        const char* buildMessage; // as a stub
    };
    Bytes truncated(good.begin(), good.begin() + 1000);
    Bytes noSignature = good;
    noSignature[Get32(good, 0x3C)] = 'X';
    Bytes wrongMachine = good;
    wrongMachine[Get32(good, 0x3C) + 4] = 0x64;
    wrongMachine[Get32(good, 0x3C) + 5] = 0x86;
    Bytes damagedArchive = good;
    memset(&damagedArchive[archiveAt], 0xEE, 8);
    Bytes elf = ReadFileBytes(UPDPACK_PATH);
    Bytes justMz = {'M', 'Z'};
    const Damage damages[] = {
        {"truncated", truncated, "not a sound 32-bit Windows program", "not a sound 32-bit Windows program"},
        {"no PE signature", noSignature, "no PE header", "no PE header"},
        {"a 64-bit machine", wrongMachine, "not a 32-bit x86 program", "not a 32-bit x86 program"},
        {"MZ alone", justMz, "no MZ header", "no MZ header"},
        {"a damaged archive in a sound program", damagedArchive, "not a sound archive", nullptr},
        {"the stub, without an archive", stub, "without an \"UPDATE\" resource of id 102", nullptr},
        {"a Linux program", elf, "not a sound archive: no \"KT2\" mark", "not a Windows program"},
    };
    for (const Damage& damage : damages) {
        INFO(std::string(damage.name));
        WriteHostFile(scratch / "bad.exe", damage.program, UtcTime(2020, 1, 1, 0, 0, 0, 0));
        for (const char* command : {"list", "test"}) {
            CHECK(RunTool({command, scratch / "bad.exe"}, output) == 1);
            CHECK(output.rfind("updpack: ", 0) == 0);
            CHECK(output.find(damage.readMessage) != std::string::npos);
        }
        CHECK(RunTool({"extract", scratch / "bad.exe", scratch / "out"}, output) == 1);
        CHECK(output.find(damage.readMessage) != std::string::npos);
        CHECK_FALSE(HostFileExists(scratch / "out"));
        if (damage.buildMessage) {
            CHECK(RunTool({"build", scratch / "new.exe", source, "--stub", scratch / "bad.exe"}, output) ==
                  1);
            CHECK(output.find(damage.buildMessage) != std::string::npos);
            CHECK(output.find("new.exe: not written") != std::string::npos);
            CHECK_FALSE(HostFileExists(scratch / "new.exe"));
        }
    }
    // A sound Windows program that is not the updater: the driver of the end-to-end tests.
    CHECK(RunTool({"build", scratch / "new.exe", source, "--stub", UPDATER_FOREIGN_PROGRAM}, output) == 1);
    CHECK(output.find("updpack: ") == 0);
    CHECK_FALSE(HostFileExists(scratch / "new.exe"));
    CHECK(RunTool({"list", UPDATER_FOREIGN_PROGRAM}, output) == 1);
    CHECK(output.find("updpack: ") == 0);
}

TEST_CASE("test checks an updater's file as the updater checks itself: checksum and length") {
    ScratchFolder scratch;
    std::string source = scratch / "source";
    REQUIRE(mkdir(source.c_str(), 0777) == 0);
    // Random bytes are stored as they are: a changed byte there decodes as well as before, so only the
    // program's check can see it.
    std::mt19937 random(3);
    Bytes noise(3000);
    for (unsigned char& byte : noise)
        byte = static_cast<unsigned char>(random());
    WriteGoodFolder(source, std::string(noise.begin(), noise.end()));
    std::string output;
    REQUIRE(RunTool({"build", scratch / "good.exe", source, "--stub", Stub}, output) == 0);
    Bytes good = ReadFileBytes(scratch / "good.exe");
    size_t checksumAt = Get32(good, 0x3C) + 4 + 20 + 64;
    size_t noiseAt = std::search(good.begin(), good.end(), noise.begin(), noise.end()) - good.begin();
    REQUIRE(noiseAt < good.size());

    Bytes changed = good;
    changed[noiseAt + 100] ^= 0x10;
    Bytes cut(good.begin(), good.end() - 1);
    Bytes longer = good;
    longer.push_back(0);
    Bytes unchecked = changed;
    memset(&unchecked[checksumAt], 0, 4);
    char checksum[16];
    snprintf(checksum, sizeof checksum, "0x%08X", Get32(good, checksumAt));
    struct Case {
        const char* name;
        Bytes program;
        int status;
        std::string message;
        const char* json; // the "program" object's first fields; null: the cut program's sections do not
                          // read, and neither does its archive
    };
    const Case cases[] = {
        {"whole", good, 0, "good.exe: the program is whole: checksum " + std::string(checksum),
         "{\"checked\": true, \"whole\": true"},
        {"a byte changed in a stored entry", changed, 1,
         "good.exe: the program is damaged: its checksum is " + std::string(checksum),
         "{\"checked\": true, \"whole\": false"},
        {"cut by a byte", cut, 1,
         "the program is damaged: it has " + std::to_string(cut.size()) +
             " bytes, and its sections and certificate table end at " + std::to_string(good.size()),
         nullptr},
        {"a byte appended", longer, 1, "it has " + std::to_string(longer.size()) + " bytes",
         "{\"checked\": true, \"whole\": false"},
        {"no checksum", unchecked, 0, "the program carries no checksum (its field is 0)",
         "{\"checked\": false, \"whole\": true"},
    };
    for (const Case& c : cases) {
        INFO(std::string(c.name));
        WriteHostFile(scratch / "good.exe", c.program, UtcTime(2020, 1, 1, 0, 0, 0, 0));
        CHECK(RunTool({"test", scratch / "good.exe"}, output) == c.status);
        CHECK(output.find(c.message) != std::string::npos);
        if (!c.json) {
            CHECK(output.find("section data outside the file") != std::string::npos);
            continue;
        }
        // The archive itself reads and decodes as before.
        CHECK(output.find("4 entries, all sound") != std::string::npos);
        CHECK(RunTool({"test", scratch / "good.exe", "--json"}, output) == c.status);
        CHECK(output.find("\"program\": " + std::string(c.json)) != std::string::npos);
        CHECK(output.find(std::string("\"sound\": ") + (c.status ? "false" : "true") + "\n}") !=
              std::string::npos);
        // list still lists what the program carries.
        CHECK(RunTool({"list", scratch / "good.exe"}, output) == 0);
    }
    // An archive file is no program: nothing to check.
    REQUIRE(RunTool({"create", scratch / "update.kt2", source}, output) == 0);
    CHECK(RunTool({"test", scratch / "update.kt2", "--json"}, output) == 0);
    CHECK(output.find("\"program\": null") != std::string::npos);
}

TEST_CASE("build finds the stub beside itself or in the build tree, and says where it looks") {
    std::string output;
    CHECK(RunTool({"build", "--help"}, output) == 0);
    CHECK(output.find("usage: updpack build OUT.exe FOLDER [--stub STUB.exe]") != std::string::npos);
    CHECK(output.find("update-stub.exe") != std::string::npos);
    CHECK(output.find(Stub) != std::string::npos);
    for (const std::vector<std::string>& wrong : {std::vector<std::string>{"build", "a.exe"},
                                                  {"build", "a.exe", "dir", "--stub"},
                                                  {"build", "a.exe", "dir", "--stub", "s", "--stub", "t"},
                                                  {"build", "a", "b", "c"}}) {
        CHECK(RunTool(wrong, output) == 2);
        CHECK(output.find("usage: updpack build OUT.exe FOLDER [--stub STUB.exe]") != std::string::npos);
    }
    ScratchFolder scratch;
    std::string source = scratch / "source";
    REQUIRE(mkdir(source.c_str(), 0777) == 0);
    WriteGoodFolder(source, "patch");
    CHECK(RunTool({"build", scratch / "found.exe", source}, output) == 0);
    CHECK(RunTool({"build", scratch / "given.exe", source, "--stub", Stub}, output) == 0);
    CHECK(ReadFileBytes(scratch / "found.exe") == ReadFileBytes(scratch / "given.exe"));
}

TEST_CASE("build warns when the folder exceeds what the 32-bit updater can hold") {
    // Sparse files: only their sizes are read, because a missing stub stops the build after its checks.
    // "UPDATE.INI" is packed too, and counts towards the payload.
    const uint64_t MiB = uint64_t(1) << 20;
    const std::string profile = Profile(GoodSetup.substr(0, GoodSetup.find("AgreementText")),
                                        "UpdateFile00=a.bin\r\nUpdateFile01=b.bin\r\n");
    const uint64_t rest = 896 * MiB - profile.size();
    struct Sizes {
        const char* name;
        uint64_t first, second;
        bool warned;
    };
    const Sizes cases[] = {
        {"one file filling the payload to its limit", 1792 * MiB - profile.size(), 0, false},
        {"one file beyond the entry limit", 1792 * MiB + 1, 0, true},
        {"two files at the payload limit", 896 * MiB, rest, false},
        {"two files beyond the payload limit", 896 * MiB, rest + 1, true},
    };
    for (const Sizes& c : cases) {
        INFO(std::string(c.name));
        ScratchFolder scratch;
        std::string source = scratch / "source";
        REQUIRE(mkdir(source.c_str(), 0777) == 0);
        WriteHostFile(source + "/UPDATE.INI", profile);
        WriteHostFile(source + "/a.bin", "");
        WriteHostFile(source + "/b.bin", "");
        REQUIRE(truncate((source + "/a.bin").c_str(), static_cast<off_t>(c.first)) == 0);
        REQUIRE(truncate((source + "/b.bin").c_str(), static_cast<off_t>(c.second)) == 0);
        std::string output;
        CHECK(RunTool({"build", scratch / "update.exe", source, "--stub", scratch / "no-stub.exe"}, output) !=
              0);
        INFO(output);
        CHECK((output.find("the 32-bit updater applies at most 1792 MiB in one file and 1792 MiB in all") !=
               std::string::npos) == c.warned);
        CHECK(!HostFileExists(scratch / "update.exe"));
    }
}
