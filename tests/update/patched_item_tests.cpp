// Items whose archive entry is a patch: decided by the walk as the plan tells them, and carried out by the
// run, for every state the installed file can be in, with and without the whole file carried beside the
// patch.
#include "update_scene.h"

#include "app/update_pages.h"
#include "context/updater_context.h"
#include "tests/fakes/script.h"
#include "tests/fakes/window_script.h"
#include "update/plan_execution.h"

#include <doctest/doctest.h>

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <string>
#include <vector>

namespace {

const uint64_t OldTime = FileTimeOf(2005, 1, 1);
const uint64_t EntryTime = FileTimeOf(2010, 6, 1);
const uint64_t LaterTime = FileTimeOf(2015, 1, 1);

std::string Release(uint32_t seed, size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(seed >> 16);
    }
    return bytes;
}

const char NotBaseBox[] = "このアップデートを適用できないファイルがあります：\rC:\\Game\\a.dat\r"
                          "ファイルが見つからないか、このアップデートの対象とは異なる内容です";

// The names in a host folder, sorted.
std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* listing = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(listing))
            if (strcmp(entry->d_name, ".") && strcmp(entry->d_name, "..")) names.push_back(entry->d_name);
        closedir(listing);
    }
    std::sort(names.begin(), names.end());
    return names;
}

enum Installed { BaseInstalled, BaseReadOnly, ChangedSameSize, OtherRelease, NothingInstalled, ChangedLater };

} // namespace

