// Files that are not regular files: a named pipe, a device, a folder or a link given as the archive or the
// stub, and links, pipes and sockets inside the folder to pack; named pipes, devices, sockets and links
// that lead nowhere in every place a command takes a path, and in the game and data folders a plan reads.
// Each is refused at once with its name; none makes the tool wait (every run here is killed after a
// minute, which fails the test), a refused run writes nothing, and nothing is put in a special file's place.
#include "tests/updpack/updpack_test_support.h"
#include "tools/updpack/updpack.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <doctest/doctest.h>

namespace {
const int Patience = 60; // seconds before a run counts as blocked
const char* const Stub = UPDATER_STUB;

// A sound archive at path, made by the tool from one small file.
void MakeArchive(const ScratchFolder& scratch, const std::string& path) {
    std::string source = scratch / "archive-source";
    REQUIRE(mkdir(source.c_str(), 0777) == 0);
    WriteHostFile(source + "/UPDATE.INI", "[SETUP]\r\n");
    std::string output;
    REQUIRE(RunTool({"create", path, source}, output) == 0);
}

// A socket file at path, left behind by a listener that is closed again.
void MakeSocketFile(const std::string& path) {
    int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    REQUIRE(listener >= 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    REQUIRE(path.size() < sizeof address.sun_path);
    memcpy(address.sun_path, path.c_str(), path.size() + 1);
    REQUIRE(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
    close(listener);
}
} // namespace

TEST_CASE("an archive or a stub that is no regular file is refused at once") {
    ScratchFolder scratch;
    std::string fifo = scratch / "pipe.kt2";
    REQUIRE(mkfifo(fifo.c_str(), 0666) == 0);
    REQUIRE(mkdir((scratch / "folder.kt2").c_str(), 0777) == 0);
    std::string source = scratch / "source";
    REQUIRE(mkdir(source.c_str(), 0777) == 0);
    WriteHostFile(source + "/a.txt", "a");

    struct SpecialCase {
        const char* what;
        std::vector<std::string> arguments;
        std::string message;
    };
    const SpecialCase cases[] = {
        {"list of a named pipe", {"list", fifo}, fifo + ": a named pipe (FIFO), not a regular file"},
        {"test of a named pipe", {"test", fifo}, fifo + ": a named pipe (FIFO), not a regular file"},
        {"extract of a named pipe", {"extract", fifo, scratch / "out"}, "a named pipe (FIFO)"},
        {"list of a device", {"list", "/dev/null"}, "/dev/null: a device, not a regular file"},
        {"test of an endless device", {"test", "/dev/zero"}, "/dev/zero: a device, not a regular file"},
        {"list of a folder", {"list", scratch / "folder.kt2"}, "folder.kt2: a folder, not a regular file"},
        {"a named pipe as the stub",
         {"build", scratch / "out.exe", source, "--stub", fifo},
         fifo + ": a named pipe (FIFO), not a regular file"},
        {"a device as the stub",
         {"build", scratch / "out.exe", source, "--stub", "/dev/null"},
         "/dev/null: a device, not a regular file"},
    };
    for (const SpecialCase& c : cases) {
        INFO(std::string(c.what));
        std::string output;
        CHECK(RunToolWithin(Patience, c.arguments, output) == 1);
        CHECK(output.find(c.message) != std::string::npos);
        CHECK_FALSE(HostFileExists(scratch / "out"));
        CHECK_FALSE(HostFileExists(scratch / "out.exe"));
    }
}

TEST_CASE("an archive given through a symbolic link is read through it") {
    ScratchFolder scratch;
    MakeArchive(scratch, scratch / "real.kt2");
    REQUIRE(symlink("real.kt2", (scratch / "link.kt2").c_str()) == 0);
    std::string output;
    CHECK(RunToolWithin(Patience, {"test", scratch / "link.kt2"}, output) == 0);
    CHECK(output.find("1 entries, all sound") != std::string::npos);
}

TEST_CASE("create and build refuse links, pipes and sockets in the folder, naming each in one run") {
    ScratchFolder scratch;
    std::string source = scratch / "source";
    REQUIRE(mkdir(source.c_str(), 0777) == 0);
    WriteHostFile(source + "/good.txt", "a file that packs");
    WriteHostFile(scratch / "secret.txt", "outside the folder");
    REQUIRE(symlink((scratch / "secret.txt").c_str(), (source + "/outside.txt").c_str()) == 0);
    REQUIRE(symlink("good.txt", (source + "/inside.txt").c_str()) == 0);
    REQUIRE(symlink((scratch / "gone.txt").c_str(), (source + "/dangling.txt").c_str()) == 0);
    REQUIRE(symlink(scratch.path.c_str(), (source + "/folder-link").c_str()) == 0);
    REQUIRE(mkfifo((source + "/pipe").c_str(), 0666) == 0);
    MakeSocketFile(source + "/socket");

    const char* const linkMessages[] = {"outside.txt", "inside.txt", "dangling.txt", "folder-link"};
    const char* const specialMessages[] = {"pipe", "socket"};
    for (const char* command : {"create", "build"}) {
        INFO(std::string(command));
        std::string output;
        std::string target = scratch / (std::string(command) == "create" ? "new.kt2" : "new.exe");
        CHECK(RunToolWithin(Patience, {command, target, source}, output) == 1);
        for (const char* name : linkMessages) {
            INFO(std::string(name));
            CHECK(output.find("\"" + std::string(name) +
                              "\": a symbolic link; only files themselves are packed: to pack the file it "
                              "points to, copy that file into the folder in the link's place (cp -L)") !=
                  std::string::npos);
        }
        for (const char* name : specialMessages)
            CHECK(output.find("\"" + std::string(name) +
                              "\": a named pipe, device or socket, not a regular file") != std::string::npos);
        CHECK(output.find("good.txt") == std::string::npos);
        CHECK(FolderNames(scratch.path) == std::vector<std::string>{"secret.txt", "source"});
    }

    // With the links replaced by copies and the special files gone, the same folder packs.
    for (const char* name : {"outside.txt", "inside.txt", "dangling.txt", "folder-link", "pipe", "socket"})
        REQUIRE(unlink((source + "/" + name).c_str()) == 0);
    WriteHostFile(source + "/outside.txt", "outside the folder");
    std::string output;
    CHECK(RunToolWithin(Patience, {"create", scratch / "new.kt2", source}, output) == 0);
    CHECK(output.find("2 entries") != std::string::npos);
}

TEST_CASE("a file turned into a link, a pipe, a folder or a file too large after the listing is refused when "
          "read") {
    ScratchFolder scratch;
    WriteHostFile(scratch / "file.txt", "plain");
    REQUIRE(symlink("file.txt", (scratch / "link.txt").c_str()) == 0);
    REQUIRE(mkfifo((scratch / "pipe").c_str(), 0666) == 0);
    REQUIRE(mkdir((scratch / "folder").c_str(), 0777) == 0);
    // Sparse: refused by its size before a byte of it is read, whatever limit the caller gives.
    int huge = open((scratch / "huge.dat").c_str(), O_CREAT | O_WRONLY, 0666);
    REQUIRE(huge >= 0);
    REQUIRE(ftruncate(huge, 4294967296ll) == 0);
    close(huge);
    struct ReadCase {
        const char* name;
        HostLinkRule links;
        const char* refusal; // null: read
        uint64_t limit = 1000;
    };
    const ReadCase cases[] = {
        {"file.txt", RefuseLinks, nullptr},
        {"link.txt", FollowLinks, nullptr},
        {"link.txt", RefuseLinks, "link.txt: a symbolic link, not a regular file"},
        {"pipe", FollowLinks, "pipe: a named pipe (FIFO), not a regular file"},
        {"pipe", RefuseLinks, "pipe: a named pipe (FIFO), not a regular file"},
        {"folder", FollowLinks, "folder: a folder, not a regular file"},
        {"file.txt", FollowLinks, "file.txt: too large", 5},
        {"huge.dat", FollowLinks, "huge.dat: too large", uint64_t(1) << 40},
    };
    for (const ReadCase& c : cases) {
        INFO(std::string(c.name));
        CAPTURE(c.links);
        std::string text;
        uint32_t size = 0;
        std::string path = scratch / c.name;
        unsigned char* content = nullptr;
        CaptureOutput(text, [&] {
            content = ReadHostFile(path.c_str(), path.c_str(), c.limit, c.links, &size, nullptr);
            return content != nullptr;
        });
        if (c.refusal) {
            CHECK(content == nullptr);
            CHECK(text.find(c.refusal) != std::string::npos);
        } else {
            REQUIRE(content != nullptr);
            CHECK(std::string(reinterpret_cast<char*>(content), size) == "plain");
        }
        free(content);
    }
}

namespace {
// The kinds of path a command must not take for a file or a folder, made at path.
enum SpecialKind { NamedPipe, DeviceNode, SocketFile, DanglingLink };
struct Special {
    SpecialKind kind;
    const char* name;
    const char* words; // how the refusal names it
};
const Special Specials[] = {
    {NamedPipe, "pipe", "a named pipe (FIFO)"},
    {DeviceNode, "device", "a device"},
    {SocketFile, "socket", "a socket"},
    {DanglingLink, "dangling", "a symbolic link that leads to nothing"},
};
void MakeSpecial(const Special& special, const std::string& path) {
    switch (special.kind) {
    case NamedPipe:
        REQUIRE(mkfifo(path.c_str(), 0666) == 0);
        break;
    // A null device of its own (the tests run as root): were it replaced, /dev/null would stay as it is.
    case DeviceNode:
        REQUIRE(mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0);
        break;
    case SocketFile:
        MakeSocketFile(path);
        break;
    case DanglingLink:
        REQUIRE(symlink((path + "-gone").c_str(), path.c_str()) == 0);
        break;
    }
}
// Whether path is still the special file it was made as.
bool StillSpecial(const Special& special, const std::string& path) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) return false;
    switch (special.kind) {
    case NamedPipe:
        return S_ISFIFO(status.st_mode);
    case DeviceNode:
        return S_ISCHR(status.st_mode);
    case SocketFile:
        return S_ISSOCK(status.st_mode);
    case DanglingLink:
        return S_ISLNK(status.st_mode);
    }
    return false;
}

// Runs the tool, which must end within a second; its status.
const char* const SetupIni =
    "[SETUP]\r\nCompanyName=C\r\nGameTitle=T\r\nGameDir=D\r\nGameExe=game.exe\r\n"
    "UninstExe=uninst.exe\r\nSetupBmp=setup.bmp\r\nInstallSelects=1\r\nInstallTitle0=N\r\n"
    "InstallFiles0=data.bin\r\nShortcuts=0\r\nGameClass=G\r\nDiskCheckFile1=DISK1.CHK\r\n";

// A scene every command can work on: the archive of an update folder (which plan takes as it takes an
// updater), a game folder with its "SETUP.INI", a data folder and a disc.
struct Scene {
    ScratchFolder scratch;
    std::string source, archive, game, data, disc;
    Scene() {
        source = scratch / "source";
        game = scratch / "game";
        data = scratch / "data";
        disc = scratch / "disc";
        for (const std::string& folder : {source, game, data, disc})
            REQUIRE(mkdir(folder.c_str(), 0777) == 0);
        WriteHostFile(source + "/UPDATE.INI", "[SETUP]\r\nCompanyName=C\r\nGameTitle=T\r\nGameClass=G\r\n"
                                              "GameDir=D\r\n[UPDATE]\r\nUpdateFile00=a.dat\r\n"
                                              "UpdateFile01=d,save.dat\r\nCopyFile00=1:disc.dat\r\n");
        WriteHostFile(source + "/a.dat", "new a");
        WriteHostFile(source + "/save.dat", "new save");
        WriteHostFile(game + "/SETUP.INI", SetupIni);
        WriteHostFile(data + "/save.dat", "old save");
        WriteHostFile(disc + "/DISK1.CHK", "disc 1");
        WriteHostFile(disc + "/disc.dat", "from the disc");
        archive = scratch / "update.kt2";
        std::string output;
        REQUIRE(RunTool({"create", archive, source}, output) == 0);
    }
};
} // namespace

