// All or nothing: a run that fails while preparing, is cancelled at a disc prompt, or fails during the
// commit (each move refused in turn) leaves every installed file and folder as it was, in content, time
// and attributes, with the message of the failed item and nothing beside the files; a run that completes
// leaves no backup behind, and its commit moves are written through.
#include "update_scene.h"

#include "report/wizard_pages.h"
#include "context/updater_context.h"
#include "tests/fakes/script.h"
#include "tests/fakes/fault_script.h"
#include "tests/fakes/shell_script.h"
#include "tests/fakes/window_script.h"
#include "app/update_pages.h"

#include <doctest/doctest.h>

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

const uint64_t OldTime = FileTimeOf(2001, 1, 1);
const uint64_t EntryTime = FileTimeOf(2010, 6, 1);

struct FileState {
    std::string path; // host path
    bool exists;
    std::string content;
    uint64_t time;
    bool readOnly;
};

FileState StateOf(const std::string& path) {
    FileState state = {path, HostExists(path), "", 0, false};
    if (state.exists) {
        state.content = ReadHostFile(path);
        state.time = HostTime(path);
        state.readOnly = HostReadOnly(path);
    }
    return state;
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void ExpectUnchanged(const std::vector<FileState>& before) {
    for (const FileState& old : before) {
        CAPTURE(old.path);
        FileState now = StateOf(old.path);
        CHECK(now.exists == old.exists);
        CHECK(now.content == old.content);
        CHECK(now.time == old.time);
        CHECK(now.readOnly == old.readOnly);
    }
}

void ExpectEndedWith(const Scene& scene, const char* text) {
    REQUIRE(Standin::BoxCount() >= 1);
    CHECK(std::string(Standin::Box(Standin::BoxCount() - 1).text) == text);
    CHECK(Standin::DialogEnded(scene.dialog));
    CHECK(Standin::DialogResult(scene.dialog) == -1);
}

const char* const WriteFailed = "ファイルの書き込みに失敗しました";

// Five items over an installed game: a plain file, a read-only file, a data file kept by the data rule,
// a new file in a folder the run creates ("Patch" as DataFolder), and a file copied from disc 1.
struct InstalledGame : Scene {
    std::vector<FileState> before;
    std::vector<std::string> rootNames, gameNames, dataNames;

    InstalledGame() {
        strcpy(Updater.DataFolder, "Patch");
        MakeHostFolder(Host("c/Game/Patch"));
        MakeHostFolder(Host("c/Data"));
        WriteHostFile(Host("c/Game/Patch/a.dat"), "old a");
        WriteHostFile(Host("c/Game/Patch/b.dat"), "old b");
        SetHostReadOnly(Host("c/Game/Patch/b.dat"), true);
        WriteHostFile(Host("c/Game/disc.bin"), "old disc file");
        for (const char* name : {"c/Game/Patch/a.dat", "c/Game/Patch/b.dat", "c/Game/disc.bin"})
            SetHostTime(Host(name), OldTime);
        MakeHostFolder(Host("disc1"));
        WriteHostFile(Host("disc1/DISK1.CHK"), "");
        WriteHostFile(Host("disc1/disc.bin"), "new disc file");
        strcpy(Updater.Setup.DiskCheckFile[1], "DISK1.CHK");
        UseArchive({{"a.dat", "new a", EntryTime},
                    {"b.dat", "new b", EntryTime},
                    {"c.dat", "new c", EntryTime},
                    {"s.dat", "archive s", EntryTime}});
    }
    void Plan(const std::vector<std::string>& extra) {
        std::vector<std::string> lines = {"UpdateFile00=a.dat", "UpdateFile01=b.dat", "UpdateFile02=d,s.dat",
                                          "UpdateFile03=c.dat", "CopyFile00=1:disc.bin"};
        lines.insert(lines.end(), extra.begin(), extra.end());
        WriteUpdateIni(lines);
    }
    void Snapshot() {
        for (const char* name : {"c/Game/Patch/a.dat", "c/Game/Patch/b.dat", "c/Game/Patch/c.dat",
                                 "c/Game/disc.bin", "c/Data/Patch/s.dat"})
            before.push_back(StateOf(Host(name)));
        rootNames = Names(Host("c/Game"));
        gameNames = Names(Host("c/Game/Patch"));
        dataNames = Names(Host("c/Data"));
    }
    void ExpectAsBefore() {
        ExpectUnchanged(before);
        CHECK(Names(Host("c/Game/Patch")) == gameNames); // nothing prepared or backed up is left
        CHECK(Names(Host("c/Data")) == dataNames);       // the "Patch" folder the run made is gone
        CHECK(Names(Host("c/Game")) == rootNames);
    }
};

} // namespace

