// Archive files by mode: each write rule over a missing file, an existing file, a read-only file, a folder
// and a missing sub-folder, with and without OverwriteOnly, checked on disk (content, time, attributes);
// the target folder of each mode; the refusal of cut and over-long paths; and the data rule that never
// replaces a player's file that exists but cannot be read.
#include "update_scene.h"

#include "report/wizard_pages.h"
#include "context/updater_context.h"
#include "tests/fakes/script.h"
#include "tests/fakes/window_script.h"
#include "app/update_pages.h"

#include <doctest/doctest.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

const uint64_t OldTime = FileTimeOf(2001, 1, 1);
const uint64_t EntryTime = FileTimeOf(2010, 6, 1);
const uint64_t LaterTime = FileTimeOf(2020, 1, 1);
const char* const NewContent = "archive copy";
const char* const OldContent = "player's own data";

enum Target { Missing, File, ReadOnlyFile, Folder, MissingSubFolder };
enum Outcome {
    Written,   // the archive's content, the entry's time, writable
    Rewritten, // the old content with a new time (the data rule)
    Untouched, // the old content, the old time
    Skipped,   // nothing written: the target stays missing, or a folder
    Failure,   // "ファイルの書き込みに失敗しました" and the dialog ended with -1
};

struct ModeRow {
    const char* letter; // "" for ModePlain
    Target target;
    int overwriteOnly;
    Outcome outcome;
};

const ModeRow modeRows[] = {
    {"", Missing, 0, Written},
    {"", File, 0, Written},
    {"", ReadOnlyFile, 0, Written},
    {"", Folder, 0, Failure},
    {"", MissingSubFolder, 0, Failure},
    {"", Missing, 1, Skipped},
    {"", File, 1, Written},
    {"", ReadOnlyFile, 1, Written},
    {"", Folder, 1, Skipped},
    {"", MissingSubFolder, 1, Skipped},
    {"u,", Missing, 0, Written},
    {"u,", File, 0, Written}, // the file on disk is older than the entry
    {"u,", ReadOnlyFile, 0, Written},
    {"u,", Folder, 0, Failure},
    {"u,", MissingSubFolder, 0, Failure},
    {"u,", Missing, 1, Skipped},
    {"u,", File, 1, Written},
    {"u,", ReadOnlyFile, 1, Written},
    {"u,", Folder, 1, Skipped},
    {"u,", MissingSubFolder, 1, Skipped},
    {"d,", Missing, 0, Written},
    {"d,", File, 0, Rewritten},
    {"d,", ReadOnlyFile, 0, Untouched}, // its re-write fails; the item counts as done
    {"d,", Folder, 0, Failure},
    {"d,", MissingSubFolder, 0, Failure},
    {"d,", Missing, 1, Skipped},
    {"d,", File, 1, Rewritten},
    {"d,", ReadOnlyFile, 1, Untouched},
    {"d,", Folder, 1, Skipped},
    {"d,", MissingSubFolder, 1, Skipped},
    {"o,", Missing, 0, Skipped},
    {"o,", File, 0, Written},
    {"o,", ReadOnlyFile, 0, Written},
    {"o,", Folder, 0, Skipped},
    {"o,", MissingSubFolder, 0, Skipped},
    {"o,", Missing, 1, Skipped},
    {"o,", File, 1, Written},
    {"o,", ReadOnlyFile, 1, Written},
    {"o,", Folder, 1, Skipped},
    {"o,", MissingSubFolder, 1, Skipped},
};

void ExpectCompleted(const Scene& scene) {
    CHECK_FALSE(Standin::DialogEnded(scene.dialog));
    CHECK(std::string(Standin::ControlText(scene.dialog, IDC_INFO)) == "アップデートは完了しました");
}

void ExpectWriteFailure(const Scene& scene) {
    REQUIRE(Standin::BoxCount() >= 1);
    const Standin::RecordedBox& box = Standin::Box(Standin::BoxCount() - 1);
    CHECK(std::string(box.text) == "ファイルの書き込みに失敗しました");
    CHECK(std::string(box.caption) == Updater.Caption);
    CHECK(box.owner == scene.dialog);
    CHECK(box.type == (MB_OK | MB_ICONERROR));
    CHECK(Standin::DialogEnded(scene.dialog));
    CHECK(Standin::DialogResult(scene.dialog) == -1);
}

} // namespace

