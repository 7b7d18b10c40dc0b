// The archive container: loading from memory and from a file, refusal of damaged images, lookup without
// regard to case, data offsets, entry content, damaged entries, and ExtractEntry's overwrite policy with
// the whole-file routines and the free-space query. Natively against the stand-in (boxes recorded and
// free space scripted); under Wine against the real API in the temporary folder.
#include "archive_fixture.h"

#include <cstdint>

#include <algorithm>

#ifndef _WIN32
#include "tests/fakes/fakes_state.h"
#include "tests/fakes/fault_script.h"
#include <dirent.h>
#endif

namespace {

const char NotFound[] = "Can't Find File in Resource !!";

// Natively: the boxes shown since the last reset, one per expected text, with the updater's caption and
// the error icon; under Wine with the updater's caption (the icon cannot be read back there).
void ExpectBoxes(std::initializer_list<const char*> texts) {
#ifndef _WIN32
    REQUIRE(Standin::BoxCount() == static_cast<int>(texts.size()));
    int i = 0;
    for (const char* text : texts) {
        CHECK(std::string(Standin::Box(i).text) == text);
        CHECK(std::string(Standin::Box(i).caption) == "UPDATE");
        CHECK(Standin::Box(i).type == (MB_OK | MB_ICONERROR));
        ++i;
    }
    Standin::ResetBoxes();
#else
    REQUIRE(WineBoxes().size() == texts.size());
    size_t i = 0;
    for (const char* text : texts) {
        CHECK(WineBoxes()[i].text == text);
        CHECK(WineBoxes()[i].caption == "UPDATE");
        ++i;
    }
    WineBoxes().clear();
#endif
}

std::vector<TestEntry> MixedEntries() {
    std::vector<TestEntry> entries(4);
    entries[0].name = "UPDATE.INI";
    entries[0].content = "[SETUP]\r\nCompanyName=Test\r\n[SETUP]\r\nCompanyName=Test\r\n";
    entries[0].compress = true;
    entries[1].name = "DATA1.BIN";
    entries[1].content = std::string(17, 'd');
    entries[2].name = "x.exe";
    entries[2].content = std::string(5000, 'x') + "tail";
    entries[2].compress = true;
    // A double-byte name whose trail byte is "\"; a plain name where the host cannot take it.
    entries[3].name = DoubleByteNamesWork() ? "\x95\x5C.txt" : "hyou.txt";
    entries[3].content = "hyou";
    return entries;
}

struct Scope {
    TestFolder folder;
    Scope() { OpenTestFolder(folder); }
    ~Scope() { CloseTestFolder(folder); }
};

} // namespace

// An archive of one compressed "GAME.EXE" holding "new content", packed at time: the entry the
// overwrite-policy tables write over an existing target.
TestImage GameImage(uint64_t time) {
    std::vector<TestEntry> entries(1);
    entries[0].name = "GAME.EXE";
    entries[0].content = "new content";
    entries[0].compress = true;
    entries[0].time = time;
    return BuildImage(entries, true);
}

TEST_CASE("a sound archive loads from memory with a plain or a compressed directory") {
    for (bool compressed : {false, true}) {
        CAPTURE(compressed);
        Scope scope;
        TestImage image = BuildImage(MixedEntries(), compressed);
        UseImage(image);
        CHECK(memcmp(Updater.ArchiveDirectory, image.bytes.data(), 16) == 0);
        const ArchiveEntry* first = reinterpret_cast<const ArchiveEntry*>(Updater.ArchiveDirectory + 16);
        CHECK(std::string(first[2].name) == "x.exe");
        CHECK(first[2].size == 5004);
        uint32_t size = 0;
        unsigned char* data = FindEntryData("update.ini", &size);
        REQUIRE(data != nullptr);
        CHECK(size == MixedEntries()[0].content.size());
        CHECK(std::string(reinterpret_cast<char*>(data), size) == MixedEntries()[0].content);
        CHECK(ArchiveDataIsOwned(data));
        GlobalFree(data);
        data = FindEntryData("Data1.Bin", &size);
        CHECK(data == image.bytes.data() + image.dataOffsets[1]);
        CHECK(size == 17);
        CHECK(!ArchiveDataIsOwned(data));
        ExpectBoxes({});
    }
}