TEST_CASE("a run that completes replaces every file, leaves no backup and writes its moves through") {
    InstalledGame scene;
    scene.MapDrive('D', "disc1", DRIVE_CDROM);
    scene.Plan({});
    RunUpdate(scene.dialog);
    CHECK_FALSE(Standin::DialogEnded(scene.dialog));
    CHECK(ReadHostFile(scene.Host("c/Game/Patch/a.dat")) == "new a");
    CHECK(HostTime(scene.Host("c/Game/Patch/a.dat")) == EntryTime);
    CHECK(ReadHostFile(scene.Host("c/Game/Patch/b.dat")) == "new b");
    CHECK_FALSE(HostReadOnly(scene.Host("c/Game/Patch/b.dat")));
    CHECK(ReadHostFile(scene.Host("c/Game/Patch/c.dat")) == "new c");
    CHECK(ReadHostFile(scene.Host("c/Data/Patch/s.dat")) == "archive s");
    CHECK(ReadHostFile(scene.Host("c/Game/disc.bin")) == "new disc file");
    CHECK(Names(scene.Host("c/Game/Patch")) == std::vector<std::string>{"a.dat", "b.dat", "c.dat"});
    CHECK_FALSE(HostExists(scene.Host("c/Game/disc.bin.~up0")));
    CHECK_FALSE(HostExists(scene.Host("c/Game/disc.bin.~bk0")));
    // Three old files aside and five new ones in.
    CHECK(Standin::Durability().writeThroughMoves >= 8);
}

TEST_CASE("a failure while preparing leaves the installation as it was") {
    SUBCASE("the fourth of several files cannot be written (a folder in its way)") {
        InstalledGame scene;
        scene.MapDrive('D', "disc1", DRIVE_CDROM);
        MakeHostFolder(scene.Host("c/Game/Patch/c.dat"));
        scene.Plan({});
        scene.Snapshot();
        RunUpdate(scene.dialog);
        ExpectEndedWith(scene, WriteFailed);
        ExpectUnchanged(scene.before);
        CHECK(Names(scene.Host("c/Game/Patch")) == scene.gameNames);
        CHECK(Names(scene.Host("c/Data")) == scene.dataNames);
    }
    SUBCASE("an entry the archive lacks, after the others were prepared") {
        InstalledGame scene;
        scene.MapDrive('D', "disc1", DRIVE_CDROM);
        scene.Plan({"UpdateFile04=missing.dat"});
        scene.Snapshot();
        RunUpdate(scene.dialog);
        ExpectEndedWith(scene, WriteFailed);
        scene.ExpectAsBefore();
    }
    SUBCASE("the volume fills while preparing") {
        InstalledGame scene;
        scene.MapDrive('D', "disc1", DRIVE_CDROM);
        Standin::SetFreeSpace('C', 4); // the entries' own check refuses the first 5-byte file
        scene.Plan({});
        scene.Snapshot();
        RunUpdate(scene.dialog);
        ExpectEndedWith(scene, WriteFailed);
        scene.ExpectAsBefore();
    }
    SUBCASE("Cancel at the disc prompt, after the archive files were prepared") {
        InstalledGame scene;
        scene.MapDrive('D', nullptr, DRIVE_CDROM);
        Standin::QueueBoxAnswer(IDCANCEL);
        scene.Plan({});
        scene.Snapshot();
        RunUpdate(scene.dialog);
        CHECK(Standin::BoxCount() == 1); // the prompt alone
        CHECK(Standin::DialogEnded(scene.dialog));
        CHECK(Standin::DialogResult(scene.dialog) == -1);
        scene.ExpectAsBefore();
    }
}

