// The marks beside which benchmarks/update-benchmark.sh shows the updater's time, measured under the same
// Wine and in the same prefix as the updater:
//   update_floor floor UPDATER FOLDER   decodes every entry of the updater's "UPDATE" resource (this
//                                       program's decoder is built -O2, the benchmark's speed) and writes
//                                       each into a fresh file of FOLDER, flushed before it is closed, as
//                                       the updater's writes are: the work no update can skip
//   update_floor steps UPDATER FOLDER   the updater's own steps for each entry, each timed on its own:
//                                       free-space query, decoding, a temporary file beside the target
//                                       (written, flushed), the replacing move (written through), the
//                                       time stamps; FOLDER already holds the targets, as in an update
//   update_floor copy FOLDER FILE...    copies the files into FOLDER (CopyFileA, no flush)
//   update_floor check UPDATER          the updater's check of its own file before the run
//                                       (app/program_check.h), over the file opened as it opens it
//   update_floor apply UPDATER OLD NEW  each patch entry of the updater's archive applied by ApplyPatch to
//                                       the file of its name in OLD, into NEW (flushed, as the updater's
//                                       prepared files are); then the digest alone over each result, read
//                                       into memory first (benchmarks/patch-wine-benchmark.sh)
// Prints one line "NAME: S.SSS s (...)" with the seconds taken (apply: one for each patch); status 0, or 1
// after a message. The decoders and the digest are built -O2 here, and -Os in update_floor_os (the
// size-optimised program's way).
#include "app/program_check.h"
#include "archive/content_digest.h"
#include "archive/patch_decoder.h"
#include "archive/stream_decoder.h"
#include "context/archive_format.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

double Now() {
    static LARGE_INTEGER origin = [] {
        LARGE_INTEGER at;
        QueryPerformanceCounter(&at);
        return at;
    }();
    LARGE_INTEGER at;
    QueryPerformanceCounter(&at);
    return Seconds(origin, at);
}

int Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "update_floor: %s %s (error %lu)\n", what, detail.c_str(), GetLastError());
    return 1;
}

std::string BaseName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '\\' || *p == '/') name = p + 1;
    return name;
}

int Copy(const char* folder, int count, char** files) {
    double start = Now();
    for (int i = 0; i < count; ++i) {
        std::string target = std::string(folder) + "\\" + BaseName(files[i]);
        if (!CopyFileA(files[i], target.c_str(), FALSE)) return Fail("cannot copy", files[i]);
    }
    std::printf("copy: %.3f s (%d files)\n", Now() - start, count);
    return 0;
}

int WriteFlushed(const std::string& path, const unsigned char* data, uint32_t size) {
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    BOOL ok = WriteFile(file, data, size, &written, nullptr) && written == size && FlushFileBuffers(file);
    return CloseHandle(file) && ok;
}

enum Step { FreeSpace, Decode, TemporaryName, Write, Flush, Move, Stamp, StepCount };
const char* const StepNames[StepCount] = {"free space", "decode", "temporary name", "write",
                                          "flush",      "move",   "time stamps"};

// The updater's steps for one entry, each one's seconds added to spent. 1 or 0.
int UpdaterSteps(const std::string& target, const ArchiveEntry& entry, const unsigned char* data,
                 int compressed, double* spent) {
    double at = Now();
    auto lap = [&](Step step) {
        double now = Now();
        spent[step] += now - at;
        at = now;
    };
    ULARGE_INTEGER freeToCaller, total, totalFree;
    if (!GetDiskFreeSpaceExA(target.substr(0, 2).c_str(), &freeToCaller, &total, &totalFree)) return 0;
    lap(FreeSpace);
    unsigned char* buffer = nullptr;
    if (compressed) {
        buffer = static_cast<unsigned char*>(GlobalAlloc(GMEM_FIXED, entry.size ? entry.size : 1));
        if (!buffer || !DecompressBlock(buffer, entry.size, data, entry.storedSize, nullptr)) return 0;
        data = buffer;
    }
    lap(Decode);
    std::string temporary = target + ".~up0";
    if (GetFileAttributesA(temporary.c_str()) != INVALID_FILE_ATTRIBUTES) return 0;
    GetFileAttributesA(target.c_str());
    lap(TemporaryName);
    HANDLE file =
        CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (file == INVALID_HANDLE_VALUE || !WriteFile(file, data, entry.size, &written, nullptr)) return 0;
    lap(Write);
    if (!FlushFileBuffers(file) || !CloseHandle(file)) return 0;
    if (buffer) GlobalFree(buffer);
    lap(Flush);
    if (!MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    lap(Move);
    file =
        CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE ||
        !SetFileTime(file, &entry.fileTime, &entry.fileTime, &entry.fileTime) || !CloseHandle(file))
        return 0;
    lap(Stamp);
    return 1;
}

