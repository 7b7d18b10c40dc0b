// Copies from the product's discs: the drive search in letter order, the insert-disk prompt (OK searches
// again, Cancel ends), the sticky source of disk-0 items, the shell's copy structure for file and folder
// copies, folders merged, the copy's failures and the user's abort, and the refused items.
#include "update_scene.h"

#include "report/wizard_pages.h"
#include "context/updater_context.h"
#include "tests/fakes/script.h"
#include "tests/fakes/shell_script.h"
#include "tests/fakes/window_script.h"
#include "app/update_pages.h"

#include <doctest/doctest.h>

#include <cstring>
#include <string>

namespace {

const char* const Prompt1 = "ＣＤ－ＲＯＭドライブに「テストゲーム」ディスク 1 を入れて下さい";

// A scene with disc 1 and disc 2 prepared as host folders (not yet in any drive) and their check files.
struct DiscScene : Scene {
    DiscScene() {
        MakeHostFolder(Host("disc1/movie/sub"));
        WriteHostFile(Host("disc1/DISK1.CHK"), "");
        WriteHostFile(Host("disc1/data.bin"), "disc one data");
        WriteHostFile(Host("disc1/movie/a.mpg"), "new a");
        WriteHostFile(Host("disc1/movie/sub/b.mpg"), "new b");
        MakeHostFolder(Host("disc2/check"));
        WriteHostFile(Host("disc2/two.bin"), "disc two data");
        WriteHostFile(Host("disc2/extra.bin"), "disc two extra");
        strcpy(Updater.Setup.DiskCheckFile[1], "DISK1.CHK");
        strcpy(Updater.Setup.DiskCheckFile[2], "check"); // a folder identifies a disc as well
    }
};

std::string List(const char* text) {
    return std::string(text) + std::string(2, '\0');
}
std::string FromOf(int index) {
    const Standin::RecordedFileOperation& op = Standin::FileOperation(index);
    return std::string(op.from, op.fromBytes);
}
std::string ToOf(int index) {
    const Standin::RecordedFileOperation& op = Standin::FileOperation(index);
    return std::string(op.to, op.toBytes);
}

void ExpectCompleted(const Scene& scene) {
    CHECK_FALSE(Standin::DialogEnded(scene.dialog));
    CHECK(std::string(Standin::ControlText(scene.dialog, IDC_INFO)) == "アップデートは完了しました");
}

void ExpectEnded(const Scene& scene) {
    CHECK(Standin::DialogEnded(scene.dialog));
    CHECK(Standin::DialogResult(scene.dialog) == -1);
}

void ExpectCopyFailureBox(const Scene& scene, int index, const char* path) {
    REQUIRE(Standin::BoxCount() > index);
    const Standin::RecordedBox& box = Standin::Box(index);
    CHECK(std::string(box.text) == std::string("SETUP.INI : \"") + path + "\" のコピーに失敗しました");
    CHECK(box.owner == scene.dialog);
    CHECK(std::string(box.caption) == "テスト アップデート");
    CHECK(box.type == (MB_OK | MB_ICONERROR));
    ExpectEnded(scene);
}

struct Insertion {
    Scene* scene;
    int insertAtBox; // the prompt at which the disc goes in (0-based box index)
    std::string text;
};

int InsertDiscAndOk(const Standin::RecordedBox& box, int index, void* data) {
    Insertion* insertion = static_cast<Insertion*>(data);
    insertion->text = box.text;
    if (index == insertion->insertAtBox) insertion->scene->MapDrive('D', "disc1", DRIVE_CDROM);
    return IDOK;
}

} // namespace

TEST_CASE("a file copy from the disc in the first CD-ROM drive, as the shell's table says") {
    DiscScene scene;
    scene.MapDrive('C', "c", DRIVE_FIXED);
    scene.MapDrive('A', "floppy", DRIVE_REMOVABLE); // holds a check file but is no CD-ROM
    WriteHostFile(scene.Host("floppy/DISK1.CHK"), "");
    scene.MapDrive('D', "disc1", DRIVE_CDROM);
    scene.MapDrive('E', "disc1", DRIVE_CDROM);
    SetHostReadOnly(scene.Host("disc1/data.bin"), true);
    scene.WriteUpdateIni({"CopyFile00=1:data.bin"});

    RunUpdate(scene.dialog);

    ExpectCompleted(scene);
    CHECK(Standin::BoxCount() == 0);
    REQUIRE(Standin::FileOperationCount() == 1);
    const Standin::RecordedFileOperation& op = Standin::FileOperation(0);
    CHECK(op.hwnd == scene.dialog);
    CHECK(op.wFunc == FO_COPY);
    CHECK(FromOf(0) == List("D:\\data.bin"));
    // A file goes beside its destination first; the commit moves it in.
    CHECK(ToOf(0) == List("C:\\Game\\data.bin.~up0"));
    CHECK(op.fFlags == 0x0210);
    CHECK(ReadHostFile(scene.Host("c/Game/data.bin")) == "disc one data");
    CHECK_FALSE(HostReadOnly(scene.Host("c/Game/data.bin"))); // the disc's read-only attribute is removed
}

