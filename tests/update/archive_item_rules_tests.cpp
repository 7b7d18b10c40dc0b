// The decisions of an archive item taken on their own, as updpack's plan takes them: the write check that
// PrepareEntry makes, without writing (its verdicts and boxes, and nothing left on disk), the existing-file
// rule and the data rule over each kind of target.
#include "update_scene.h"

#include "archive/archive.h"
#include "context/updater_context.h"
#include "tests/fakes/script.h"
#include "update/archive_item_rules.h"

#include <doctest/doctest.h>

#include <cstring>
#include <dirent.h>
#include <set>
#include <string>

namespace {

const uint64_t OldTime = FileTimeOf(2001, 1, 1);
const uint64_t EntryTime = FileTimeOf(2010, 6, 1);
const uint64_t LaterTime = FileTimeOf(2020, 1, 1);

std::set<std::string> NamesIn(const std::string& folder) {
    std::set<std::string> names;
    DIR* listing = opendir(folder.c_str());
    REQUIRE(listing != nullptr);
    while (const dirent* entry = readdir(listing))
        names.insert(entry->d_name);
    closedir(listing);
    return names;
}

UpdateItem Item(int32_t mode, const char* path) {
    UpdateItem item;
    memset(&item, 0, sizeof item);
    item.mode = mode;
    strcpy(item.path, path);
    const char* slash = strrchr(path, '\\');
    item.nameOffset = slash ? static_cast<int32_t>(slash - path + 1) : 0;
    return item;
}

} // namespace

TEST_CASE("the write check decides as PrepareEntry does and writes nothing") {
    Scene scene;
    scene.UseArchive({{"a.dat", "archive copy", EntryTime}});
    WriteHostFile(scene.Host("c/Game/older.dat"), "old");
    SetHostTime(scene.Host("c/Game/older.dat"), OldTime);
    WriteHostFile(scene.Host("c/Game/equal.dat"), "equal");
    SetHostTime(scene.Host("c/Game/equal.dat"), EntryTime);
    WriteHostFile(scene.Host("c/Game/later.dat"), "later");
    SetHostTime(scene.Host("c/Game/later.dat"), LaterTime);
    MakeHostFolder(scene.Host("c/Game/folder.dat"));
    struct Row {
        const char* target;
        int checkTime;
        int result;
        int keep;
    };
    const Row rows[] = {
        {"C:\\Game\\missing.dat", 1, 1, 0}, {"C:\\Game\\older.dat", 1, 1, 0},
        {"C:\\Game\\equal.dat", 1, 1, 0},   {"C:\\Game\\later.dat", 1, 1, 1},
        {"C:\\Game\\later.dat", 0, 1, 0},   {"C:\\Game\\folder.dat", 1, 0, 0},
        {"C:\\Game\\folder.dat", 0, 0, 0},
    };
    std::set<std::string> before = NamesIn(scene.Host("c/Game"));
    for (const Row& row : rows) {
        CAPTURE(row.target);
        CAPTURE(row.checkTime);
        int keep = -1;
        uint32_t size = 0;
        CHECK(CheckEntryWrite(row.target, "a.dat", row.checkTime, &keep, &size) == row.result);
        if (row.result) {
            CHECK(keep == row.keep);
            CHECK(size == strlen("archive copy"));
        }
    }
    // A folder in the way is refused without a box of its own, as the write would be.
    CHECK(Standin::BoxCount() == 0);
    CHECK(NamesIn(scene.Host("c/Game")) == before);
    CHECK(ReadHostFile(scene.Host("c/Game/later.dat")) == "later");
    CHECK(HostTime(scene.Host("c/Game/older.dat")) == OldTime);

    int keep = -1;
    CHECK(CheckEntryWrite("C:\\Game\\none.dat", "none.dat", 0, &keep, nullptr) == 0);
    REQUIRE(Standin::BoxCount() == 1);
    CHECK(std::string(Standin::Box(0).text) == "Can't Find File in Resource !!");
}