TEST_CASE("damaged images are refused by LoadArchive") {
    Scope scope;
    TestImage good = BuildImage(MixedEntries(), true);
    TestImage plain = BuildImage(MixedEntries(), false);
    uint32_t directoryOffset = static_cast<uint32_t>(good.dataOffsets.back() + 16);
    struct Damage {
        const char* what;
        std::vector<unsigned char> image;
    };
    std::vector<Damage> cases;
    cases.push_back({"empty", {}});
    cases.push_back({"15 bytes", std::vector<unsigned char>(good.bytes.begin(), good.bytes.begin() + 15)});
    std::vector<unsigned char> bytes = good.bytes;
    Put32(bytes, 8, static_cast<uint32_t>(bytes.size() + 1));
    cases.push_back({"directory past the end", bytes});
    bytes = good.bytes;
    Put32(bytes, 8, 0xFFFFFFF0u);
    cases.push_back({"directory offset near 4 GiB", bytes});
    bytes = plain.bytes;
    Put32(bytes, 12, 0x0EA0EA10u); // times 280 passes 2^32
    cases.push_back({"count whose product overflows", bytes});
    bytes = plain.bytes;
    Put32(bytes, 12, 5);
    cases.push_back({"plain directory running past the image", bytes});
    bytes = good.bytes;
    Put32(bytes, 12, 3);
    cases.push_back({"compressed directory longer than the count", bytes});
    bytes = good.bytes;
    Put32(bytes, 12, 5);
    cases.push_back({"compressed directory shorter than the count", bytes});
    bytes = good.bytes;
    Put32(bytes, 12, 10000000); // 2.8 GB from a stream of a few hundred bytes: refused before allocating
    cases.push_back({"compressed directory claiming more than its stream can hold", bytes});
    bytes = std::vector<unsigned char>(good.bytes.begin(), good.bytes.end() - 1);
    cases.push_back({"compressed directory cut short", bytes});
    std::vector<TestEntry> entries = MixedEntries();
    entries[1].name = std::string(300, 'N');
    cases.push_back({"name without NUL in its 260 bytes (plain)", BuildImage(entries, false).bytes});
    cases.push_back({"name without NUL in its 260 bytes (compressed)", BuildImage(entries, true).bytes});
    (void)directoryOffset;
    for (const Damage& damage : cases) {
        CAPTURE(damage.what);
        // An exact-size copy, so that the sanitizer sees any read past the image.
        std::vector<unsigned char> copy(damage.image);
        unsigned char* data = copy.empty() ? nullptr : copy.data();
        ArchiveSource source = {data ? data : reinterpret_cast<const unsigned char*>(""),
                                static_cast<uint32_t>(copy.size()), nullptr};
        CHECK(LoadArchive(source) == nullptr);
    }
    ExpectBoxes({});
}

TEST_CASE("the memory source ignores the magic; the file source requires it") {
    Scope scope;
    TestImage image = BuildImage(MixedEntries(), true);
    std::vector<unsigned char> wrong = image.bytes;
    wrong[0] = 'X';
    ArchiveSource memory = {wrong.data(), static_cast<uint32_t>(wrong.size()), nullptr};
    unsigned char* block = LoadArchive(memory);
    CHECK(block != nullptr);
    if (block) GlobalFree(block);

    std::string good = PathIn(scope.folder, "good.kt2");
    WriteTestFile(good, std::string(image.bytes.begin(), image.bytes.end()));
    ArchiveSource file = {nullptr, 0, good.c_str()};
    block = LoadArchive(file);
    REQUIRE(block != nullptr);
    Updater.ArchiveDirectory = block;
    CHECK(memcmp(block, image.bytes.data(), 16) == 0);
    CHECK(std::string(reinterpret_cast<ArchiveEntry*>(block + 16)[3].name) == MixedEntries()[3].name);

    TestImage plainImage = BuildImage(MixedEntries(), false);
    std::string plain = PathIn(scope.folder, "plain.kt2");
    WriteTestFile(plain, std::string(plainImage.bytes.begin(), plainImage.bytes.end()));
    ArchiveSource plainFile = {nullptr, 0, plain.c_str()};
    block = LoadArchive(plainFile);
    CHECK(block != nullptr);
    if (block) GlobalFree(block);

    struct Refused {
        const char* what;
        std::string content;
    };
    std::string truncated(plainImage.bytes.begin(), plainImage.bytes.end() - 1);
    const Refused refused[] = {
        {"wrong magic", std::string(wrong.begin(), wrong.end())},
        {"shorter than a header", "KT2"},
        {"plain directory cut short", truncated},
    };
    for (const Refused& r : refused) {
        CAPTURE(r.what);
        std::string path = PathIn(scope.folder, "bad.kt2");
        WriteTestFile(path, r.content);
        ArchiveSource bad = {nullptr, 0, path.c_str()};
        CHECK(LoadArchive(bad) == nullptr);
    }
    std::string missing = PathIn(scope.folder, "missing.kt2");
    ArchiveSource none = {nullptr, 0, missing.c_str()};
    CHECK(LoadArchive(none) == nullptr);
    ExpectBoxes({});
}

TEST_CASE("lookup ignores letter case, takes the first of duplicates and walks padded stored sizes") {
    Scope scope;
    std::vector<TestEntry> entries(7);
    const char* names[] = {"zero", "one", "X.exe", "sixteen", "X.EXE", "seventeen", "last"};
    const size_t sizes[] = {0, 1, 3, 16, 4, 17, 2};
    for (size_t i = 0; i < entries.size(); ++i) {
        entries[i].name = names[i];
        entries[i].content = std::string(sizes[i], static_cast<char>('a' + i));
    }
    TestImage image = BuildImage(entries, true);
    UseImage(image);
    // 0 bytes take no room; 1 and 16 take 16; 17 takes 32.
    const uint32_t expected[] = {16, 16, 32, 48, 64, 80, 112};
    for (size_t i = 0; i < entries.size(); ++i)
        CHECK(image.dataOffsets[i] == expected[i]);
    struct Lookup {
        const char* name;
        size_t index;
    };
    const Lookup lookups[] = {{"ZERO", 0},  {"One", 1},     {"x.EXE", 2},     {"X.exe", 2},
                              {"x.exe", 2}, {"SIXTEEN", 3}, {"SevenTeen", 5}, {"last", 6}};
    for (const Lookup& lookup : lookups) {
        CAPTURE(lookup.name);
        uint32_t size = 99;
        unsigned char* data = FindEntryData(lookup.name, &size);
        CHECK(data == image.bytes.data() + expected[lookup.index]);
        CHECK(size == sizes[lookup.index]);
    }
    const char* absent[] = {"", "zer", "zero ", "lastx", "X.EX"};
    for (const char* name : absent) {
        CAPTURE(name);
        ExpectBoxes({});
        CHECK(FindEntryData(name, nullptr) == nullptr);
        ExpectBoxes({NotFound});
    }
}