TEST_CASE("the disc in a later drive, and two discs in two drives") {
    DiscScene scene;
    scene.MapDrive('D', nullptr, DRIVE_CDROM); // no disc
    scene.MapDrive('E', "disc2", DRIVE_CDROM);
    scene.MapDrive('F', "disc1", DRIVE_CDROM);
    scene.WriteUpdateIni({"CopyFile00=1:data.bin", "CopyFile01=2:two.bin", "CopyFile02=extra.bin"});

    RunUpdate(scene.dialog);

    ExpectCompleted(scene);
    CHECK(Standin::BoxCount() == 0);
    REQUIRE(Standin::FileOperationCount() == 3);
    CHECK(FromOf(0) == List("F:\\data.bin"));
    CHECK(FromOf(1) == List("E:\\two.bin"));
    CHECK(FromOf(2) == List("E:\\extra.bin")); // disk 0: the latest search's drive
    CHECK(ReadHostFile(scene.Host("c/Game/data.bin")) == "disc one data");
    CHECK(ReadHostFile(scene.Host("c/Game/two.bin")) == "disc two data");
    CHECK(ReadHostFile(scene.Host("c/Game/extra.bin")) == "disc two extra");
}

TEST_CASE("a disk-0 item after a disk-1 item copies from the same drive without a search or prompt") {
    DiscScene scene;
    scene.MapDrive('E', "disc1", DRIVE_CDROM);
    scene.WriteUpdateIni({"CopyFile00=1:data.bin", "CopyFile01=movie"});
    struct Removal {
        static Standin::FileOperationPlan Handler(const Standin::RecordedFileOperation&, int index,
                                                  void* data) {
            // After the first copy E: stops being a CD-ROM drive: a new search would prompt, but the
            // drive still reads.
            if (index == 0) {
                std::string host = static_cast<Scene*>(data)->Host("disc1");
                Standin::SetDrive('E', host.c_str(), DRIVE_FIXED);
            }
            return Standin::FileOperationCopies();
        }
    };
    Standin::SetFileOperationHandler(Removal::Handler, &scene);
    RunUpdate(scene.dialog);
    ExpectCompleted(scene);
    CHECK(Standin::BoxCount() == 0);
    REQUIRE(Standin::FileOperationCount() == 2);
    CHECK(FromOf(1) == List("E:\\movie"));
    CHECK(ReadHostFile(scene.Host("c/Game/movie/a.mpg")) == "new a");
}

TEST_CASE("the insert-disk prompt: OK searches again, until the disc is there") {
    for (int insertAt : {0, 2}) {
        CAPTURE(insertAt);
        DiscScene scene;
        scene.MapDrive('D', nullptr, DRIVE_CDROM);
        scene.WriteUpdateIni({"CopyFile00=1:data.bin"});
        Insertion insertion = {&scene, insertAt, ""};
        Standin::SetBoxHandler(InsertDiscAndOk, &insertion);

        RunUpdate(scene.dialog);

        ExpectCompleted(scene);
        REQUIRE(Standin::BoxCount() == insertAt + 1);
        for (int i = 0; i <= insertAt; ++i) {
            const Standin::RecordedBox& box = Standin::Box(i);
            CHECK(std::string(box.text) == Prompt1);
            CHECK(box.type == MB_OKCANCEL);
            CHECK(box.owner == scene.dialog);
            CHECK(std::string(box.caption) == "テスト アップデート");
        }
        REQUIRE(Standin::FileOperationCount() == 1);
        CHECK(FromOf(0) == List("D:\\data.bin"));
        CHECK(ReadHostFile(scene.Host("c/Game/data.bin")) == "disc one data");
    }
}