// The archive of an updater's "UPDATE" resource: its image (in the module, loaded as data) and its
// directory, decompressed.
struct LoadedArchive {
    HMODULE module = nullptr;
    const unsigned char* image = nullptr;
    uint32_t imageSize = 0;
    ArchiveHeader header = {};
    std::string directory;
    ~LoadedArchive() {
        if (module) FreeLibrary(module);
    }
};

int LoadUpdaterArchive(const char* updater, LoadedArchive& archive) {
    archive.module = LoadLibraryExA(updater, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!archive.module) return Fail("cannot load", updater);
    HRSRC resource = FindResourceA(archive.module, MAKEINTRESOURCEA(102), "UPDATE");
    HGLOBAL loaded = resource ? LoadResource(archive.module, resource) : nullptr;
    archive.image = loaded ? static_cast<const unsigned char*>(LockResource(loaded)) : nullptr;
    archive.imageSize = resource ? SizeofResource(archive.module, resource) : 0;
    ArchiveHeader& header = archive.header;
    if (!archive.image || archive.imageSize < sizeof header) return Fail("no archive resource in", updater);
    std::memcpy(&header, archive.image, sizeof header);
    if (header.directoryOffset > archive.imageSize || header.entryCount > (1u << 20))
        return Fail("damaged archive in", updater);
    std::string& directory = archive.directory;
    directory.assign(size_t(header.entryCount) * ArchiveEntrySize, '\0');
    const unsigned char* stored = archive.image + header.directoryOffset;
    uint32_t storedLength = archive.imageSize - header.directoryOffset;
    if (header.flags & ArchiveDirectoryCompressed) {
        if (!DecompressBlock(reinterpret_cast<unsigned char*>(&directory[0]), uint32_t(directory.size()),
                             stored, storedLength, nullptr))
            return Fail("damaged directory in", updater);
    } else {
        if (directory.size() > storedLength) return Fail("damaged directory in", updater);
        std::memcpy(&directory[0], stored, directory.size());
    }
    return 0;
}

// The entry at index and where its data lie in the image; null when they do not lie before the directory.
const unsigned char* EntryAt(const LoadedArchive& archive, uint32_t index, uint64_t* offset,
                             ArchiveEntry* entry) {
    std::memcpy(entry, archive.directory.data() + size_t(index) * ArchiveEntrySize, sizeof *entry);
    entry->name[ArchiveNameCapacity - 1] = '\0';
    // A compressed entry and a patch take their stored size; an entry stored as is its size.
    int stored = !(entry->flags & (ArchiveEntryCompressed | ArchiveEntryPatch));
    uint64_t extent = stored ? entry->size : entry->storedSize;
    if (*offset + extent > archive.header.directoryOffset) return nullptr;
    const unsigned char* data = archive.image + *offset;
    *offset += (uint64_t(entry->storedSize) + 15) & ~uint64_t(15);
    return data;
}

int Floor(const char* updater, const char* folder, int steps) {
    LoadedArchive archive;
    if (LoadUpdaterArchive(updater, archive)) return 1;
    const ArchiveHeader& header = archive.header;

    double decoding = 0, writing = 0;
    double spent[StepCount] = {};
    uint64_t bytes = 0;
    uint64_t offset = ArchiveHeaderSize;
    for (uint32_t i = 0; i < header.entryCount; ++i) {
        ArchiveEntry entry;
        const unsigned char* data = EntryAt(archive, i, &offset, &entry);
        if (!data) return Fail("damaged entry", entry.name);
        if (entry.flags & ArchiveEntryPatch) continue; // a whole file's floor: "apply" times patches
        int compressed = (entry.flags & ArchiveEntryCompressed) != 0;

        std::string target = std::string(folder) + "\\" + entry.name;
        if (steps) {
            if (!UpdaterSteps(target, entry, data, compressed, spent)) return Fail("cannot update", target);
            bytes += entry.size;
            continue;
        }
        double start = Now();
        unsigned char* buffer = nullptr;
        if (compressed) {
            buffer = static_cast<unsigned char*>(GlobalAlloc(GMEM_FIXED, entry.size ? entry.size : 1));
            if (!buffer) return Fail("no memory for", entry.name);
            if (!DecompressBlock(buffer, entry.size, data, entry.storedSize, nullptr))
                return Fail("damaged stream of", entry.name);
            data = buffer;
        }
        double decoded = Now();
        if (!WriteFlushed(target, data, entry.size)) return Fail("cannot write", target);
        if (buffer) GlobalFree(buffer);
        double done = Now();
        decoding += decoded - start;
        writing += done - decoded;
        bytes += entry.size;
    }
    if (steps) {
        double total = 0;
        for (double seconds : spent)
            total += seconds;
        std::printf("steps: %.3f s (", total);
        for (int step = 0; step < StepCount; ++step)
            std::printf("%s%s %.3f s", step ? "; " : "", StepNames[step], spent[step]);
        std::printf(")\n");
        return 0;
    }
    std::printf("floor: %.3f s (decode %.3f s, %.0f MB/s; write and flush %.3f s; %u entries, %llu bytes)\n",
                decoding + writing, decoding, decoding > 0 ? double(bytes) / 1e6 / decoding : 0.0, writing,
                header.entryCount, static_cast<unsigned long long>(bytes));
    return 0;
}