TEST_CASE("lookup matches double-byte names as lstrcmpiA does: letters fold, duplicate codes are one") {
#ifdef _WIN32
    if (GetACP() != 932) {
        MESSAGE("the ANSI code page is not 932: double-byte lookup cases skipped");
        return;
    }
#endif
    Scope scope;
    // Code page 932 bytes: full-width A B (82 60, 82 61) against a b (82 81, 82 82); Greek alpha (83 9F /
    // 83 BF); Cyrillic O and Yo (84 4F, 84 46) against o and yo (84 80, 84 76), across the unused 84 7F;
    // roman numeral one (87 54) with its IBM duplicate (FA 4A) and the small forms (FA 40, EE EF); a kanji
    // of the NEC-selected rows (ED 40) and its IBM duplicate (FA 5C).
    const char* names[] = {"\x82\x60\x82\x61.DAT", "\x83\x9F.TXT", "\x84\x4F\x84\x46.BIN",
                           "\x87\x54.INI",         "\xED\x40.TXT", "a.txt"};
    std::vector<TestEntry> entries(6);
    for (size_t i = 0; i < entries.size(); ++i) {
        entries[i].name = names[i];
        entries[i].content = std::string(16 * (i + 1), static_cast<char>('a' + i));
    }
    TestImage image = BuildImage(entries, false);
    UseImage(image);
    struct Lookup {
        const char* name;
        size_t index;
    };
    const Lookup lookups[] = {{"\x82\x81\x82\x82.dat", 0}, {"\x82\x60\x82\x82.Dat", 0},
                              {"\x83\xBF.txt", 1},         {"\x84\x80\x84\x76.bin", 2},
                              {"\x84\x4F\x84\x76.BIN", 2}, {"\xFA\x4A.ini", 3},
                              {"\xFA\x40.INI", 3},         {"\xEE\xEF.ini", 3},
                              {"\xFA\x5C.txt", 4},         {"A.TXT", 5}};
    for (const Lookup& lookup : lookups) {
        CAPTURE(lookup.index);
        uint32_t size = 0;
        CHECK(FindEntryData(lookup.name, &size) == image.bytes.data() + image.dataOffsets[lookup.index]);
        CHECK(size == entries[lookup.index].content.size());
        ExpectBoxes({});
    }
    // Width is not ignored, and different letters stay different.
    const char* absent[] = {"\x82\x81.txt", "\x82\x60\x82\x62.DAT", "\x84\x4F\x84\x47.BIN", "\x87\x55.INI",
                            "\xED\x41.TXT"};
    for (const char* name : absent) {
        CHECK(FindEntryData(name, nullptr) == nullptr);
        ExpectBoxes({NotFound});
    }
}

TEST_CASE("an archive without entries loads and finds nothing") {
    Scope scope;
    for (bool compressed : {false, true}) {
        TestImage image = BuildImage({}, compressed);
        UseImage(image);
        CHECK(FindEntryData("UPDATE.INI", nullptr) == nullptr);
        CHECK(ExtractEntry(PathIn(scope.folder, "UPDATE.INI").c_str(), "UPDATE.INI", 0) == 0);
        ExpectBoxes({NotFound, NotFound});
        GlobalFree(Updater.ArchiveDirectory);
        Updater.ArchiveDirectory = nullptr;
    }
}