TEST_CASE("pipes, devices, sockets and links to nothing are refused by name in every place a command takes "
          "a path, at once; links to a file or a folder work") {
    Scene scene;
    const std::string& s = scene.scratch.path;
    // Each place, with the arguments around it sound; "@" stands for the path under test. wanted: what
    // the command takes the path for, as the refusal says.
    struct Place {
        const char* what;
        std::vector<std::string> arguments;
        const char* wanted;
        int output; // the command writes the path: a link there is replaced, its target kept
    };
    const Place places[] = {
        {"create's archive", {"create", "@", scene.source}, "not a regular file", 1},
        {"create's folder", {"create", s + "/new.kt2", "@"}, "not a folder", 0},
        {"build's program", {"build", "@", scene.source, "--stub", Stub}, "not a regular file", 1},
        {"build's folder", {"build", s + "/new.exe", "@", "--stub", Stub}, "not a folder", 0},
        {"build's stub", {"build", s + "/new.exe", scene.source, "--stub", "@"}, "not a regular file", 0},
        {"build's program, with --force",
         {"build", "@", scene.source, "--stub", Stub, "--force"},
         "not a regular file",
         1},
        {"list's archive", {"list", "@"}, "not a regular file", 0},
        {"test's archive", {"test", "@"}, "not a regular file", 0},
        {"extract's archive", {"extract", "@", s + "/out"}, "not a regular file", 0},
        {"extract's folder", {"extract", scene.archive, "@"}, "not a folder", 0},
        {"plan's updater", {"plan", "@", scene.game}, "not a regular file", 0},
        {"plan's game folder", {"plan", scene.archive, "@"}, "not a folder", 0},
        {"plan's data folder", {"plan", scene.archive, scene.game, "--data", "@"}, "not a folder", 0},
        {"plan's disc", {"plan", scene.archive, scene.game, "--cdrom", "@"}, "not a folder", 0},
    };
    int made = 0;
    for (const Place& place : places) {
        for (const Special& special : Specials) {
            std::string path = s + "/" + special.name + std::to_string(made++);
            MakeSpecial(special, path);
            std::vector<std::string> arguments = place.arguments;
            for (std::string& argument : arguments)
                if (argument == "@") argument = path;
            INFO(std::string(place.what) << ", given " << std::string(special.words));
            std::string output;
            CHECK(RunToolWithin(Patience, arguments, output) == 1);
            CHECK(output.find(path + ": " + special.words + ", " + place.wanted) != std::string::npos);
            CHECK(StillSpecial(special, path));
            CHECK_FALSE(HostFileExists(s + "/new.kt2"));
            CHECK_FALSE(HostFileExists(s + "/new.exe"));
            CHECK_FALSE(HostFileExists(s + "/out"));
        }
        // A link to what the command takes: followed.
        bool folder = std::string(place.wanted) == "not a folder";
        std::string link = s + "/link" + std::to_string(made++);
        std::string target =
            folder ? (std::string(place.what).find("data") != std::string::npos      ? scene.data
                      : std::string(place.what).find("disc") != std::string::npos    ? scene.disc
                      : std::string(place.what).find("game") != std::string::npos    ? scene.game
                      : std::string(place.what).find("extract") != std::string::npos ? s + "/extracted"
                                                                                     : scene.source)
            : std::string(place.what).find("stub") != std::string::npos ? Stub
            : place.output                                              ? s + "/written"
            : std::string(place.what).find("plan") != std::string::npos ? scene.archive
                                                                        : scene.archive;
        if (target == s + "/extracted") REQUIRE(mkdir(target.c_str(), 0777) == 0);
        if (place.output) WriteHostFile(target, "an earlier file");
        REQUIRE(symlink(target.c_str(), link.c_str()) == 0);
        std::vector<std::string> arguments = place.arguments;
        for (std::string& argument : arguments)
            if (argument == "@") argument = link;
        INFO(std::string(place.what) << ", given a link to " << target);
        std::string output;
        CHECK(RunToolWithin(Patience, arguments, output) == 0);
        if (place.output) {
            std::string kept;
            Bytes bytes;
            REQUIRE(ReadHostFile(target, bytes));
            CHECK(std::string(bytes.begin(), bytes.end()) == "an earlier file");
            unlink(link.c_str());
            unlink(target.c_str());
        }
        unlink((s + "/new.kt2").c_str());
        unlink((s + "/new.exe").c_str());
        std::filesystem::remove_all(s + "/out");
    }
}