TEST_CASE("a patched item is built from the installed file when it is the base, and refused or written "
          "whole when it is not; the plan tells the run's outcome") {
    const std::string base = Release(1, 6000);
    std::string result = base;
    result.replace(1000, 40, "a few changed bytes in the middle of it.");
    result.insert(4000, "and some inserted ones");
    std::string changed = base;
    changed[3000] ^= 0x55;

    struct Row {
        const char* name;
        const char* mode; // the item's mode prefix
        Installed installed;
        bool wholeToo;   // the archive carries the whole file beside the patch
        int verdict;     // the plan's verdict of a.dat
        const char* box; // the run's box, or null
        bool endsNew;    // a.dat holds the result afterwards (else as installed)
    };
    const Row rows[] = {
        {"the base", "", BaseInstalled, false, VerdictPatched, nullptr, true},
        {"the base, read-only", "", BaseReadOnly, false, VerdictPatched, nullptr, true},
        {"u: the base, older than the update", "u,", BaseInstalled, false, VerdictPatched, nullptr, true},
        {"a byte changed", "", ChangedSameSize, false, VerdictRefused, NotBaseBox, false},
        {"another release", "", OtherRelease, false, VerdictRefused, NotBaseBox, false},
        {"nothing installed", "", NothingInstalled, false, VerdictRefused, NotBaseBox, false},
        {"u: nothing installed", "u,", NothingInstalled, false, VerdictRefused, NotBaseBox, false},
        {"a byte changed, whole file carried", "", ChangedSameSize, true, VerdictReplaced, nullptr, true},
        {"another release, whole file carried", "", OtherRelease, true, VerdictReplaced, nullptr, true},
        {"nothing installed, whole file carried", "", NothingInstalled, true, VerdictWrittenNew, nullptr,
         true},
        {"the base, whole file carried", "", BaseInstalled, true, VerdictPatched, nullptr, true},
        {"u: a changed file later than the update is kept", "u,", ChangedLater, false, VerdictKeptLater,
         nullptr, false},
        {"o: nothing installed is skipped", "o,", NothingInstalled, false, VerdictSkippedMissing, nullptr,
         false},
    };
    for (const Row& row : rows) {
        for (int dry = 1; dry >= 0; --dry) {
            CAPTURE(row.name);
            CAPTURE(dry);
            Scene scene;
            std::string installed = row.installed == ChangedSameSize || row.installed == ChangedLater
                                        ? changed
                                    : row.installed == OtherRelease ? Release(2, 5000)
                                                                    : base;
            std::string path = scene.Host("c/Game/a.dat");
            if (row.installed != NothingInstalled) {
                WriteHostFile(path, installed);
                SetHostTime(path, row.installed == ChangedLater ? LaterTime : OldTime);
                if (row.installed == BaseReadOnly) SetHostReadOnly(path, true);
            }
            std::vector<ArchiveFile> files = {{"b.dat", "new b", EntryTime}};
            if (row.wholeToo) files.push_back({"a.dat", result, EntryTime});
            files.push_back(PatchFile("a.dat", base, result, EntryTime));
            scene.UseArchive(files);
            // b.dat comes first: a refused a.dat must take it back.
            scene.WriteUpdateIni({"UpdateFile00=b.dat", std::string("UpdateFile01=") + row.mode + "a.dat"});

            bool refused = row.verdict == VerdictRefused;
            if (dry) {
                static UpdateWalk walk;
                CHECK(RunEngineDry(&walk) == (refused ? UpdateFailed : UpdateCompleted));
                REQUIRE(walk.archiveCount == 2);
                CHECK(walk.archive[1].verdict == row.verdict);
                if (refused) CHECK(walk.archive[1].refusal == RefusedNotPatchBase);
                if (row.verdict == VerdictPatched) CHECK(walk.archive[1].bytes == result.size());
                EndWalk(&walk);
            } else {
                RunUpdate(scene.dialog);
                CHECK(Standin::DialogEnded(scene.dialog) == refused);
                CHECK(HostExists(scene.Host("c/Game/b.dat")) == !refused);
            }
            // The dry run shows the refusal's box as the run does, and writes nothing.
            REQUIRE(Standin::BoxCount() == (row.box ? 1 : 0));
            if (row.box) CHECK(std::string(Standin::Box(0).text) == row.box);
            bool endsNew = row.endsNew && !dry;
            // Nothing of the preparing is left beside the files.
            std::vector<std::string> names;
            if (row.installed != NothingInstalled || endsNew) names.push_back("a.dat");
            if (!dry && !refused) names.push_back("b.dat");
            CHECK(Names(scene.Host("c/Game")) == names);
            if (row.installed == NothingInstalled && !endsNew) continue;
            CHECK(ReadHostFile(path) == (endsNew ? result : installed));
            if (endsNew) {
                CHECK(HostTime(path) == EntryTime);
                CHECK_FALSE(HostReadOnly(path));
            } else {
                CHECK(HostTime(path) == (row.installed == ChangedLater ? LaterTime : OldTime));
            }
        }
    }
}

TEST_CASE("a damaged patch fails the run like a failed write, and the installed file stays") {
    const std::string base = Release(3, 3000);
    std::string result = base;
    result.replace(100, 5, "12345");
    Scene scene;
    std::string path = scene.Host("c/Game/a.dat");
    WriteHostFile(path, base);
    SetHostTime(path, OldTime);
    ArchiveFile patch = PatchFile("a.dat", base, result, EntryTime);
    // Past the header, which names the base: the instructions no longer make the result.
    for (size_t i = 40; i < patch.content.size(); ++i)
        patch.content[i] = static_cast<char>(patch.content[i] ^ 0xA5);
    scene.UseArchive({{"b.dat", "new b", EntryTime}, patch});
    scene.WriteUpdateIni({"UpdateFile00=b.dat", "UpdateFile01=a.dat"});

    RunUpdate(scene.dialog);

    CHECK(Standin::DialogEnded(scene.dialog));
    REQUIRE(Standin::BoxCount() == 1);
    CHECK(std::string(Standin::Box(0).text) == "ファイルの書き込みに失敗しました");
    CHECK(ReadHostFile(path) == base);
    CHECK(HostTime(path) == OldTime);
    CHECK_FALSE(HostExists(scene.Host("c/Game/b.dat")));
}