TEST_CASE("entries whose content cannot be had fail where used, and nothing partial is written") {
    struct Damage {
        const char* what;
        size_t entry; // index into MixedEntries
        int64_t storedSize;
        int64_t size;
        bool cutImage; // the data area ends before the entry's data
    };
    const Damage damages[] = {
        {"compressed stream whose stored size runs past the directory", 2, 0x7FFFFFFF, -1, false},
        {"compressed stream cut short by its stored size", 2, 8, -1, false},
        {"compressed stream that decodes to more than its size", 2, -1, 5003, false},
        {"compressed stream that decodes to less than its size", 2, -1, 5005, false},
        {"stored entry whose size runs past the directory", 3, -1, 5000, false},
        {"compressed entry claiming more than its stream can hold", 2, -1, 0xFFFFFFF0, false},
        {"stored entry after an absurd stored size", 3, -1, -1, true},
    };
    for (const Damage& damage : damages) {
        CAPTURE(damage.what);
        Scope scope;
        std::vector<TestEntry> entries = MixedEntries();
        entries[damage.entry].storedSizeOverride = damage.storedSize;
        entries[damage.entry].sizeOverride = damage.size;
        if (damage.cutImage) entries[2].storedSizeOverride = 0xFFFFFFF0;
        TestImage image = BuildImage(entries, true);
        UseImage(image);
        const char* name = entries[damage.entry].name.c_str();
        CHECK(FindEntryData(name, nullptr) == nullptr);
        ExpectBoxes({NotFound});
        std::string fresh = PathIn(scope.folder, "fresh.bin");
        CHECK(ExtractEntry(fresh.c_str(), name, 0) == 0);
        CHECK(ReadTestFile(fresh) == "<missing>");
        std::string existing = PathIn(scope.folder, "existing.bin");
        WriteTestFile(existing, "old content");
        CHECK(ExtractEntry(existing.c_str(), name, 0) == 0);
        CHECK(ReadTestFile(existing) == "old content");
        ExpectBoxes({NotFound, NotFound});
        // The sound entries around it still come out.
        CHECK(ExtractEntry(fresh.c_str(), "UPDATE.INI", 0) == 1);
        CHECK(ReadTestFile(fresh) == entries[0].content);
    }
}

TEST_CASE("ExtractEntry writes the content stamped with the entry's time") {
    Scope scope;
    std::vector<TestEntry> entries = MixedEntries();
    const uint64_t packed = 132000000000000000ull; // 2019
    for (TestEntry& e : entries)
        e.time = packed;
    TestImage image = BuildImage(entries, true);
    UseImage(image);
    for (const TestEntry& e : entries) {
        CAPTURE(e.name);
        std::string target = PathIn(scope.folder, e.name.c_str());
        CHECK(ExtractEntry(target.c_str(), e.name.c_str(), 0) == 1);
        // Times first: reading the content may move the access time.
        TestFileTimes times = GetTestFileTimes(target);
        CHECK(times.write == packed);
        CHECK(times.access == packed);
        CHECK(times.creation == packed);
        CHECK(ReadTestFile(target) == e.content);
    }
    // Only the written files are left: no temporary file stays behind.
    CHECK(ReadTestFile(PathIn(scope.folder, "x.exe")).size() == 5004);
    ExpectBoxes({});
}

