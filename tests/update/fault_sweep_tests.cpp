// The fault sweep: the rich update (rich_update.h) is run once to count the host calls it makes, then
// once per call N with call N failing, then with call N and the call after it (the first call of the
// rollback) failing. Each run must end as the update promises: abandoned with the installation exactly as
// it was, completed with exactly what its own decisions give under that failure, or on the short-of-space
// page with nothing changed; and the boxes must be the failure's. updpack's plan, swept the same way,
// never writes and never crashes.
#include "rich_update.h"
#include "update_scene.h"

#include "app/update_pages.h"
#include "resources/resource.h"
#include "context/updater_context.h"
#include "tests/fakes/fault_script.h"
#include "tests/fakes/script.h"
#include "tests/fakes/window_script.h"
#include "tools/updpack/updpack.h"

#include <doctest/doctest.h>

#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A sweep shorter than this has lost part of its fixture.
const int LeastCalls = 200;

const char WriteFailed[] = "ファイルの書き込みに失敗しました";

struct Entry {
    bool folder;
    std::string content;
    uint64_t time;
    bool readOnly;
    bool operator==(const Entry& other) const {
        return folder == other.folder && content == other.content && (folder || time == other.time) &&
               readOnly == other.readOnly;
    }
};
typedef std::map<std::string, Entry> Tree; // by path below the scene's root

void Capture(const std::string& root, const std::string& relative, Tree& tree) {
    DIR* folder = opendir((root + "/" + relative).c_str());
    if (!folder) return;
    while (const dirent* entry = readdir(folder)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        std::string path = relative + "/" + name;
        std::string host = root + "/" + path;
        Entry state;
        state.folder = HostIsFolder(host);
        state.readOnly = HostReadOnly(host);
        state.time = state.folder ? 0 : HostTime(host);
        if (!state.folder) state.content = ReadHostFile(host);
        tree[path] = state;
        if (state.folder) Capture(root, path, tree);
    }
    closedir(folder);
}

Tree StateOf(const Scene& scene) {
    Tree tree;
    Capture(scene.root, "c", tree);
    Capture(scene.root, "disc1", tree);
    return tree;
}

// A prepared file or staging folder, a backup, or anything inside them.
bool IsLeftoverName(const std::string& path) {
    return path.find(".~up") != std::string::npos || path.find(".~bk") != std::string::npos;
}

enum Ending { Abandoned, Completed, ShortOfSpace, Unknown };

Ending EndingOf(const Scene& scene) {
    if (Standin::DialogEnded(scene.dialog))
        return Standin::DialogResult(scene.dialog) == -1 ? Abandoned : Unknown;
    std::string page = Standin::ControlText(scene.dialog, IDC_INFO);
    if (page == "アップデートは完了しました") return Completed;
    if (page.find("ディスク容量が足りません。") == 0) return ShortOfSpace;
    return Unknown;
}

std::vector<std::string> Boxes() {
    std::vector<std::string> texts;
    for (int i = 0; i < Standin::BoxCount(); ++i)
        texts.push_back(Standin::Box(i).text);
    return texts;
}

// One run of the rich update with the given calls failing (none: the reference run).
struct Run {
    Ending ending;
    Tree before, after;
    std::vector<std::string> boxes;
    std::vector<Standin::CountedCall> failed;
    uint64_t started;
    int calls;
};

Run RunRichUpdate(const std::vector<int>& failAt) {
    Scene scene;
    LayOutRichUpdate(scene);
    Run run;
    run.before = StateOf(scene);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    run.started = uint64_t(now.dwHighDateTime) << 32 | now.dwLowDateTime;
    Standin::FaultScript script;
    script.failAt = failAt;
    Standin::StartCounting(script);
    RunUpdate(scene.dialog);
    Standin::StopCounting();
    run.calls = Standin::CountedCalls();
    run.failed = Standin::FailedCalls();
    run.ending = EndingOf(scene);
    run.after = StateOf(scene);
    run.boxes = Boxes();
    return run;
}

std::string Describe(const Run& run) {
    std::string text;
    for (const Standin::CountedCall& call : run.failed)
        text += Standin::DescribeCall(call) + " ";
    return text;
}

bool IsCleanupCall(const Standin::CountedCall& call) {
    return call.kind == Standin::HostDeleteFile || call.kind == Standin::HostRemoveFolder ||
           call.kind == Standin::HostSetAttributes || call.kind == Standin::HostFindFirst ||
           call.kind == Standin::HostFindNext || call.kind == Standin::HostMoveFile;
}

// The files whose state a run may leave as it was though the reference run changes them, each for a
// failure the rules make silent: the data re-write is skipped (a player's file that cannot be read, or
// whose re-write cannot be made, is kept); a failed attribute query on an "o" item skips it; the disc
// file's attribute reset is not examined.
// A data item whose file's attributes cannot be read is kept as it is: nothing is written for first.sav.
const std::set<std::string> SilentlyKept = {"c/Data/Patch/save.dat", "c/Data/Patch/first.sav",
                                            "c/Game/Patch/exist.dat"};
