// A folder of mixed files goes through create, list, test and extract and comes back byte for byte and
// time for time (to the 100 ns a Windows file time keeps), with the archive laid out as the updater reads it.
#include "tests/updpack/updpack_test_support.h"
#include "tools/updpack/updpack.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

#include <doctest/doctest.h>

namespace {
struct MixedFile {
    const char* hostName;    // UTF-8
    const char* archiveName; // code page 932
    Bytes content;
    timespec lastWrite;
    uint32_t expectedFlags;
};

Bytes TextContent() {
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "[UPDATE]\r\nUpdateFile00=u,game.exe\r\nRequiredDiskSpace=" + std::to_string(i) + "\r\n";
    return Bytes(text.begin(), text.end());
}

Bytes RandomContent(size_t size) {
    Bytes bytes(size);
    uint32_t state = 2463534242u;
    for (unsigned char& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<unsigned char>(state >> 24);
    }
    return bytes;
}

Bytes RunContent() {
    Bytes bytes;
    for (int run = 0; run < 300; ++run)
        bytes.insert(bytes.end(), 1 + run % 97, static_cast<unsigned char>(run * 7));
    return bytes;
}

std::vector<MixedFile> MixedFiles() {
    return {
        {"empty.bin", "empty.bin", Bytes(), UtcTime(2000, 1, 1, 0, 0, 0, 0), ArchiveEntryStored},
        {"one.bin", "one.bin", Bytes(1, 0x5A), UtcTime(1999, 12, 31, 23, 59, 59, 999999999),
         ArchiveEntryStored},
        {"README.TXT", "README.TXT", TextContent(), UtcTime(2001, 2, 3, 4, 5, 6, 123456789),
         ArchiveEntryCompressed},
        {"random.dat", "random.dat", RandomContent(70000), UtcTime(2024, 6, 30, 12, 0, 0, 100),
         ArchiveEntryStored},
        {"runs.dat", "runs.dat", RunContent(), UtcTime(1965, 7, 8, 9, 10, 11, 500000000),
         ArchiveEntryCompressed},
        {u8"セーブデータ.dat", "セーブデータ.dat", TextContent(), UtcTime(2010, 10, 10, 10, 10, 10, 10101),
         ArchiveEntryCompressed},
        // 表 ends in 0x5C, ア and ヂ differ only in a trail byte that a naive fold would take for A and a.
        {u8"表.txt", "表.txt", Bytes(3, 'x'), UtcTime(2011, 1, 1, 0, 0, 0, 0), ArchiveEntryStored},
        {u8"ア.txt", "ア.txt", Bytes(5, 'a'), UtcTime(2012, 1, 1, 0, 0, 0, 0), ArchiveEntryStored},
        {u8"ヂ.txt", "ヂ.txt", Bytes(5, 'b'), UtcTime(2013, 1, 1, 0, 0, 0, 0), ArchiveEntryStored},
    };
}

long HundredNanoseconds(long nanoseconds) {
    return nanoseconds / 100 * 100;
}
} // namespace