TEST_CASE("Cancel on the insert-disk prompt ends the update without a further box") {
    DiscScene scene;
    WriteHostFile(scene.Host("c/Game/keep.txt"), "kept");
    scene.UseArchive({{"a.dat", "A", FileTimeOf(2010, 1, 1)}});
    scene.WriteUpdateIni({"UpdateFile00=a.dat", "CopyFile00=1:data.bin", "CopyFile01=2:two.bin"});
    Standin::QueueBoxAnswer(IDCANCEL);
    RunUpdate(scene.dialog);
    REQUIRE(Standin::BoxCount() == 1);
    CHECK(std::string(Standin::Box(0).text) == Prompt1);
    ExpectEnded(scene);
    CHECK(Standin::FileOperationCount() == 0);
    CHECK_FALSE(HostExists(scene.Host("c/Game/a.dat"))); // only prepared before the prompt, and deleted
    CHECK_FALSE(HostExists(scene.Host("c/Game/a.dat.~up0")));
    CHECK(ReadHostFile(scene.Host("c/Game/keep.txt")) == "kept");
}

TEST_CASE("an empty check file name matches the first CD-ROM drive that holds any disc") {
    DiscScene scene;
    Updater.Setup.DiskCheckFile[3][0] = '\0';
    scene.MapDrive('D', nullptr, DRIVE_CDROM);
    scene.MapDrive('G', "disc2", DRIVE_CDROM);
    scene.WriteUpdateIni({"CopyFile00=3:two.bin"});
    RunUpdate(scene.dialog);
    ExpectCompleted(scene);
    REQUIRE(Standin::FileOperationCount() == 1);
    CHECK(FromOf(0) == List("G:\\two.bin"));
}

TEST_CASE("a folder copy lands under its own name in the installation folder, merged") {
    DiscScene scene;
    scene.MapDrive('E', "disc1", DRIVE_CDROM);
    MakeHostFolder(scene.Host("c/Game/movie"));
    WriteHostFile(scene.Host("c/Game/movie/a.mpg"), "old a");
    WriteHostFile(scene.Host("c/Game/movie/old.mpg"), "old only");
    scene.WriteUpdateIni({"CopyFile00=1:movie"});

    RunUpdate(scene.dialog);

    ExpectCompleted(scene);
    REQUIRE(Standin::FileOperationCount() == 1);
    CHECK(FromOf(0) == List("E:\\movie"));
    // Copied under its own name into a staging folder beside its place, which the commit merges in.
    CHECK(ToOf(0) == List("C:\\Game\\movie.~up0"));
    CHECK(Standin::FileOperation(0).fFlags == 0x0610);
    CHECK(ReadHostFile(scene.Host("c/Game/movie/a.mpg")) == "new a");
    CHECK(ReadHostFile(scene.Host("c/Game/movie/sub/b.mpg")) == "new b");
    CHECK(ReadHostFile(scene.Host("c/Game/movie/old.mpg")) == "old only");
}

TEST_CASE("copy failures: a missing source, the shell's failure, the user's abort") {
    SUBCASE("a missing source is a folder copy that fails, named in the box") {
        DiscScene scene;
        scene.MapDrive('E', "disc1", DRIVE_CDROM);
        scene.WriteUpdateIni({"CopyFile00=1:data.bin", "CopyFile01=1:nothere", "CopyFile02=1:movie"});
        RunUpdate(scene.dialog);
        REQUIRE(Standin::FileOperationCount() == 2);
        CHECK(Standin::FileOperation(1).fFlags == 0x0610);
        CHECK(ToOf(1) == List("C:\\Game\\nothere.~up0"));
        CHECK(Standin::FileOperation(1).result != 0);
        REQUIRE(Standin::BoxCount() == 1);
        ExpectCopyFailureBox(scene, 0, "nothere");
        // The file copied before the failure was only prepared: it is gone, with nothing left beside it.
        CHECK_FALSE(HostExists(scene.Host("c/Game/data.bin")));
        CHECK_FALSE(HostExists(scene.Host("c/Game/data.bin.~up0")));
        CHECK_FALSE(HostExists(scene.Host("c/Game/movie")));
        CHECK_FALSE(HostExists(scene.Host("c/Game/nothere.~up0")));
    }
    SUBCASE("the shell reports a failure") {
        DiscScene scene;
        scene.MapDrive('E', "disc1", DRIVE_CDROM);
        scene.WriteUpdateIni({"CopyFile00=1:data.bin"});
        Standin::QueueFileOperation(Standin::FileOperationFails(5));
        RunUpdate(scene.dialog);
        REQUIRE(Standin::BoxCount() == 1);
        ExpectCopyFailureBox(scene, 0, "data.bin");
    }
    SUBCASE("the user cancels in the shell's window: no box of ours") {
        DiscScene scene;
        scene.MapDrive('E', "disc1", DRIVE_CDROM);
        scene.WriteUpdateIni({"CopyFile00=1:data.bin", "CopyFile01=1:movie"});
        Standin::QueueFileOperation(Standin::FileOperationAborted());
        RunUpdate(scene.dialog);
        CHECK(Standin::BoxCount() == 0);
        ExpectEnded(scene);
        CHECK(Standin::FileOperationCount() == 1);
    }
}