TEST_CASE("a plan whose game or data folder holds a pipe or a device where a file is read ends at once") {
    Scene scene;
    // "SETUP.INI" that cannot be read reads as empty, as the updater reads it: its keys are missing.
    REQUIRE(unlink((scene.game + "/SETUP.INI").c_str()) == 0);
    REQUIRE(mkfifo((scene.game + "/SETUP.INI").c_str(), 0666) == 0);
    std::string output;
    CHECK(RunToolWithin(Patience, {"plan", scene.archive, scene.game, "--json"}, output) == 0);
    CHECK(output.find("\"stoppedAt\": \"SETUP.INI\"") != std::string::npos);
    REQUIRE(unlink((scene.game + "/SETUP.INI").c_str()) == 0);
    WriteHostFile(scene.game + "/SETUP.INI", SetupIni);
    // A data item that is a pipe or a device cannot be read: the player's file is kept as it is.
    for (const Special& special : {Specials[NamedPipe], Specials[DeviceNode]}) {
        INFO(std::string(special.words));
        REQUIRE(unlink((scene.data + "/save.dat").c_str()) == 0);
        MakeSpecial(special, scene.data + "/save.dat");
        CHECK(RunToolWithin(Patience, {"plan", scene.archive, scene.game, "--data", scene.data, "--json"},
                            output) == 0);
        CHECK(output.find("\"verdict\": \"data-unreadable\"") != std::string::npos);
        CHECK(StillSpecial(special, scene.data + "/save.dat"));
    }
    // And a disc's file copied to the game: a pipe on the disc is looked at, never read.
    REQUIRE(unlink((scene.disc + "/disc.dat").c_str()) == 0);
    REQUIRE(mkfifo((scene.disc + "/disc.dat").c_str(), 0666) == 0);
    CHECK(RunToolWithin(Patience, {"plan", scene.archive, scene.game, "--cdrom", scene.disc}, output) == 0);
    CHECK(output.find("copied from disc 1") != std::string::npos);
}