TEST_CASE("create, list, test and extract round-trip a folder of mixed files") {
    ScratchFolder scratch;
    std::string source = scratch / "source";
    REQUIRE(mkdir(source.c_str(), 0777) == 0);
    std::vector<MixedFile> files = MixedFiles();
    for (const MixedFile& file : files)
        WriteHostFile(source + "/" + file.hostName, file.content, file.lastWrite);
    // Sub-folders are not files of the update.
    REQUIRE(mkdir((source + "/movie").c_str(), 0777) == 0);
    std::string archivePath = scratch / "update.kt2";
    std::string output;

    REQUIRE(RunTool({"create", archivePath, source}, output) == 0);
    CHECK(output.find("skipping \"movie\": a folder (only the files directly in the folder are packed)") !=
          std::string::npos);
    CHECK(FolderNames(scratch.path) == std::vector<std::string>{"source", "update.kt2"});

    SUBCASE("the image is what the updater reads: compressed directory, entries sorted by their bytes") {
        OpenedArchive archive;
        REQUIRE(OpenArchive(archivePath.c_str(), archive));
        CHECK(memcmp(archive.header->magic, "KT2", 4) == 0);
        CHECK(archive.header->flags == ArchiveDirectoryCompressed);
        REQUIRE(archive.header->entryCount == files.size());
        std::vector<uint32_t> offsets;
        REQUIRE(LocateEntries(archive, archivePath.c_str(), offsets));
        for (uint32_t i = 0; i < archive.header->entryCount; ++i) {
            const ArchiveEntry& entry = archive.entries[i];
            if (i > 0) CHECK(strcmp(archive.entries[i - 1].name, entry.name) < 0);
            const MixedFile* file = nullptr;
            for (const MixedFile& candidate : files) {
                if (!strcmp(candidate.archiveName, entry.name)) file = &candidate;
            }
            REQUIRE_MESSAGE(file != nullptr, entry.name);
            INFO(std::string(file->hostName));
            CHECK(entry.flags == file->expectedFlags);
            CHECK(entry.size == file->content.size());
            if (entry.flags == ArchiveEntryStored)
                CHECK(entry.storedSize == entry.size);
            else
                CHECK(entry.storedSize < entry.size);
            uint64_t fileTime;
            REQUIRE(FileTimeFromHost(file->lastWrite, &fileTime));
            CHECK(EntryFileTime(entry) == fileTime);
            // Zero-filled after the name, as the updater's bounded compare may read the whole field.
            size_t length = strlen(entry.name);
            CHECK(std::all_of(entry.name + length, entry.name + ArchiveNameCapacity,
                              [](char c) { return c == 0; }));
        }
        // The padded data area ends exactly where the directory begins.
        const ArchiveEntry& last = archive.entries[archive.header->entryCount - 1];
        CHECK(offsets.back() + ((last.storedSize + 15) & ~15u) == archive.header->directoryOffset);
        CloseArchive(archive);
    }

    SUBCASE("list shows every entry with its sizes, form, UTC time and UTF-8 name") {
        REQUIRE(RunTool({"list", archivePath}, output) == 0);
        for (const MixedFile& file : files)
            CHECK_MESSAGE(output.find(file.hostName) != std::string::npos, file.hostName);
        CHECK(output.find("2001-02-03 04:05:06  README.TXT") != std::string::npos);
        CHECK(output.find("1965-07-08 09:10:11  runs.dat") != std::string::npos);
        CHECK(output.find("         0          0 stored     2000-01-01 00:00:00  empty.bin") !=
              std::string::npos);
        CHECK(output.find("     70000      70000 stored ") != std::string::npos);
        CHECK(output.find("9 entries") != std::string::npos);
    }

    SUBCASE("test finds every entry sound") {
        REQUIRE(RunTool({"test", archivePath}, output) == 0);
        CHECK(output.find("9 entries, all sound") != std::string::npos);
    }

    SUBCASE("extract gives back every file byte for byte with its time") {
        std::string target = scratch / "out/nested";
        REQUIRE(RunTool({"extract", archivePath, target}, output) == 0);
        std::vector<std::string> expectedNames;
        for (const MixedFile& file : files)
            expectedNames.push_back(file.hostName);
        std::sort(expectedNames.begin(), expectedNames.end());
        CHECK(FolderNames(target) == expectedNames);
        for (const MixedFile& file : files) {
            INFO(std::string(file.hostName));
            Bytes content;
            REQUIRE(ReadHostFile(target + "/" + file.hostName, content));
            CHECK(content == file.content);
            timespec lastWrite = HostLastWrite(target + "/" + file.hostName);
            CHECK(lastWrite.tv_sec == file.lastWrite.tv_sec);
            CHECK(lastWrite.tv_nsec == HundredNanoseconds(file.lastWrite.tv_nsec));
        }
        // Extracting again over the same files replaces them the same way.
        REQUIRE(RunTool({"extract", archivePath, target}, output) == 0);
        CHECK(FolderNames(target) == expectedNames);
    }

    SUBCASE("the same folder packs to the same bytes, and a second create replaces the first") {
        Bytes first, second;
        REQUIRE(ReadHostFile(archivePath, first));
        WriteHostFile(archivePath, "an older archive");
        REQUIRE(RunTool({"create", archivePath, source}, output) == 0);
        REQUIRE(ReadHostFile(archivePath, second));
        CHECK(first == second);
    }
}

TEST_CASE("an empty folder packs to an archive without entries") {
    ScratchFolder scratch;
    REQUIRE(mkdir((scratch / "empty").c_str(), 0777) == 0);
    std::string archivePath = scratch / "empty.kt2";
    std::string output;
    REQUIRE(RunTool({"create", archivePath, scratch / "empty"}, output) == 0);
    REQUIRE(RunTool({"test", archivePath}, output) == 0);
    CHECK(output.find("0 entries, all sound") != std::string::npos);
    REQUIRE(RunTool({"extract", archivePath, scratch / "out"}, output) == 0);
    CHECK(FolderNames(scratch / "out").empty());
}

TEST_CASE("file times convert to FILETIME and back at 100 ns") {
    struct TimeCase {
        timespec host;
        uint64_t fileTime;
    };
    const TimeCase cases[] = {
        {{0, 0}, 116444736000000000ull},                 // 1970-01-01
        {{-11644473600, 0}, 0},                          // 1601-01-01, the first FILETIME
        {{1, 999999999}, 116444736019999999ull},         // nanoseconds are cut, not rounded
        {{-1, 100}, 116444735990000001ull},              // before 1970
        {{981173106, 123456700}, 126256467061234567ull}, // 2001-02-03 04:05:06.1234567
    };
    for (const TimeCase& c : cases) {
        CAPTURE(c.host.tv_sec);
        uint64_t fileTime = 0;
        REQUIRE(FileTimeFromHost(c.host, &fileTime));
        CHECK(fileTime == c.fileTime);
        timespec back = HostTimeFromFileTime(fileTime);
        CHECK(back.tv_sec == c.host.tv_sec);
        CHECK(back.tv_nsec == HundredNanoseconds(c.host.tv_nsec));
    }
    uint64_t fileTime = 0;
    CHECK_FALSE(FileTimeFromHost({-11644473601, 0}, &fileTime)); // before 1601
    char text[64];
    FormatFileTime(126256467061234567ull, text, sizeof text);
    CHECK(std::string(text) == "2001-02-03 04:05:06");
}

TEST_CASE("an archive kept in the folder it packs is not packed into itself") {
    ScratchFolder scratch;
    WriteHostFile(scratch / "UPDATE.INI", "[SETUP]\r\n");
    std::string archivePath = scratch / "update.kt2";
    std::string output;
    REQUIRE(RunTool({"create", archivePath, scratch.path}, output) == 0);
    Bytes first, second;
    REQUIRE(ReadHostFile(archivePath, first));
    REQUIRE(RunTool({"create", archivePath, scratch.path}, output) == 0);
    CHECK(output.find("skipping \"update.kt2\": the archive being written") != std::string::npos);
    REQUIRE(ReadHostFile(archivePath, second));
    CHECK(first == second);
    REQUIRE(RunTool({"list", archivePath}, output) == 0);
    CHECK(output.find("1 entries") != std::string::npos);
}