TEST_CASE("ExtractEntry's overwrite policy: time comparison, read-only targets, folders") {
    const uint64_t packed = 131000000000000000ull;
    struct Policy {
        const char* what;
        int checkTime;
        int64_t existingOffset; // existing file's time relative to the entry's
        bool readOnly;
        bool replaced;
    };
    const Policy policies[] = {
        {"later by one unit is kept", 1, 1, false, false},
        {"much later is kept", 1, 10000000000ll, false, false},
        {"equal is replaced", 1, 0, false, true},
        {"earlier by one unit is replaced", 1, -1, false, true},
        {"later but checkTime 0 is replaced", 0, 1, false, true},
        {"read-only is replaced", 0, 0, true, true},
        {"read-only and later is kept but loses read-only", 1, 1, true, false},
        {"read-only and earlier is replaced", 1, -5, true, true},
    };
    for (const Policy& p : policies) {
        CAPTURE(p.what);
        Scope scope;
        TestImage image = GameImage(packed);
        UseImage(image);
        std::string target = PathIn(scope.folder, "GAME.EXE");
        WriteTestFile(target, "old");
        SetTestFileTime(target, static_cast<uint64_t>(static_cast<int64_t>(packed) + p.existingOffset));
        if (p.readOnly) REQUIRE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
        CHECK(ExtractEntry(target.c_str(), "game.exe", p.checkTime) == 1);
        CHECK(ReadTestFile(target) == (p.replaced ? "new content" : "old"));
        CHECK((GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_READONLY) == 0);
        uint64_t written = GetTestFileTimes(target).write;
        CHECK(written ==
              (p.replaced ? packed : static_cast<uint64_t>(static_cast<int64_t>(packed) + p.existingOffset)));
        ExpectBoxes({});
    }
    SUBCASE("a folder target is left alone without a message") {
        Scope scope;
        std::vector<TestEntry> entries(1);
        entries[0].name = "DATA";
        entries[0].content = "x";
        UseImage(BuildImage(entries, false));
        std::string target = PathIn(scope.folder, "DATA");
        REQUIRE(CreateDirectoryA(target.c_str(), nullptr));
        for (int checkTime : {0, 1})
            CHECK(ExtractEntry(target.c_str(), "DATA", checkTime) == 0);
        CHECK((GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0);
        ExpectBoxes({});
    }
}

TEST_CASE("the free-space check compares the entry's size with the drive's free bytes") {
    Scope scope;
    std::vector<TestEntry> entries(1);
    entries[0].name = "BIG.DAT";
    entries[0].content = std::string(4096, 'b');
    entries[0].compress = true;
    TestImage image = BuildImage(entries, true);
    UseImage(image);
    std::string target = PathIn(scope.folder, "BIG.DAT");
#ifndef _WIN32
    Standin::SetFreeSpace(TestDriveLetter, 4096);
    CHECK(ExtractEntry(target.c_str(), "BIG.DAT", 0) == 1);
    ExpectBoxes({});
    CHECK(DeleteFileA(target.c_str()));
    Standin::SetFreeSpace(TestDriveLetter, 4095);
    CHECK(ExtractEntry(target.c_str(), "BIG.DAT", 0) == 0);
    ExpectBoxes({"ディスク容量が足りません。T: ドライブに 1 バイトの空き容量が必要です"});
    CHECK(ReadTestFile(target) == "<missing>");
    Standin::SetFreeSpace(TestDriveLetter, 0);
    Standin::SetExtendedFreeSpaceQuery(false);
    ForgetExtendedFreeSpaceQuery();
    CHECK(ExtractEntry(target.c_str(), "BIG.DAT", 0) == 0);
    ExpectBoxes({"ディスク容量が足りません。T: ドライブに 4096 バイトの空き容量が必要です"});
    // A target without a drive letter cannot be queried: the write decides.
    std::string hostTarget = std::string(scope.folder.host) + "/host.dat";
    CHECK(ExtractEntry(hostTarget.c_str(), "BIG.DAT", 0) == 1);
    CHECK(ReadTestFile(hostTarget) == entries[0].content);
    ExpectBoxes({});
#else
    // The real drive of the temporary folder: its free space cannot be scripted, only checked.
    ULARGE_INTEGER freeBytes, total;
    char drive[3] = {target[0], ':', 0};
    REQUIRE(QueryDiskSpace(drive, &freeBytes, &total, nullptr));
    CHECK(freeBytes.QuadPart >= 4096);
    CHECK(ExtractEntry(target.c_str(), "BIG.DAT", 0) == 1);
    CHECK(ReadTestFile(target) == entries[0].content);
#endif
}

TEST_CASE("QueryDiskSpace uses the extended query, or clusters when it cannot be found") {
    Scope scope;
    char drive[3] = {scope.folder.path[0], ':', 0};
    ULARGE_INTEGER freeBytes, total, totalFree;
#ifndef _WIN32
    Standin::SetFreeSpace(TestDriveLetter, 5000000000ull);
    CHECK(QueryDiskSpace(drive, &freeBytes, &total, &totalFree));
    CHECK(freeBytes.QuadPart == 5000000000ull);
    CHECK(totalFree.QuadPart == 5000000000ull);
    // The kept address is used even after the query disappears; a fresh process would fall back.
    Standin::SetExtendedFreeSpaceQuery(false);
    CHECK(QueryDiskSpace(drive, &freeBytes, &total, nullptr));
    CHECK(freeBytes.QuadPart == 5000000000ull);
    ForgetExtendedFreeSpaceQuery();
    Standin::SetFreeSpace(TestDriveLetter, 5000000000ull + 300);
    CHECK(QueryDiskSpace(drive, &freeBytes, &total, &totalFree));
    CHECK(freeBytes.QuadPart == (5000000000ull + 300) / 512 * 512); // free clusters of 512 bytes
    CHECK(totalFree.QuadPart == freeBytes.QuadPart);
    freeBytes.QuadPart = 7;
    CHECK(QueryDiskSpace("Q:", &freeBytes, &total, nullptr) == 0);
    CHECK(freeBytes.QuadPart == 7);
#else
    CHECK(QueryDiskSpace(drive, &freeBytes, &total, &totalFree));
    CHECK(freeBytes.QuadPart <= total.QuadPart);
    CHECK(total.QuadPart > 0);
#endif
}

namespace {

// The names in a folder given as the updater names paths (ending with "\"), sorted.
std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
#ifndef _WIN32
    char host[2048];
    REQUIRE(Standin::HostPath(folder.c_str(), host, sizeof host));
    DIR* listing = opendir(host);
    REQUIRE(listing != nullptr);
    while (struct dirent* entry = readdir(listing))
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            names.push_back(entry->d_name);
    closedir(listing);
#else
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    REQUIRE(search != INVALID_HANDLE_VALUE);
    do {
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
            names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
#endif
    std::sort(names.begin(), names.end());
    return names;
}

// A folder under base whose path, its last "\" included, is exactly length bytes: nested folders of at
// most 100 bytes each, all created.
std::string FolderOfLength(const std::string& base, size_t length) {
    std::string folder = base;
    REQUIRE(length >= base.size() + 2);
    while (folder.size() < length) {
        size_t left = length - folder.size();
        size_t segment = left > 100 ? (left - 100 >= 2 ? 100 : left - 2) : left;
        folder += std::string(segment - 1, static_cast<char>('a' + folder.size() % 26));
        REQUIRE(CreateDirectoryA(folder.c_str(), nullptr));
        folder += "\\";
    }
    return folder;
}

#ifndef _WIN32
void ExpectReplacedThroughTemporary(const Standin::DurabilityCounts& before, bool throughTemporary) {
    const Standin::DurabilityCounts& after = Standin::Durability();
    // Every written byte reaches the disk before the file is closed; a replacement writes its rename
    // through to the folder.
    CHECK(after.unflushedCloses == before.unflushedCloses);
    CHECK(after.flushes == before.flushes + 1);
    CHECK(after.writeThroughMoves == before.writeThroughMoves + (throughTemporary ? 1 : 0));
}
#endif

} // namespace

TEST_CASE("ReadWholeFile and WriteWholeFile") {
    Scope scope;
    std::string path = PathIn(scope.folder, "whole.bin");
    std::string content(70000, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 31);
    CHECK(WriteWholeFile(path.c_str(), content.data(), static_cast<uint32_t>(content.size()), nullptr) == 1);
    uint32_t size = 0;
    unsigned char* data = ReadWholeFile(path.c_str(), &size);
    REQUIRE(data != nullptr);
    CHECK(size == content.size());
    CHECK(std::string(reinterpret_cast<char*>(data), size) == content);
    GlobalFree(data);

    // Replacing leaves exactly the new content, and no temporary file beside it.
    CHECK(WriteWholeFile(path.c_str(), "ab", 2, nullptr) == 1);
    CHECK(ReadTestFile(path) == "ab");
    std::string empty = PathIn(scope.folder, "empty.bin");
    CHECK(WriteWholeFile(empty.c_str(), "", 0, nullptr) == 1);
    data = ReadWholeFile(empty.c_str(), &size);
    REQUIRE(data != nullptr);
    CHECK(size == 0);
    GlobalFree(data);
    CHECK(ReadWholeFile(PathIn(scope.folder, "absent.bin").c_str(), nullptr) == nullptr);

    SUBCASE("a read-only target is refused and a failed replacement removes the temporary file") {
        std::string locked = PathIn(scope.folder, "locked.bin");
        WriteTestFile(locked, "keep me");
        REQUIRE(SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_READONLY));
        FILETIME t = MakeTime(130000000000000000ull);
        CHECK(WriteWholeFile(locked.c_str(), "lost", 4, &t) == 0);
        SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_NORMAL);
        CHECK(ReadTestFile(locked) == "keep me");
        // A folder cannot be replaced by a file: the move fails after the temporary file was written.
        std::string folder = PathIn(scope.folder, "folder");
        REQUIRE(CreateDirectoryA(folder.c_str(), nullptr));
        CHECK(WriteWholeFile(folder.c_str(), "lost", 4, &t) == 0);
        CHECK((GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0);
#ifndef _WIN32
        // Only the files the test made remain.
        int count = 0;
        DIR* listing = opendir(scope.folder.host);
        while (struct dirent* entry = readdir(listing))
            count += entry->d_name[0] != '.';
        closedir(listing);
        CHECK(count == 4); // whole.bin, empty.bin, locked.bin, folder
#else
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(PathIn(scope.folder, "*.TMP").c_str(), &found);
        CHECK(search == INVALID_HANDLE_VALUE);
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
#endif
    }
    SUBCASE("a folder that does not exist fails without creating anything") {
        CHECK(WriteWholeFile(PathIn(scope.folder, "no\\such.bin").c_str(), "x", 1, nullptr) == 0);
    }
    SUBCASE("a folder whose double-byte name has a trail byte equal to the separator") {
        if (!DoubleByteNamesWork()) return;
        std::string folder = PathIn(scope.folder, "\x95\x5C");
        REQUIRE(CreateDirectoryA(folder.c_str(), nullptr));
        std::string inside = folder + "\\f.txt";
        CHECK(WriteWholeFile(inside.c_str(), "dbcs", 4, nullptr) == 1);
        CHECK(ReadTestFile(inside) == "dbcs");
    }
#ifndef _WIN32
    SUBCASE("a file of 4 GiB or more is refused rather than read short") {
        std::string huge = std::string(scope.folder.host) + "/huge.bin";
        FILE* f = fopen(huge.c_str(), "wb");
        REQUIRE(f != nullptr);
        int truncated = ftruncate(fileno(f), static_cast<off_t>(0x100000010ll));
        fclose(f);
        if (truncated == 0) CHECK(ReadWholeFile(huge.c_str(), &size) == nullptr);
    }
#endif
}