TEST_CASE("each mode over each kind of target, with and without OverwriteOnly") {
    for (const char* dataFolder : {"", "Sub"}) {
        for (const ModeRow& row : modeRows) {
            CAPTURE(row.letter);
            CAPTURE(static_cast<int>(row.target));
            CAPTURE(row.overwriteOnly);
            CAPTURE(dataFolder);
            Scene scene;
            strcpy(Updater.DataFolder, dataFolder);
            scene.UseArchive({{"a.dat", NewContent, EntryTime}});
            bool data = std::string(row.letter) == "d,";
            std::string folder = scene.Host(data ? "c/Data" : "c/Game");
            if (dataFolder[0]) folder += std::string("/") + dataFolder;
            MakeHostFolder(folder);
            std::string relative = row.target == MissingSubFolder ? "nosub\\a.dat" : "a.dat";
            std::string target = folder + (row.target == MissingSubFolder ? "/nosub/a.dat" : "/a.dat");
            if (row.target == File || row.target == ReadOnlyFile) {
                WriteHostFile(target, OldContent);
                SetHostTime(target, OldTime);
                if (row.target == ReadOnlyFile) SetHostReadOnly(target, true);
            }
            if (row.target == Folder) MakeHostFolder(target);
            scene.WriteUpdateIni({"OverwriteOnly=" + std::to_string(row.overwriteOnly),
                                  std::string("UpdateFile00=") + row.letter + relative});

            RunUpdate(scene.dialog);

            switch (row.outcome) {
            case Written:
                ExpectCompleted(scene);
                CHECK(ReadHostFile(target) == NewContent);
                CHECK(HostTime(target) == EntryTime);
                CHECK_FALSE(HostReadOnly(target));
                break;
            case Rewritten:
                ExpectCompleted(scene);
                CHECK(ReadHostFile(target) == OldContent);
                CHECK(HostTime(target) > LaterTime); // stamped with the time of the update
                break;
            case Untouched:
                ExpectCompleted(scene);
                CHECK(ReadHostFile(target) == OldContent);
                CHECK(HostTime(target) == OldTime);
                break;
            case Skipped:
                ExpectCompleted(scene);
                CHECK(HostExists(target) == (row.target == Folder));
                if (row.target == Folder) CHECK(HostIsFolder(target));
                CHECK(Standin::BoxCount() == 0);
                break;
            case Failure:
                ExpectWriteFailure(scene);
                if (row.target == Folder) CHECK(HostIsFolder(target));
                CHECK_FALSE(HostExists(folder + "/nosub"));
                break;
            }
        }
    }
}

TEST_CASE("a newer file on disk stays for mode u, losing only its read-only attribute") {
    for (bool readOnly : {false, true}) {
        CAPTURE(readOnly);
        Scene scene;
        scene.UseArchive({{"a.dat", NewContent, EntryTime}, {"b.dat", "bee", EntryTime}});
        std::string target = scene.Host("c/Game/a.dat");
        WriteHostFile(target, OldContent);
        SetHostTime(target, LaterTime);
        if (readOnly) SetHostReadOnly(target, true);
        scene.WriteUpdateIni({"UpdateFile00=u,a.dat", "UpdateFile01=b.dat"});
        RunUpdate(scene.dialog);
        ExpectCompleted(scene);
        CHECK(ReadHostFile(target) == OldContent);
        CHECK(HostTime(target) == LaterTime);
        CHECK_FALSE(HostReadOnly(target));
        CHECK(ReadHostFile(scene.Host("c/Game/b.dat")) == "bee"); // the run went on
    }
}

TEST_CASE("target folders: the base of the mode joined with DataFolder, one level created") {
    Scene scene;
    strcpy(Updater.DataFolder, "Patch");
    scene.UseArchive({{"a.dat", "A", EntryTime}, {"s.dat", "S", EntryTime}});
    MakeHostFolder(scene.Host("c/Game/Patch/one"));
    MakeHostFolder(scene.Host("c/Game/Patch/two"));
    scene.WriteUpdateIni({"UpdateFile00=one\\a.dat", "UpdateFile01=two\\a.dat", "UpdateFile02=d,s.dat"});
    RunUpdate(scene.dialog);
    ExpectCompleted(scene);
    // Two items of one file name in different sub-folders come from the one entry.
    CHECK(ReadHostFile(scene.Host("c/Game/Patch/one/a.dat")) == "A");
    CHECK(ReadHostFile(scene.Host("c/Game/Patch/two/a.dat")) == "A");
    // The data folder's DataFolder level did not exist: it is created.
    CHECK(ReadHostFile(scene.Host("c/Data/Patch/s.dat")) == "S");
}