TEST_CASE("the write check refuses an entry larger than the drive's free space, with the updater's box") {
    Scene scene;
    scene.UseArchive({{"big.dat", std::string(5000, 'b'), EntryTime}});
    Standin::SetFreeSpace('C', 1000);
    int keep = -1;
    CHECK(CheckEntryWrite("C:\\Game\\big.dat", "big.dat", 0, &keep, nullptr) == 0);
    REQUIRE(Standin::BoxCount() == 1);
    CHECK(std::string(Standin::Box(0).text) ==
          "ディスク容量が足りません。C: ドライブに 4000 バイトの空き容量が必要です");
    CHECK_FALSE(HostExists(scene.Host("c/Game/big.dat")));
}

TEST_CASE("the existing-file rule and the data rule over each kind of target") {
    Scene scene;
    WriteHostFile(scene.Host("c/Game/file.dat"), "player's");
    WriteHostFile(scene.Host("c/Game/ro.dat"), "read-only");
    SetHostReadOnly(scene.Host("c/Game/ro.dat"), true);
    MakeHostFolder(scene.Host("c/Game/folder.dat"));
    struct Row {
        const char* target;
        int skippedPlain, skippedPlainOverwriteOnly, skippedExisting;
        DataRuleChoice data;
    };
    const Row rows[] = {
        {"C:\\Game\\missing.dat", 0, 1, 1, DataFromArchive},
        {"C:\\Game\\file.dat", 0, 0, 0, DataRewritten},
        {"C:\\Game\\ro.dat", 0, 0, 0, DataReadOnly},
        {"C:\\Game\\folder.dat", 0, 1, 1, DataFromArchive},
        {"C:\\Game\\nosub\\x.dat", 0, 1, 1, DataFromArchive},
    };
    FileOverlay overlay;
    BeginOverlay(&overlay);
    for (const Row& row : rows) {
        CAPTURE(row.target);
        CHECK(SkippedAsMissing(Item(ModePlain, "x.dat"), 0, row.target, &overlay) == row.skippedPlain);
        CHECK(SkippedAsMissing(Item(ModeNewer, "x.dat"), 1, row.target, &overlay) ==
              row.skippedPlainOverwriteOnly);
        CHECK(SkippedAsMissing(Item(ModeExisting, "x.dat"), 0, row.target, &overlay) == row.skippedExisting);
        int32_t content = -1;
        char source[MAX_PATH];
        uint32_t size = 7;
        CHECK(ChooseDataRule(row.target, &overlay, &content, source, &size) == row.data);
        if (row.data == DataRewritten) {
            CHECK(content == ContentOfFile);
            CHECK(std::string(source) == row.target);
            CHECK(size == 8);
        } else {
            CHECK(size == 0);
        }
    }
    EndOverlay(&overlay);
    CHECK(Standin::BoxCount() == 0);
}

TEST_CASE("targets: the mode's base joined with DataFolder and the path; cut and long paths refused") {
    Scene scene;
    strcpy(Updater.DataFolder, "Patch");
    char folder[ArchiveTargetCapacity], target[ArchiveTargetCapacity];
    REQUIRE(BuildArchiveTarget(Item(ModeNewer, "sub\\a.dat"), folder, target));
    CHECK(std::string(folder) == "C:\\Game\\Patch");
    CHECK(std::string(target) == "C:\\Game\\Patch\\sub\\a.dat");
    REQUIRE(BuildArchiveTarget(Item(ModeData, "s.dat"), folder, target));
    CHECK(std::string(target) == "C:\\Data\\Patch\\s.dat");
    UpdateItem cut = Item(ModePlain, "a.dat");
    cut.pathCut = 1;
    CHECK_FALSE(BuildArchiveTarget(cut, folder, target));
    std::string longName(250, 'n');
    CHECK_FALSE(BuildArchiveTarget(Item(ModePlain, longName.c_str()), folder, target));
}