#ifndef _WIN32
TEST_CASE("WriteWholeFile puts the content on the disk before it replaces the target") {
    Scope scope;
    std::string path = PathIn(scope.folder, "durable.bin");
    for (const char* content : {"first", "second"}) {
        CAPTURE(content);
        Standin::DurabilityCounts before = Standin::Durability();
        CHECK(WriteWholeFile(path.c_str(), content, static_cast<uint32_t>(strlen(content)), nullptr) == 1);
        ExpectReplacedThroughTemporary(before, true);
        CHECK(ReadTestFile(path) == content);
    }
}
#endif

TEST_CASE("WriteWholeFile writes every target of up to 259 bytes, through a temporary file where one fits") {
    // Folder and target lengths count bytes of the path as the updater names it, the folder's last "\"
    // included. A temporary name beside the target is the target's with ".~up" and a digit (5 bytes
    // more), or "~" and a digit in the folder (the folder and 2 bytes); only a folder of 258 bytes, whose
    // target's name is one byte, leaves no room for either.
    struct Case {
        size_t folder;
        size_t target;
        bool throughTemporary;
    };
    const Case cases[] = {
        {100, 254, true}, {100, 255, true}, {246, 259, true},  {247, 259, true},
        {252, 258, true}, {257, 259, true}, {258, 259, false},
    };
    for (const Case& c : cases) {
        CAPTURE(c.folder);
        CAPTURE(c.target);
        Scope scope;
        if (strlen(scope.folder.path) + 2 > c.folder) continue;
        std::string folder = FolderOfLength(scope.folder.path, c.folder);
        std::string name(c.target - c.folder, 'f');
        std::string target = folder + name;
        REQUIRE(target.size() == c.target);
        WriteTestFile(target, "old content");
#ifndef _WIN32
        Standin::DurabilityCounts before = Standin::Durability();
#endif
        FILETIME t = MakeTime(130000000000000000ull);
        CHECK(WriteWholeFile(target.c_str(), "new", 3, &t) == 1);
        CHECK(ReadTestFile(target) == "new");
        CHECK(GetTestFileTimes(target).write == Units(t));
        CHECK(NamesIn(folder) == std::vector<std::string>{name});
#ifndef _WIN32
        ExpectReplacedThroughTemporary(before, c.throughTemporary);
#endif
    }
}