// A "u" item whose installed file's time cannot be read is replaced rather than kept.
const std::map<std::string, std::string> SilentlyReplaced = {{"c/Game/Patch/later.dat", "new later"}};

struct Tally {
    int abandoned = 0, completed = 0, shortOfSpace = 0, silent = 0, leftovers = 0, unrestored = 0;
    std::vector<std::string> notes;
};

// Checks one failed run against the reference; adds what it found to tally.
void CheckRun(const Run& run, const Run& reference, Tally& tally, bool rollbackMayFail) {
    std::string failure = Describe(run);
    CAPTURE(failure);
    bool cleanupFailed = false;
    for (const Standin::CountedCall& call : run.failed)
        cleanupFailed |= IsCleanupCall(call);
    bool unrestoredBox = false;
    for (const std::string& box : run.boxes)
        unrestoredBox |= box.find("元に戻せなかったファイルがあります：") == 0;
    std::set<std::string> paths;
    for (const auto& entry : run.before)
        paths.insert(entry.first);
    for (const auto& entry : run.after)
        paths.insert(entry.first);
    for (const auto& entry : reference.after)
        paths.insert(entry.first);

    switch (run.ending) {
    case Abandoned: {
        ++tally.abandoned;
        REQUIRE(!run.boxes.empty());
        size_t last = run.boxes.size() - 1;
        if (unrestoredBox && last > 0) --last;
        std::string box = run.boxes[last];
        CHECK((box == WriteFailed || box.find("SETUP.INI : \"") == 0));
        for (const std::string& path : paths) {
            CAPTURE(path);
            auto before = run.before.find(path);
            auto after = run.after.find(path);
            bool same =
                before != run.before.end() && after != run.after.end() && before->second == after->second;
            if (same || (before == run.before.end() && after == run.after.end())) continue;
            if (after != run.after.end() && before == run.before.end() && IsLeftoverName(path) &&
                cleanupFailed) {
                ++tally.leftovers;
                continue;
            }
            if (rollbackMayFail && unrestoredBox) {
                // The old file is beside its place under a backup name, which the box names.
                bool backedUp = false;
                if (before != run.before.end())
                    for (const auto& other : run.after)
                        backedUp |= other.first.find(path + ".~bk") == 0 &&
                                    other.second.content == before->second.content;
                bool added = before == run.before.end();
                // A kept file's read-only attribute that could not be put back.
                bool sameContent =
                    !added && after != run.after.end() && after->second.content == before->second.content;
                if (backedUp || added || sameContent || IsLeftoverName(path)) {
                    ++tally.unrestored;
                    continue;
                }
            }
            if (rollbackMayFail && cleanupFailed &&
                (IsLeftoverName(path) || (before == run.before.end() && reference.after.count(path) &&
                                          reference.after.at(path).folder))) {
                ++tally.leftovers;
                continue;
            }
            FAIL_CHECK("abandoned, and the installation changed at " << path);
        }
        break;
    }
    case Completed: {
        ++tally.completed;
        // Only the insert-disk prompt, when the disc's check file could not be seen at first.
        for (const std::string& box : run.boxes)
            CHECK(box.find("ＣＤ－ＲＯＭドライブに「") == 0);
        bool silent = false;
        for (const std::string& path : paths) {
            CAPTURE(path);
            auto before = run.before.find(path);
            auto after = run.after.find(path);
            auto expected = reference.after.find(path);
            if (after != run.after.end() && expected != reference.after.end()) {
                Entry want = expected->second;
                // A re-written data file takes the time of its own run.
                if (!want.folder && want.time >= reference.started) want.time = after->second.time;
                if (after->second == want && (want.folder || after->second.time >= run.started ||
                                              expected->second.time < reference.started))
                    continue;
            }
            if (after == run.after.end() && expected == reference.after.end()) continue;
            bool asBefore =
                (before == run.before.end() && after == run.after.end()) ||
                (before != run.before.end() && after != run.after.end() && before->second == after->second);
            if (SilentlyKept.count(path) && asBefore) {
                silent = true;
                continue;
            }
            auto replaced = SilentlyReplaced.find(path);
            if (replaced != SilentlyReplaced.end() && after != run.after.end() &&
                after->second.content == replaced->second) {
                silent = true;
                continue;
            }
            if (path == "c/Game/disc.bin" && after != run.after.end() &&
                after->second.content == "new disc file") {
                silent = true; // the copy's attribute reset failed: the disc's read-only attribute stays
                continue;
            }
            if (after != run.after.end() && IsLeftoverName(path) && cleanupFailed) {
                ++tally.leftovers;
                continue;
            }
            FAIL_CHECK("completed, but not as the decisions give at " << path);
        }
        if (silent) {
            ++tally.silent;
            tally.notes.push_back("completed without an item's change: " + failure);
        }
        break;
    }
    case ShortOfSpace:
        ++tally.shortOfSpace;
        CHECK(run.boxes.empty());
        CHECK(run.after == run.before);
        break;
    default:
        FAIL_CHECK("the run ended on no page it may end on");
    }
}