TEST_CASE("a name whose trail byte is 0x5C is looked up whole in the archive") {
    Scene scene;
    scene.UseArchive({{"\x83\x5C.dat", "so", EntryTime}});
    MakeHostFolder(scene.Host("c/Game/sub"));
    scene.WriteUpdateIni({"UpdateFile00=sub\\\x83\x5C.dat"});
    RunUpdate(scene.dialog);
    ExpectCompleted(scene);
    CHECK(ReadHostFile(scene.Host("c/Game/sub/\x83\x5C.dat")) == "so");
}

TEST_CASE("an entry missing from the archive shows the archive's box, then the write failure") {
    Scene scene;
    scene.UseArchive({{"a.dat", "A", EntryTime}});
    scene.WriteUpdateIni({"UpdateFile00=a.dat", "UpdateFile01=none.dat", "UpdateFile02=a2.dat"});
    RunUpdate(scene.dialog);
    REQUIRE(Standin::BoxCount() == 2);
    CHECK(std::string(Standin::Box(0).text) == "Can't Find File in Resource !!");
    ExpectWriteFailure(scene);
    // Prepared before the failure, then deleted: nothing of the run is left.
    CHECK_FALSE(HostExists(scene.Host("c/Game/a.dat")));
    CHECK_FALSE(HostExists(scene.Host("c/Game/a.dat.~up0")));
}

TEST_CASE("cut or over-long target paths are refused before anything of them is written") {
    SUBCASE("a path token cut by the scanner") {
        // With an empty base and DataFolder the cut 259 bytes would fit as a target on their own: only the
        // cut mark stops them (the archive's "Can't Find File" box would come first otherwise).
        Scene scene;
        Updater.Install.InstPath[0] = '\0';
        scene.UseArchive({{"a.dat", "A", EntryTime}});
        scene.WriteUpdateIni({"UpdateFile00=d,a.dat", "UpdateFile01=" + std::string(300, 'n')});
        RunUpdate(scene.dialog);
        REQUIRE(Standin::BoxCount() == 1);
        ExpectWriteFailure(scene);
        CHECK_FALSE(HostExists(scene.Host("c/Data/a.dat"))); // prepared only, and deleted
    }
    SUBCASE("a joined target longer than 259 characters") {
        Scene scene;
        std::string folder(200, 'g');
        std::string name(80, 'f');
        MakeHostFolder(scene.Host("c/" + folder));
        snprintf(Updater.Install.InstPath, sizeof Updater.Install.InstPath, "C:\\%s", folder.c_str());
        strcpy(Updater.DataFolder, "Made");
        scene.UseArchive({{name, "long", EntryTime}});
        scene.WriteUpdateIni({"UpdateFile00=" + name});
        RunUpdate(scene.dialog);
        REQUIRE(Standin::BoxCount() == 1);
        ExpectWriteFailure(scene);
        CHECK_FALSE(HostExists(scene.Host("c/" + folder + "/Made"))); // not even its folder
    }
    SUBCASE("259 characters are still written") {
        Scene scene;
        std::string folder(200, 'g');
        std::string name(259 - 3 - 200 - 1, 'f');
        MakeHostFolder(scene.Host("c/" + folder));
        snprintf(Updater.Install.InstPath, sizeof Updater.Install.InstPath, "C:\\%s", folder.c_str());
        scene.UseArchive({{name, "fits", EntryTime}});
        scene.WriteUpdateIni({"UpdateFile00=" + name});
        RunUpdate(scene.dialog);
        ExpectCompleted(scene);
        CHECK(ReadHostFile(scene.Host("c/" + folder + "/" + name)) == "fits");
    }
}

TEST_CASE("a player's data file that exists but cannot be read is kept, and the run goes on") {
    Scene scene;
    scene.UseArchive({{"save.dat", NewContent, EntryTime}, {"b.dat", "bee", EntryTime}});
    // More than 4 GiB (sparse): too large to be read into memory in one piece.
    std::string target = scene.Host("c/Data/save.dat");
    int file = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    REQUIRE(file >= 0);
    REQUIRE(write(file, "SAVE", 4) == 4);
    REQUIRE(ftruncate(file, (static_cast<off_t>(1) << 32) + 4) == 0);
    close(file);
    SetHostTime(target, OldTime);
    scene.WriteUpdateIni({"UpdateFile00=d,save.dat", "UpdateFile01=b.dat"});

    RunUpdate(scene.dialog);

    ExpectCompleted(scene);
    CHECK(Standin::BoxCount() == 0);
    char head[4] = {};
    int reopened = open(target.c_str(), O_RDONLY);
    REQUIRE(reopened >= 0);
    CHECK(read(reopened, head, 4) == 4);
    close(reopened);
    CHECK(std::string(head, 4) == "SAVE");
    CHECK(HostTime(target) == OldTime);
    CHECK(ReadHostFile(scene.Host("c/Game/b.dat")) == "bee");
}