TEST_CASE("WriteWholeFile leaves alone what killed runs left beside a target, and refuses 260 bytes") {
    Scope scope;
    std::string target = PathIn(scope.folder, "save.dat");
    WriteTestFile(target, "old");
    // Names that a killed run can leave: each is somebody's file now, never taken, opened or removed.
    std::vector<std::string> left;
    for (const char* digit : {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "A", "B", "C", "D", "E", "F"})
        left.push_back(std::string("save.dat.~up") + digit);
    left.push_back("~0");
    for (const std::string& name : left)
        WriteTestFile(PathIn(scope.folder, name.c_str()), "left by " + name);
    CHECK(WriteWholeFile(target.c_str(), "new", 3, nullptr) == 1);
    CHECK(ReadTestFile(target) == "new");
    std::vector<std::string> expected = left;
    expected.push_back("save.dat");
    std::sort(expected.begin(), expected.end());
    CHECK(NamesIn(scope.folder.path) == expected);
    for (const std::string& name : left)
        CHECK(ReadTestFile(PathIn(scope.folder, name.c_str())) == "left by " + name);

    // One byte more than the updater's paths can hold: refused before anything is created.
    if (strlen(scope.folder.path) + 2 <= 250) {
        std::string folder = FolderOfLength(scope.folder.path, 250);
        std::string tooLong = folder + std::string(10, 'g');
        CHECK(WriteWholeFile(tooLong.c_str(), "x", 1, nullptr) == 0);
        CHECK(NamesIn(folder).empty());
    }
}

TEST_CASE("PrepareEntry writes the entry complete beside its target and leaves the target alone") {
    const uint64_t packed = 131000000000000000ull;
    struct Row {
        const char* what;
        bool exists, readOnly;
        int64_t existingOffset; // existing file's time relative to the entry's
        int checkTime;
        bool prepared; // false: the file on disk is kept
    };
    const Row rows[] = {
        {"a missing target", false, false, 0, 0, true},
        {"an existing file", true, false, 0, 0, true},
        {"a read-only file", true, true, 0, 0, true},
        {"a later file with checkTime 1 is kept", true, false, 1, 1, false},
        {"a later read-only file is kept, still read-only", true, true, 1, 1, false},
        {"an earlier file with checkTime 1", true, false, -1, 1, true},
    };
    for (const Row& row : rows) {
        CAPTURE(row.what);
        Scope scope;
        TestImage image = GameImage(packed);
        UseImage(image);
        std::string target = PathIn(scope.folder, "GAME.EXE");
        uint64_t oldTime = static_cast<uint64_t>(static_cast<int64_t>(packed) + row.existingOffset);
        if (row.exists) {
            WriteTestFile(target, "old");
            SetTestFileTime(target, oldTime);
            if (row.readOnly) REQUIRE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
        }
        char prepared[MAX_PATH];
        FILETIME fileTime;
        REQUIRE(PrepareEntry(target.c_str(), "game.exe", row.checkTime, prepared, &fileTime) == 1);
        CHECK((uint64_t(fileTime.dwHighDateTime) << 32 | fileTime.dwLowDateTime) == packed);
        if (row.prepared) {
            CHECK(std::string(prepared) == target + ".~up0");
            CHECK(GetTestFileTimes(prepared).write == packed);
            CHECK(GetTestFileTimes(prepared).creation == packed);
            CHECK(ReadTestFile(prepared) == "new content");
        } else {
            CHECK(prepared[0] == '\0');
        }
        if (row.exists) {
            CHECK(GetTestFileTimes(target).write == oldTime);
            CHECK(ReadTestFile(target) == "old");
            CHECK(((GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_READONLY) != 0) == row.readOnly);
            if (row.readOnly) SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        } else {
            CHECK(GetFileAttributesA(target.c_str()) == INVALID_FILE_ATTRIBUTES);
        }
        if (row.prepared) DeleteFileA(prepared);
        ExpectBoxes({});
    }
    SUBCASE("a folder in the way, or an entry the archive lacks: nothing prepared") {
        Scope scope;
        std::vector<TestEntry> entries(1);
        entries[0].name = "DATA";
        entries[0].content = "x";
        UseImage(BuildImage(entries, false));
        std::string target = PathIn(scope.folder, "DATA");
        REQUIRE(CreateDirectoryA(target.c_str(), nullptr));
        char prepared[MAX_PATH];
        FILETIME fileTime;
        CHECK(PrepareEntry(target.c_str(), "DATA", 0, prepared, &fileTime) == 0);
        CHECK(prepared[0] == '\0');
        ExpectBoxes({});
        std::string other = PathIn(scope.folder, "OTHER");
        CHECK(PrepareEntry(other.c_str(), "OTHER", 0, prepared, &fileTime) == 0);
        ExpectBoxes({NotFound});
        CHECK(NamesIn(PathIn(scope.folder, "")) == std::vector<std::string>{"DATA"});
    }
}

