// The overlay of what earlier items leave: each kind of entry answered for the paths it speaks for, later
// entries first, the disk for the rest; and the walk of decisions, which decides each item against what
// the items before it leave, the run and the dry run alike.
#include "update_scene.h"

#include "app/update_pages.h"
#include "context/updater_context.h"
#include "tests/fakes/script.h"
#include "tests/fakes/window_script.h"
#include "update/file_overlay.h"
#include "update/plan_execution.h"

#include <doctest/doctest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const uint64_t EntryTime = FileTimeOf(2010, 6, 1);
const uint64_t OldTime = FileTimeOf(2005, 1, 1);

FILETIME Time(uint64_t units) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(units);
    time.dwHighDateTime = static_cast<DWORD>(units >> 32);
    return time;
}

uint64_t Units(const FILETIME& time) {
    return uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

struct Overlay {
    FileOverlay overlay;
    Overlay() { BeginOverlay(&overlay); }
    ~Overlay() { EndOverlay(&overlay); }
};

} // namespace

TEST_CASE(
    "the overlay answers for what earlier items leave, later entries first, and the disk for the rest") {
    Scene scene;
    WriteHostFile(scene.Host("c/Game/disk.dat"), "on disk");
    SetHostTime(scene.Host("c/Game/disk.dat"), OldTime);
    SetHostReadOnly(scene.Host("c/Game/disk.dat"), true);
    MakeHostFolder(scene.Host("disc1/movie/sub"));
    WriteHostFile(scene.Host("disc1/movie/m1.dat"), "disc m1");
    SetHostReadOnly(scene.Host("disc1/movie/m1.dat"), true);
    WriteHostFile(scene.Host("c/Game/movie.txt"), "not below the tree");
    scene.MapDrive('E', "disc1", DRIVE_CDROM);

    Overlay o;
    REQUIRE(OverlayAddFile(&o.overlay, "C:\\Game\\new.dat", FILE_ATTRIBUTE_ARCHIVE, 5, Time(EntryTime),
                           ContentOfEntry, "new.dat"));
    REQUIRE(OverlayAddFolder(&o.overlay, "C:\\Game\\Made\\"));
    REQUIRE(OverlayAddMergedTree(&o.overlay, "C:\\Game\\movie", "E:\\movie"));
    // A later write over the file on disk, which the tree does not reach.
    REQUIRE(OverlayAddFile(&o.overlay, "c:\\game\\DISK.DAT", FILE_ATTRIBUTE_NORMAL, 9, Time(EntryTime),
                           ContentOfFile, "E:\\movie\\m1.dat"));
    // A second write of new.dat: the later one answers.
    REQUIRE(OverlayAddFile(&o.overlay, "C:\\Game\\NEW.DAT", FILE_ATTRIBUTE_ARCHIVE, 7, Time(OldTime),
                           ContentOfEntry, "second.dat"));

    struct Row {
        const char* path;
        DWORD attributes;
        int timeKnown;
        uint64_t time;
        int written; // OverlayWrittenFile
        int32_t content;
        const char* source;
        uint32_t size;
    };
    const Row rows[] = {
        {"C:\\Game\\new.dat", FILE_ATTRIBUTE_ARCHIVE, 1, OldTime, 1, ContentOfEntry, "second.dat", 7},
        {"C:\\GAME\\New.Dat", FILE_ATTRIBUTE_ARCHIVE, 1, OldTime, 1, ContentOfEntry, "second.dat", 7},
        {"C:\\Game\\disk.dat", FILE_ATTRIBUTE_NORMAL, 1, EntryTime, 1, ContentOfFile, "E:\\movie\\m1.dat", 9},
        {"C:\\Game\\Made", FILE_ATTRIBUTE_DIRECTORY, 0, 0, 0, 0, "", 0},
        {"C:\\Game\\made\\", FILE_ATTRIBUTE_DIRECTORY, 0, 0, 0, 0, "", 0},
        {"C:\\Game\\movie", FILE_ATTRIBUTE_DIRECTORY, 0, 0, 1, ContentOfFile, "E:\\movie", 0},
        {"C:\\Game\\movie\\m1.dat", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY, 1, 0, 1, ContentOfFile,
         "E:\\movie\\m1.dat", 0},
        {"C:\\Game\\movie\\sub", FILE_ATTRIBUTE_DIRECTORY, 0, 0, 1, ContentOfFile, "E:\\movie\\sub", 0},
        // Not on the disc: the disk answers.
        {"C:\\Game\\movie\\none.dat", INVALID_FILE_ATTRIBUTES, 0, 0, 0, 0, "", 0},
        {"C:\\Game\\movie.txt", FILE_ATTRIBUTE_ARCHIVE, 1, 0, 0, 0, "", 0},
        {"C:\\Game\\missing.dat", INVALID_FILE_ATTRIBUTES, 0, 0, 0, 0, "", 0},
    };
    for (const Row& row : rows) {
        CAPTURE(row.path);
        CHECK(OverlayAttributes(&o.overlay, row.path) == row.attributes);
        FILETIME time = Time(0);
        CHECK(OverlayLastWriteTime(&o.overlay, row.path, &time) == row.timeKnown);
        if (row.timeKnown && row.time) CHECK(Units(time) == row.time);
        int32_t content = -1;
        char source[MAX_PATH] = "";
        uint32_t size = 99;
        CHECK(OverlayWrittenFile(&o.overlay, row.path, &content, source, &size) == row.written);
        if (row.written) {
            CHECK(content == row.content);
            CHECK(std::string(source) == row.source);
            CHECK(size == row.size);
        }
    }
    CHECK(OverlayFolderExists(&o.overlay, "C:\\Game\\Made\\"));
    CHECK(OverlayFolderExists(&o.overlay, "C:\\Game\\movie\\sub"));
    CHECK_FALSE(OverlayFolderExists(&o.overlay, "C:\\Game\\new.dat"));
    CHECK_FALSE(OverlayFolderExists(&o.overlay, "C:\\Game\\Other"));
    // Nothing was written: the disk still holds only what the scene made.
    CHECK_FALSE(HostExists(scene.Host("c/Game/new.dat")));
    CHECK_FALSE(HostExists(scene.Host("c/Game/Made")));
    CHECK(ReadHostFile(scene.Host("c/Game/disk.dat")) == "on disk");
}