TEST_CASE("the page names each item while the shell copies it, over the busy page's buttons") {
    DiscScene scene;
    scene.MapDrive('E', "disc1", DRIVE_CDROM);
    scene.WriteUpdateIni({"CopyFile00=1:data.bin", "CopyFile01=movie"});
    struct Seen {
        HWND dialog;
        std::string texts[2];
        int anyEnabled;
        int cursor;
        static Standin::FileOperationPlan Handler(const Standin::RecordedFileOperation&, int index,
                                                  void* data) {
            Seen* seen = static_cast<Seen*>(data);
            if (index < 2) seen->texts[index] = Standin::ControlText(seen->dialog, IDC_INFO);
            seen->anyEnabled |= Standin::IsControlEnabled(seen->dialog, IDOK) |
                                Standin::IsControlEnabled(seen->dialog, IDCANCEL) |
                                Standin::IsControlEnabled(seen->dialog, IDC_BACK);
            seen->cursor = Standin::CurrentCursorId();
            return Standin::FileOperationCopies();
        }
    } seen = {scene.dialog, {"", ""}, 0, 0};
    Standin::SetFileOperationHandler(Seen::Handler, &seen);
    RunUpdate(scene.dialog);
    ExpectCompleted(scene);
    CHECK(seen.texts[0] == "data.bin をコピーしています");
    CHECK(seen.texts[1] == "movie をコピーしています");
    CHECK(seen.anyEnabled == 0);
    CHECK(seen.cursor == 32514);
}

TEST_CASE("refused copy items: no search, no copy, the copy failure box") {
    SUBCASE("a disk character that is not a digit") {
        DiscScene scene;
        scene.MapDrive('E', "disc1", DRIVE_CDROM);
        scene.WriteUpdateIni({"CopyFile00=1:data.bin", "CopyFile01=a:movie"});
        RunUpdate(scene.dialog);
        CHECK(Standin::FileOperationCount() == 1);
        REQUIRE(Standin::BoxCount() == 1);
        ExpectCopyFailureBox(scene, 0, "movie");
    }
    SUBCASE("a disk-0 item before any search of the run") {
        DiscScene scene;
        scene.MapDrive('D', nullptr, DRIVE_CDROM);
        scene.WriteUpdateIni({"CopyFile00=movie", "CopyFile01=1:data.bin"});
        RunUpdate(scene.dialog);
        CHECK(Standin::FileOperationCount() == 0);
        REQUIRE(Standin::BoxCount() == 1); // no insert-disk prompt
        ExpectCopyFailureBox(scene, 0, "movie");
    }
    SUBCASE("a destination that does not fit its list") {
        DiscScene scene;
        std::string folder(200, 'g');
        std::string name(60, 'f');
        MakeHostFolder(scene.Host("c/" + folder));
        WriteHostFile(scene.Host("disc1/" + name), "x");
        snprintf(Updater.Install.InstPath, sizeof Updater.Install.InstPath, "C:\\%s", folder.c_str());
        scene.MapDrive('E', "disc1", DRIVE_CDROM);
        scene.WriteUpdateIni({"CopyFile00=1:" + name});
        RunUpdate(scene.dialog);
        CHECK(Standin::FileOperationCount() == 0);
        REQUIRE(Standin::BoxCount() == 1);
        ExpectCopyFailureBox(scene, 0, name.c_str());
    }
    SUBCASE("a source longer than the platform's paths") {
        DiscScene scene;
        scene.MapDrive('E', "disc1", DRIVE_CDROM);
        std::string longPath = std::string(250, 'd') + "\\" + std::string(7, 'f'); // E:\ and 258 bytes
        scene.WriteUpdateIni({"CopyFile00=1:data.bin", "CopyFile01=" + longPath});
        RunUpdate(scene.dialog);
        CHECK(Standin::FileOperationCount() == 1);
        REQUIRE(Standin::BoxCount() == 1);
        ExpectCopyFailureBox(scene, 0, longPath.c_str());
    }
}