void ReportSweep(const std::string& sweep, int runs, const Tally& tally) {
    MESSAGE(sweep << ": " << runs << " runs: " << tally.abandoned << " abandoned unchanged, "
                  << tally.completed << " completed (" << tally.silent
                  << " with an item silently left as it was), " << tally.shortOfSpace << " short of space; "
                  << tally.leftovers << " leftovers of a failed clean-up; " << tally.unrestored
                  << " files a failed rollback left to restore by hand, as its box says");
    for (const std::string& note : tally.notes)
        MESSAGE(note);
}

} // namespace

TEST_CASE("every host call of the update failed in turn leaves the installation old or as decided") {
    Run reference = RunRichUpdate({});
    REQUIRE(reference.ending == Completed);
    REQUIRE(reference.boxes.empty());
    MESSAGE("the rich update makes " << reference.calls << " host calls");
    CHECK(reference.calls >= LeastCalls);
    CHECK(reference.after.at("c/Game/movie/sub/m3.dat").content == "new m3");
    CHECK(reference.after.at("c/Game/extra/deep/x.bin").content == "new x");
    CHECK(reference.after.at("c/Data/Patch/save.dat").content == "player's save");
    CHECK(reference.after.at("c/Game/Patch/pack.dat").content == RichPackResult);

    Tally single;
    for (int n = 1; n <= reference.calls; ++n) {
        CAPTURE(n);
        Run run = RunRichUpdate({n});
        REQUIRE(run.failed.size() == 1);
        CheckRun(run, reference, single, false);
    }
    ReportSweep("one failing call", reference.calls, single);
    CHECK(single.abandoned > 0);
    CHECK(single.completed > 0);

    Tally twice;
    for (int n = 1; n < reference.calls; ++n) {
        CAPTURE(n);
        Run run = RunRichUpdate({n, n + 1});
        CheckRun(run, reference, twice, true);
    }
    ReportSweep("two failing calls", reference.calls - 1, twice);
}

namespace {

// updpack's plan of the rich update, its output thrown away. Returns PlanUpdate's result.
int PlanRichUpdate(const Scene& scene) {
    std::string archive = scene.Host("update.kt2");
    PlanOptions options;
    options.dataDir = nullptr;
    options.variant = 1;
    options.add = 0;
    options.json = 0;
    std::string data = scene.Host("c/Data");
    options.dataDir = data.c_str();
    options.discDirs.push_back(scene.Host("disc1"));
    fflush(stdout);
    int saved = dup(1);
    int sink = open("/dev/null", O_WRONLY);
    if (!getenv("SWEEP_PLAN_OUTPUT")) dup2(sink, 1);
    close(sink);
    int result = PlanUpdate(archive.c_str(), scene.Host("c/Game").c_str(), options);
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    return result;
}

} // namespace

TEST_CASE("updpack's plan with each of its host calls failed in turn never writes and never crashes") {
    Scene scene;
    LayOutRichUpdate(scene);
    // The plan reads the archive from a file and plays the updater's start itself.
    WriteHostFile(scene.Host("c/Game/SETUP.INI"),
                  "[SETUP]\r\nCompanyName=c\r\nGameTitle=t\r\nGameDir=d\r\nGameExe=game.exe\r\n"
                  "UninstExe=uninst.exe\r\nSetupBmp=setup.bmp\r\nInstallSelects=1\r\nInstallTitle0=all\r\n"
                  "InstallFiles0=data.bin\r\nShortcuts=0\r\nGameClass=k\r\nDiskCheckFile1=DISK1.CHK\r\n");
    std::string ini = ReadHostFile(Updater.UpdateIniPath);
    REQUIRE(ini.find("[UPDATE]") != std::string::npos);
    std::string withSetup =
        "[SETUP]\r\nCompanyName=c\r\nGameTitle=t\r\nGameClass=k\r\nGameDir=d\r\nDataFolder=Patch\r\n" +
        ini.substr(ini.find("[UPDATE]"));
    std::vector<ArchiveFile> files = RichUpdateArchive();
    files.push_back({"UPDATE.INI", withSetup, RichEntryTime});
    std::vector<unsigned char> image = BuildArchive(files);
    WriteHostFile(scene.Host("update.kt2"), std::string(image.begin(), image.end()));
    // The plan loads its own archive into a fresh record.
    GlobalFree(Updater.ArchiveDirectory);
    Updater.ArchiveDirectory = nullptr;
    Tree before = StateOf(scene);

    Standin::StartCounting();
    REQUIRE(PlanRichUpdate(scene) == 1);
    Standin::StopCounting();
    int calls = Standin::CountedCalls();
    MESSAGE("updpack's plan of the rich update makes " << calls << " host calls");
    CHECK(calls >= 50);
    CHECK(StateOf(scene) == before);
    for (int n = 1; n <= calls; ++n) {
        CAPTURE(n);
        Standin::FaultScript script;
        script.failAt = {n};
        Standin::StartCounting(script);
        PlanRichUpdate(scene);
        Standin::StopCounting();
        CHECK(StateOf(scene) == before);
    }
}
