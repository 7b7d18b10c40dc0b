// libFuzzer target: the archive as the updater meets it. The input is written to a file and loaded from
// there; the same bytes loaded as a memory image must give the same header and directory. Then every
// entry (up to EntriesTried) is looked up and extracted to its own file in the scratch folder, half of
// them over an existing read-only file (half of those under the time rule, which keeps an old file later
// than the entry), and what lands on disk must be exactly the entry's content with the entry's time, or
// the old file kept whole and writable, or nothing when the entry cannot be had; no temporary file may stay
// behind.
#include "archive/archive.h"
#include "archive/whole_file.h"
#include "context/updater_context.h"
#include "tests/fakes/script.h"
#include "platform/text_format.h"
#include "tests/fuzz/fuzz_scratch.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <vector>

namespace {

enum : uint32_t { EntriesTried = 16, FreeBytes = 1u << 20 };

const char ArchiveName[] = "ARCHIVE.BIN";
const unsigned char OldContent[] = "old content";
// The old file's time: 2010-01-01 UTC, inside the range of entry times an input can give on either side.
const uint64_t OldTime = 129067776000000000ull;

std::vector<unsigned char> ReadHostFile(const char* path, bool* exists) {
    std::vector<unsigned char> bytes;
    FILE* file = fopen(path, "rb");
    *exists = file != nullptr;
    if (!file) return bytes;
    unsigned char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    fclose(file);
    return bytes;
}

uint64_t HostWriteTime(const char* path) {
    struct stat info;
    FuzzCheck(stat(path, &info) == 0, "an extracted file cannot be examined");
    return (static_cast<uint64_t>(info.st_mtim.tv_sec) + 11644473600ull) * 10000000ull +
           static_cast<uint64_t>(info.st_mtim.tv_nsec) / 100;
}

uint32_t DirectoryBytes(const unsigned char* block) {
    ArchiveHeader header;
    memcpy(&header, block, sizeof header);
    return ArchiveHeaderSize + header.entryCount * ArchiveEntrySize;
}

// The file route refuses what the memory route refuses, checks the magic besides, and reads the same.
void CompareRoutes(const unsigned char* fromFile, const uint8_t* data, size_t size) {
    ArchiveSource memory = {data, static_cast<uint32_t>(size), nullptr};
    unsigned char* fromMemory = LoadArchive(memory);
    bool magic = size >= 4 && memcmp(data, "KT2", 4) == 0;
    FuzzCheck((fromFile != nullptr) == (magic && fromMemory != nullptr),
              "the file and memory routes disagree about loading");
    if (fromFile) {
        FuzzCheck(DirectoryBytes(fromFile) == DirectoryBytes(fromMemory) &&
                      memcmp(fromFile, fromMemory, DirectoryBytes(fromFile)) == 0,
                  "the file and memory routes load different directories");
    }
    if (fromMemory) GlobalFree(fromMemory);
}

const ArchiveEntry* Record(uint32_t index) {
    return reinterpret_cast<const ArchiveEntry*>(Updater.ArchiveDirectory + ArchiveHeaderSize) + index;
}

// The record that a lookup of a file's content by name finds: the first of that name without regard to
// case that is not a patch.
const ArchiveEntry* FirstRecordNamed(const char* name) {
    for (uint32_t i = 0;; ++i) {
        if (!(Record(i)->flags & ArchiveEntryPatch) && lstrcmpiA(Record(i)->name, name) == 0)
            return Record(i);
    }
}

// The time of the entry that a lookup by name finds.
uint64_t EntryTime(const char* name) {
    const ArchiveEntry* found = FirstRecordNamed(name);
    return uint64_t(found->fileTime.dwHighDateTime) << 32 | found->fileTime.dwLowDateTime;
}

// Extracts the entry named by record index to its own file and checks the outcome against the content
// that FindEntryData hands out. Returns 1 when the target file is there afterwards.
int ExtractAndCheck(uint32_t index) {
    // The lookup may find an earlier record of the same name; names end inside their field once loaded.
    char name[ArchiveNameCapacity];
    memcpy(name, Record(index)->name, sizeof name);
    uint32_t size = 0;
    unsigned char* content = FindEntryData(name, &size);

    char fileName[16], target[32];
    FormatText(fileName, sizeof fileName, "E%03u", index);
    FormatText(target, sizeof target, "%c:\\%s", ScratchDrive, fileName);
    const char* host = ScratchHostPath(fileName);
    bool overOld = index % 2 == 1;
    int checkTime = index % 4 == 3;
    if (overOld) {
        WriteScratchFile(fileName, OldContent, sizeof OldContent);
        FILETIME oldTime = {static_cast<DWORD>(OldTime), static_cast<DWORD>(OldTime >> 32)};
        FuzzCheck(StampFileTimes(target, &oldTime), "the old file's time cannot be set");
        SetFileAttributesA(target, FILE_ATTRIBUTE_READONLY);
    }

    int extracted = ExtractEntry(target, name, checkTime);
    bool exists;
    std::vector<unsigned char> written = ReadHostFile(host, &exists);
    if (!content) {
        FuzzCheck(!extracted, "an entry without content was extracted");
    } else if (size > FreeBytes) {
        FuzzCheck(!extracted, "an entry larger than the free space was extracted");
    } else if (checkTime && EntryTime(name) < OldTime) {
        FuzzCheck(extracted, "a kept old file counted as a failure");
        FuzzCheck(exists && written.size() == sizeof OldContent &&
                      memcmp(written.data(), OldContent, sizeof OldContent) == 0 &&
                      HostWriteTime(host) == OldTime,
                  "the time rule did not keep the later old file whole");
        FuzzCheck(!(GetFileAttributesA(target) & FILE_ATTRIBUTE_READONLY),
                  "a kept old file stayed read-only");
    } else {
        FuzzCheck(extracted, "an entry with content was not extracted");
        FuzzCheck(exists && written.size() == size &&
                      (size == 0 || memcmp(written.data(), content, size) == 0),
                  "the extracted file differs from the entry's content");
        FuzzCheck(HostWriteTime(host) == EntryTime(name),
                  "the extracted file does not carry the entry's time");
    }
    if (!extracted && overOld) {
        FuzzCheck(exists && written.size() == sizeof OldContent &&
                      memcmp(written.data(), OldContent, sizeof OldContent) == 0,
                  "a failed extraction damaged the old file");
    }
    if (!extracted && !overOld) FuzzCheck(!exists, "a failed extraction left a file");
    if (content && ArchiveDataIsOwned(content)) GlobalFree(content);
    return extracted || overOld;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    ResetScratchWorld();
    Standin::SetFreeSpace(ScratchDrive, FreeBytes);
    WriteScratchFile(ArchiveName, data, size);

    char path[32];
    FormatText(path, sizeof path, "%c:\\%s", ScratchDrive, ArchiveName);
    ArchiveSource file = {nullptr, 0, path};
    Updater.ArchiveDirectory = LoadArchive(file);
    CompareRoutes(Updater.ArchiveDirectory, data, size);

    if (Updater.ArchiveDirectory) {
        // The entries' data come from the image, as in the updater, which holds the resource in memory.
        Updater.ArchiveImage = data;
        Updater.ArchiveImageSize = static_cast<DWORD>(size);
        ArchiveHeader header;
        memcpy(&header, Updater.ArchiveDirectory, sizeof header);
        int files = 0;
        for (uint32_t i = 0; i < header.entryCount && i < EntriesTried; ++i)
            files += ExtractAndCheck(i);
        const char* const keep[] = {ArchiveName, nullptr};
        FuzzCheck(EmptyScratch(keep) == files, "extraction left a file behind that it did not report");
        GlobalFree(Updater.ArchiveDirectory);
        Updater.ArchiveDirectory = nullptr;
    }
    return 0;
}