TEST_CASE("a move refused at any point of the commit puts every old file back") {
    // Moves of a complete run: a, b and disc.bin aside and five files in; the data rule's s.dat is new.
    const int moves = 8;
    for (int refused = 0; refused < moves; ++refused) {
        CAPTURE(refused);
        InstalledGame scene;
        scene.MapDrive('D', "disc1", DRIVE_CDROM);
        scene.Plan({});
        scene.Snapshot();
        Standin::RefuseMoveAfter(refused);
        RunUpdate(scene.dialog);
        ExpectEndedWith(scene, refused >= moves - 2 ? "SETUP.INI : \"disc.bin\" のコピーに失敗しました"
                                                    : WriteFailed);
        Standin::RefuseMoveAfter(-1);
        scene.ExpectAsBefore();
    }
}

TEST_CASE("a data file's re-write that cannot be moved in is skipped, and the rest of the update goes in") {
    InstalledGame scene;
    scene.MapDrive('D', "disc1", DRIVE_CDROM);
    MakeHostFolder(scene.Host("c/Data/Patch"));
    WriteHostFile(scene.Host("c/Data/Patch/s.dat"), "player's save");
    SetHostTime(scene.Host("c/Data/Patch/s.dat"), OldTime);
    scene.Plan({});
    scene.Snapshot();
    Standin::RefuseMoveAfter(5); // s.dat's re-write moving in, after the player's copy went aside
    RunUpdate(scene.dialog);
    Standin::RefuseMoveAfter(-1);
    CHECK(Standin::BoxCount() == 0);
    CHECK_FALSE(Standin::DialogEnded(scene.dialog));
    FileState save = StateOf(scene.Host("c/Data/Patch/s.dat"));
    CHECK(save.content == "player's save");
    CHECK(save.time == OldTime);
    CHECK(Names(scene.Host("c/Data/Patch")) == std::vector<std::string>{"s.dat"});
    CHECK(ReadHostFile(scene.Host("c/Game/Patch/a.dat")) == "new a");
    CHECK(ReadHostFile(scene.Host("c/Game/Patch/c.dat")) == "new c");
    CHECK(ReadHostFile(scene.Host("c/Game/disc.bin")) == "new disc file");
}

TEST_CASE("folders above a disc file's destination are made by the run and removed on rollback") {
    for (bool fails : {false, true}) {
        CAPTURE(fails);
        Scene scene;
        MakeHostFolder(scene.Host("disc1/sub/deeper"));
        WriteHostFile(scene.Host("disc1/DISK1.CHK"), "");
        WriteHostFile(scene.Host("disc1/sub/deeper/x.bin"), "disc x");
        strcpy(Updater.Setup.DiskCheckFile[1], "DISK1.CHK");
        scene.MapDrive('D', "disc1", DRIVE_CDROM);
        std::vector<std::string> before = Names(scene.Host("c/Game"));
        scene.WriteUpdateIni({"CopyFile00=1:sub\\deeper\\x.bin"});
        if (fails) Standin::RefuseMoveAfter(0);
        RunUpdate(scene.dialog);
        Standin::RefuseMoveAfter(-1);
        if (fails) {
            ExpectEndedWith(scene, "SETUP.INI : \"sub\\deeper\\x.bin\" のコピーに失敗しました");
            CHECK(Names(scene.Host("c/Game")) == before);
        } else {
            CHECK_FALSE(Standin::DialogEnded(scene.dialog));
            CHECK(ReadHostFile(scene.Host("c/Game/sub/deeper/x.bin")) == "disc x");
            CHECK(Names(scene.Host("c/Game/sub/deeper")) == std::vector<std::string>{"x.bin"});
        }
    }
}

