// The fault sweep's fixture (rich_update.h).
#include "rich_update.h"

#include "context/updater_context.h"

#include <cstring>

const uint64_t RichEntryTime = FileTimeOf(2010, 6, 1);
const uint64_t RichOldTime = FileTimeOf(2005, 1, 1);

namespace {
const uint64_t LaterTime = FileTimeOf(2020, 1, 1);

// A data pack in two releases, the second with a member changed and one inserted: the update patches it.
std::string PackRelease(int second) {
    std::string pack;
    for (int member = 0; member < 24; ++member) {
        if (second && member == 9) pack += "an inserted member of the second release";
        std::string text = "member " + std::to_string(member) + (second && member == 17 ? " changed" : "");
        pack += text + std::string(64 - text.size() % 64, static_cast<char>('a' + member));
    }
    return pack;
}
} // namespace

const std::string RichPackBase = PackRelease(0);
const std::string RichPackResult = PackRelease(1);

std::vector<ArchiveFile> RichUpdateArchive() {
    return {{"plain.dat", "new plain", RichEntryTime},
            {"newer.dat", "new newer", RichEntryTime},
            {"later.dat", "new later", RichEntryTime},
            {"exist.dat", "new exist", RichEntryTime},
            {"absent.dat", "new absent", RichEntryTime},
            {"ro.dat", "new ro", RichEntryTime},
            {"fresh.dat", "new fresh", RichEntryTime},
            {"save.dat", "archive save", RichEntryTime},
            {"first.sav", "archive first", RichEntryTime},
            PatchFile("pack.dat", RichPackBase, RichPackResult, RichEntryTime)};
}

void LayOutRichUpdate(Scene& scene) {
    strcpy(Updater.DataFolder, "Patch");
    // The installed game: C:\Game\Patch with the archive items' files, and the disc's files at the top.
    const struct {
        const char* path;
        const char* content;
        uint64_t time;
        bool readOnly;
    } installed[] = {
        {"c/Game/Patch/plain.dat", "old plain", RichOldTime, false},
        {"c/Game/Patch/newer.dat", "old newer", RichOldTime, false},
        {"c/Game/Patch/later.dat", "later than the update", LaterTime, true},
        {"c/Game/Patch/exist.dat", "old exist", RichOldTime, false},
        {"c/Game/Patch/ro.dat", "old ro", RichOldTime, true},
        {"c/Game/Patch/pack.dat", RichPackBase.c_str(), RichOldTime, false},
        {"c/Game/disc.bin", "old disc file", RichOldTime, false},
        {"c/Game/movie/m1.dat", "old m1", RichOldTime, true},
        {"c/Game/movie/keep.dat", "installed, not on the disc", RichOldTime, false},
        // The player's data: C:\Data\Patch holds a save, and a first save is written new beside it.
        {"c/Data/Patch/save.dat", "player's save", RichOldTime, false},
    };
    MakeHostFolder(scene.Host("c/Game/Patch"));
    MakeHostFolder(scene.Host("c/Game/movie"));
    MakeHostFolder(scene.Host("c/Data/Patch"));
    for (const auto& file : installed) {
        WriteHostFile(scene.Host(file.path), file.content);
        SetHostTime(scene.Host(file.path), file.time);
        if (file.readOnly) SetHostReadOnly(scene.Host(file.path), true);
    }
    // Disc 1: a file, a folder with a replaced file, a new file and a new sub-folder, and a file deep in
    // folders the run creates.
    const struct {
        const char* path;
        const char* content;
    } disc[] = {
        {"disc1/DISK1.CHK", ""},
        {"disc1/disc.bin", "new disc file"},
        {"disc1/movie/m1.dat", "new m1"},
        {"disc1/movie/m2.dat", "new m2"},
        {"disc1/movie/sub/m3.dat", "new m3"},
        {"disc1/extra/deep/x.bin", "new x"},
    };
    MakeHostFolder(scene.Host("disc1/movie/sub"));
    MakeHostFolder(scene.Host("disc1/extra/deep"));
    for (const auto& file : disc) {
        WriteHostFile(scene.Host(file.path), file.content);
        SetHostTime(scene.Host(file.path), RichEntryTime);
    }
    SetHostReadOnly(scene.Host("disc1/disc.bin"), true);
    strcpy(Updater.Setup.DiskCheckFile[1], "DISK1.CHK");
    scene.MapDrive('E', "disc1", DRIVE_CDROM);

    scene.UseArchive(RichUpdateArchive());
    scene.WriteUpdateIni({
        "RequiredDiskSpace=1000",
        "UpdateFile00=plain.dat",
        "UpdateFile01=u,newer.dat",
        "UpdateFile02=u,later.dat",
        "UpdateFile03=o,exist.dat",
        "UpdateFile04=o,absent.dat",
        "UpdateFile05=ro.dat",
        "UpdateFile06=fresh.dat",
        "UpdateFile07=d,save.dat",
        "UpdateFile08=d,first.sav",
        "UpdateFile09=pack.dat",
        "CopyFile00=1:disc.bin",
        "CopyFile01=1:movie",
        "CopyFile02=1:extra\\deep\\x.bin",
    });
}
