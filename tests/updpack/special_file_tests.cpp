// Files that are not regular files: a named pipe, a device, a folder or a link given as the archive or the
// stub, and links, pipes and sockets inside the folder to pack. Each is refused at once with its name; none
// makes the tool wait (every run here is killed after a minute, which fails the test), and a refused run
// writes nothing.
#include "tests/updpack/updpack_test_support.h"
#include "tools/updpack/updpack.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <doctest/doctest.h>

namespace {
const int Patience = 60; // seconds before a run counts as blocked

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