TEST_CASE("prepared and backup names beside a target: free ones only, short forms for long paths") {
    Scope scope;
    std::string target = PathIn(scope.folder, "SAVE.DAT");
    WriteTestFile(target, "old");
    char name[MAX_PATH];
    REQUIRE(FreeBackupName(target.c_str(), name));
    CHECK(std::string(name) == target + ".~bk0");
    WriteTestFile(target + ".~bk0", "left by a killed run");
    REQUIRE(FreeBackupName(target.c_str(), name));
    CHECK(std::string(name) == target + ".~bk1");
    REQUIRE(FreePreparedName(target.c_str(), name));
    CHECK(std::string(name) == target + ".~up0");
    // Without room for the long forms, the folder's own short names.
    std::string folder = FolderOfLength(PathIn(scope.folder, ""), 250);
    std::string longTarget = folder + std::string(MAX_PATH - 1 - folder.size(), 'n');
    REQUIRE(FreeBackupName(longTarget.c_str(), name));
    CHECK(std::string(name) == folder + "~b0");
    REQUIRE(FreePreparedName(longTarget.c_str(), name));
    CHECK(std::string(name) == folder + "~0");
    std::string tooLong = folder + std::string(MAX_PATH - folder.size(), 'n');
    CHECK_FALSE(FreeBackupName(tooLong.c_str(), name));
    CHECK_FALSE(FreePreparedName(tooLong.c_str(), name));
}

TEST_CASE("PrepareWholeFile leaves nothing behind when it cannot write") {
    Scope scope;
    std::string target = PathIn(scope.folder, "DATA.BIN");
    char prepared[MAX_PATH];
    FILETIME time;
    time.dwLowDateTime = 0x12345678;
    time.dwHighDateTime = 0x01D00000;
    REQUIRE(PrepareWholeFile(target.c_str(), "abc", 3, &time, prepared) == 1);
    CHECK(ReadTestFile(prepared) == "abc");
    CHECK(GetTestFileTimes(prepared).write == (uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime));
    CHECK(GetFileAttributesA(target.c_str()) == INVALID_FILE_ATTRIBUTES);
    // In a folder that does not exist nothing can be created.
    std::string missing = PathIn(scope.folder, "NOFOLDER\\DATA.BIN");
    CHECK(PrepareWholeFile(missing.c_str(), "abc", 3, nullptr, prepared) == 0);
    CHECK(prepared[0] == '\0');
}

TEST_CASE("a patch entry is found as a patch, never as a file's content") {
    Scope scope;
    // Plain directories, so that a record's flags can be set to the patch form in place.
    std::vector<TestEntry> entries = {
        {"DATA.PAK", "the whole file"}, {"data.pak", "KTP1 and a patch"}, {"ONLY.PAK", "KTP1 alone"}};
    TestImage image = BuildImage(entries, false);
    uint32_t directory = static_cast<uint32_t>(image.bytes.size() - entries.size() * ArchiveEntrySize);
    Put32(image.bytes, directory + ArchiveEntrySize + 260, ArchiveEntryPatch);
    Put32(image.bytes, directory + 2 * ArchiveEntrySize + 260, ArchiveEntryPatch);
    UseImage(image);

    uint32_t size = 0;
    unsigned char* whole = FindEntryData("data.pak", &size);
    REQUIRE(whole != nullptr);
    CHECK(std::string(reinterpret_cast<char*>(whole), size) == "the whole file");
    const unsigned char* patch = nullptr;
    const ArchiveEntry* found = FindPatchEntry("Data.Pak", &patch);
    REQUIRE(found != nullptr);
    CHECK(std::string(reinterpret_cast<const char*>(patch), found->storedSize) == "KTP1 and a patch");
    CHECK(patch == image.bytes.data() + image.dataOffsets[1]);
    ExpectBoxes({});

    // A patch alone is no file's content: the lookup says so, as for any missing entry.
    CHECK(FindEntryData("ONLY.PAK", &size) == nullptr);
    ExpectBoxes({NotFound});
    CHECK(FindPatchEntry("only.pak", &patch) != nullptr);
    CHECK(FindPatchEntry("missing.pak", &patch) == nullptr);
    ExpectBoxes({});

    // A patch whose bytes would run past the data area is not handed out.
    GlobalFree(Updater.ArchiveDirectory);
    Put32(image.bytes, directory + 2 * ArchiveEntrySize + 276, 1000);
    UseImage(image);
    CHECK(FindPatchEntry("only.pak", &patch) == nullptr);
    ExpectBoxes({});
}