TEST_CASE("the overlay grows past any fixed count, and refuses a path it cannot hold") {
    Scene scene;
    Overlay o;
    for (int i = 0; i < 1000; ++i) {
        std::string folder = "C:\\Game\\f" + std::to_string(i);
        REQUIRE(OverlayAddFolder(&o.overlay, folder.c_str()));
    }
    CHECK(OverlayFolderExists(&o.overlay, "C:\\Game\\f0"));
    CHECK(OverlayFolderExists(&o.overlay, "C:\\Game\\f999"));
    CHECK_FALSE(OverlayFolderExists(&o.overlay, "C:\\Game\\f1000"));
    std::string tooLong = "C:\\Game\\" + std::string(300, 'x');
    CHECK_FALSE(OverlayAddFolder(&o.overlay, tooLong.c_str()));
    CHECK(o.overlay.count == 1000);
}

namespace {

// The verdicts of the archive and copy items after a dry run of the engine over the scene's plan.
struct DryRun {
    UpdateOutcome outcome;
    std::vector<int> archive, copies;
};

DryRun RunDry() {
    static UpdateWalk walk;
    DryRun run;
    run.outcome = RunEngineDry(&walk);
    for (int32_t i = 0; i < walk.archiveCount; ++i)
        run.archive.push_back(walk.archive[i].verdict);
    for (int32_t i = 0; i < walk.copyCount; ++i)
        run.copies.push_back(walk.copies[i].verdict);
    EndWalk(&walk);
    return run;
}

} // namespace