int ApplyPatches(const char* updater, const char* oldFolder, const char* newFolder) {
    LoadedArchive archive;
    if (LoadUpdaterArchive(updater, archive)) return 1;
    uint64_t offset = ArchiveHeaderSize;
    for (uint32_t i = 0; i < archive.header.entryCount; ++i) {
        ArchiveEntry entry;
        const unsigned char* patch = EntryAt(archive, i, &offset, &entry);
        if (!patch) return Fail("damaged entry", entry.name);
        if (!(entry.flags & ArchiveEntryPatch)) continue;
        std::string base = std::string(oldFolder) + "\\" + entry.name;
        std::string result = std::string(newFolder) + "\\" + entry.name;
        double start = Now();
        PatchFault fault = PatchSound;
        if (!ApplyPatch(base.c_str(), patch, entry.storedSize, result.c_str(), &fault))
            return Fail("cannot apply the patch of",
                        entry.name + std::string(" (fault ") + std::to_string(fault) + ")");
        double applied = Now() - start;
        // The digest alone, over the same bytes as the application digests (the result), from memory.
        HANDLE file = CreateFileA(result.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        std::string bytes(entry.size, '\0');
        DWORD read = 0;
        int whole = file != INVALID_HANDLE_VALUE && ReadFile(file, &bytes[0], entry.size, &read, nullptr) &&
                    read == entry.size;
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        if (!whole) return Fail("cannot read", result);
        start = Now();
        uint64_t digest = DigestOf(bytes.data(), entry.size);
        double digested = Now() - start;
        std::printf(
            "apply: %.3f s (%s: %u bytes from a patch of %u, %.0f MB/s; digest alone %.3f s, %.0f MB/s, "
            "%.1f %% of the application; digest %016llx)\n",
            applied, entry.name, entry.size, entry.storedSize, applied > 0 ? entry.size / 1e6 / applied : 0.0,
            digested, digested > 0 ? entry.size / 1e6 / digested : 0.0,
            applied > 0 ? 100 * digested / applied : 0.0, static_cast<unsigned long long>(digest));
    }
    return 0;
}

int Check(const char* updater) {
    double start = Now();
    HANDLE file = CreateFileA(updater, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail("cannot open", updater);
    ProgramCheck check;
    int whole = CheckProgramFile(file, &check);
    CloseHandle(file);
    double seconds = Now() - start;
    std::printf("check: %.3f s (%s, %u bytes, %.0f MB/s)\n", seconds, whole ? "whole" : "damaged",
                check.fileSize, seconds > 0 ? check.fileSize / 1e6 / seconds : 0.0);
    return whole ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "check") == 0) return Check(argv[2]);
    if (argc >= 3 && std::strcmp(argv[1], "copy") == 0) return Copy(argv[2], argc - 3, argv + 3);
    if (argc == 4 && std::strcmp(argv[1], "floor") == 0) return Floor(argv[2], argv[3], 0);
    if (argc == 4 && std::strcmp(argv[1], "steps") == 0) return Floor(argv[2], argv[3], 1);
    if (argc == 5 && std::strcmp(argv[1], "apply") == 0) return ApplyPatches(argv[2], argv[3], argv[4]);
    std::fprintf(stderr,
                 "usage: update_floor floor|steps UPDATER FOLDER | copy FOLDER FILE... | check UPDATER | "
                 "apply UPDATER OLD NEW\n");
    return 2;
}