namespace {

// Every folder and file below a host folder, with content, time and attribute, in name order.
std::vector<std::string> TreeOf(const std::string& folder, const std::string& prefix = "") {
    std::vector<std::string> tree;
    for (const std::string& name : Names(folder)) {
        std::string path = folder + "/" + name;
        if (HostIsFolder(path)) {
            tree.push_back(prefix + name + "/");
            std::vector<std::string> inner = TreeOf(path, prefix + name + "/");
            tree.insert(tree.end(), inner.begin(), inner.end());
        } else {
            tree.push_back(prefix + name + " [" + ReadHostFile(path) + "] " + std::to_string(HostTime(path)) +
                           (HostReadOnly(path) ? " read-only" : ""));
        }
    }
    return tree;
}

// A disc with the folder "movie" (a sub-folder among it) merged into an installed "movie", a file of that
// folder copied again on its own after it, and a file beside them.
struct MovieMerge : Scene {
    MovieMerge() {
        MakeHostFolder(Host("disc1/movie/sub"));
        WriteHostFile(Host("disc1/DISK1.CHK"), "");
        WriteHostFile(Host("disc1/movie/a.mpg"), "new a");
        WriteHostFile(Host("disc1/movie/b.mpg"), "new b");
        WriteHostFile(Host("disc1/movie/sub/c.mpg"), "new c");
        WriteHostFile(Host("disc1/disc.bin"), "new disc file");
        SetHostReadOnly(Host("disc1/movie/b.mpg"), true);
        strcpy(Updater.Setup.DiskCheckFile[1], "DISK1.CHK");
        MapDrive('D', "disc1", DRIVE_CDROM);
        MakeHostFolder(Host("c/Game/movie"));
        WriteHostFile(Host("c/Game/movie/a.mpg"), "old a");
        WriteHostFile(Host("c/Game/movie/old.mpg"), "old only");
        WriteHostFile(Host("c/Game/disc.bin"), "old disc file");
        SetHostReadOnly(Host("c/Game/movie/a.mpg"), true);
        for (const char* name : {"c/Game/movie/a.mpg", "c/Game/movie/old.mpg", "c/Game/disc.bin"})
            SetHostTime(Host(name), OldTime);
    }
};

} // namespace

TEST_CASE("a folder from a disc is merged at the commit and leaves nothing beside it") {
    MovieMerge scene;
    scene.WriteUpdateIni({"CopyFile00=1:movie", "CopyFile01=1:disc.bin"});
    auto line = [&](const char* name, const char* content, const std::string& timeOf, const char* mode) {
        return std::string(name) + " [" + content + "] " + std::to_string(HostTime(scene.Host(timeOf))) +
               mode;
    };
    // The folder's files keep the disc's times and attributes; files of the same name are replaced,
    // others stay.
    std::vector<std::string> expected = {line("disc.bin", "new disc file", "disc1/disc.bin", ""),
                                         "movie/",
                                         line("movie/a.mpg", "new a", "disc1/movie/a.mpg", ""),
                                         line("movie/b.mpg", "new b", "disc1/movie/b.mpg", " read-only"),
                                         "movie/old.mpg [old only] " + std::to_string(OldTime),
                                         "movie/sub/",
                                         line("movie/sub/c.mpg", "new c", "disc1/movie/sub/c.mpg", "")};
    RunUpdate(scene.dialog);
    CHECK_FALSE(Standin::DialogEnded(scene.dialog));
    CHECK(TreeOf(scene.Host("c/Game")) == expected);
    CHECK(Standin::FileOperationCount() == 2);
}

TEST_CASE("a move refused at any point of a folder's merge, or after it, puts the folder back as it was") {
    // Moves of a complete run: the folder's a.mpg aside and three files in; its a.mpg copied again (the
    // merged one aside, the copy in); disc.bin aside and in.
    const int moves = 8;
    for (int refused = 0; refused < moves; ++refused) {
        CAPTURE(refused);
        MovieMerge scene;
        scene.WriteUpdateIni({"CopyFile00=1:movie", "CopyFile01=1:movie\\a.mpg", "CopyFile02=1:disc.bin"});
        std::vector<std::string> before = TreeOf(scene.Host("c"));
        Standin::RefuseMoveAfter(refused);
        RunUpdate(scene.dialog);
        Standin::RefuseMoveAfter(-1);
        const char* failed = refused < 4 ? "movie" : refused < 6 ? "movie\\a.mpg" : "disc.bin";
        ExpectEndedWith(scene,
                        ("SETUP.INI : \"" + std::string(failed) + "\" のコピーに失敗しました").c_str());
        CHECK(TreeOf(scene.Host("c")) == before);
    }
}

TEST_CASE("a folder that cannot be merged is refused at the commit, and nothing of it stays") {
    MovieMerge scene;
    RemoveHostTree(scene.Host("c/Game/movie"));
    WriteHostFile(scene.Host("c/Game/movie"), "a file in the folder's way");
    scene.WriteUpdateIni({"CopyFile00=1:disc.bin", "CopyFile01=1:movie"});
    std::vector<std::string> before = TreeOf(scene.Host("c"));
    RunUpdate(scene.dialog);
    ExpectEndedWith(scene, "SETUP.INI : \"movie\" のコピーに失敗しました");
    CHECK(TreeOf(scene.Host("c")) == before);
}