TEST_CASE("each item is decided against what the items before it leave, in the dry run as in the run") {
    struct Row {
        const char* name;
        std::vector<std::string> lines;
        std::vector<int> archive, copies;
    };
    // a.dat is installed (old); n.dat is not; the disc holds a.dat and the folder "movie" with m.dat.
    const Row rows[] = {
        {"a data item keeps what an earlier item writes",
         {"UpdateFile00=a.dat", "UpdateFile01=d,a.dat"},
         {VerdictReplaced, VerdictDataRewritten},
         {}},
        {"a data item over a file written new keeps it too",
         {"UpdateFile00=n.dat", "UpdateFile01=d,n.dat"},
         {VerdictWrittenNew, VerdictDataRewritten},
         {}},
        {"only existing files: one an earlier item writes exists",
         {"UpdateFile00=n.dat", "UpdateFile01=o,n.dat"},
         {VerdictWrittenNew, VerdictReplaced},
         {}},
        {"the second write of a new file replaces the first",
         {"UpdateFile00=n.dat", "UpdateFile01=n.dat"},
         {VerdictWrittenNew, VerdictReplaced},
         {}},
        {"u: a file re-written with the update's time is later than the entry",
         {"UpdateFile00=d,a.dat", "UpdateFile01=u,a.dat"},
         {VerdictDataRewritten, VerdictKeptLater},
         {}},
        {"a disc file over one an earlier item writes replaces it",
         {"UpdateFile00=n.dat", "CopyFile00=1:n.dat"},
         {VerdictWrittenNew},
         {VerdictDiscFile}},
        {"a disc folder, then a file into it",
         {"CopyFile00=1:movie", "CopyFile01=1:movie\\m.dat"},
         {},
         {VerdictDiscFolder, VerdictDiscFile}},
    };
    for (const Row& row : rows) {
        CAPTURE(row.name);
        Scene scene;
        strcpy(Updater.Install.DataPath, "C:\\Game");
        WriteHostFile(scene.Host("c/Game/a.dat"), "old a");
        SetHostTime(scene.Host("c/Game/a.dat"), OldTime);
        MakeHostFolder(scene.Host("disc1/movie"));
        WriteHostFile(scene.Host("disc1/DISK1.CHK"), "");
        WriteHostFile(scene.Host("disc1/n.dat"), "disc n");
        WriteHostFile(scene.Host("disc1/movie/m.dat"), "disc m");
        strcpy(Updater.Setup.DiskCheckFile[1], "DISK1.CHK");
        scene.MapDrive('E', "disc1", DRIVE_CDROM);
        scene.UseArchive({{"a.dat", "new a", EntryTime}, {"n.dat", "new n", EntryTime}});
        scene.WriteUpdateIni(row.lines);

        DryRun dry = RunDry();
        CHECK(dry.outcome == UpdateCompleted);
        CHECK(dry.archive == row.archive);
        CHECK(dry.copies == row.copies);
        CHECK(ReadHostFile(scene.Host("c/Game/a.dat")) == "old a");
        CHECK_FALSE(HostExists(scene.Host("c/Game/n.dat")));
        CHECK(Standin::BoxCount() == 0);
    }
}

TEST_CASE("a data item keeps the archive's file an earlier item writes, not the one installed before") {
    Scene scene;
    strcpy(Updater.Install.DataPath, "C:\\Game");
    WriteHostFile(scene.Host("c/Game/a.dat"), "old a");
    SetHostTime(scene.Host("c/Game/a.dat"), OldTime);
    scene.UseArchive({{"a.dat", "new a", EntryTime}});
    scene.WriteUpdateIni({"UpdateFile00=a.dat", "UpdateFile01=d,a.dat"});
    FILETIME before;
    GetSystemTimeAsFileTime(&before);

    RunUpdate(scene.dialog);

    CHECK(Standin::BoxCount() == 0);
    CHECK_FALSE(Standin::DialogEnded(scene.dialog));
    CHECK(ReadHostFile(scene.Host("c/Game/a.dat")) == "new a");
    // Re-written by the data rule: the update's time, not the entry's.
    CHECK(HostTime(scene.Host("c/Game/a.dat")) + 20000000 >= Units(before));
    CHECK(HostTime(scene.Host("c/Game/a.dat")) != EntryTime);
}

TEST_CASE("folders a disc copy creates are removed on rollback, however deep") {
    Scene scene;
    std::string path;
    for (int level = 0; level < 60; ++level)
        path += "d\\";
    path += "x.bin";
    std::string hostFolder = "disc1";
    for (int level = 0; level < 60; ++level)
        hostFolder += "/d";
    MakeHostFolder(scene.Host(hostFolder));
    WriteHostFile(scene.Host(hostFolder + "/x.bin"), "disc x");
    WriteHostFile(scene.Host("disc1/DISK1.CHK"), "");
    strcpy(Updater.Setup.DiskCheckFile[1], "DISK1.CHK");
    scene.MapDrive('E', "disc1", DRIVE_CDROM);
    scene.UseArchive({{"a.dat", "new a", EntryTime}});
    // The archive's file is prepared first; the disc file fails to copy once its 60 folders are made.
    scene.WriteUpdateIni({"UpdateFile00=a.dat", "CopyFile00=1:" + path, "CopyFile01=1:none.bin"});

    RunUpdate(scene.dialog);

    CHECK(Standin::DialogEnded(scene.dialog));
    REQUIRE(Standin::BoxCount() == 1);
    CHECK(std::string(Standin::Box(0).text) == "SETUP.INI : \"none.bin\" のコピーに失敗しました");
    CHECK_FALSE(HostExists(scene.Host("c/Game/d")));
    CHECK_FALSE(HostExists(scene.Host("c/Game/a.dat")));
}
