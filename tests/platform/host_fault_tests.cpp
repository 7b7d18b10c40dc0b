// The host layer's fault seam (platform/standin/host_hooks.h) through the tests' fault script
// (tests/fakes/fault_script.h): every kind of host call, failed at its first occurrence, gives Windows'
// failure value and the script's code, leaves the disk and the open descriptors as they were (a close
// still closes), and the same call after it runs; counting, tracing and failing by number hold for a small
// sequence of calls; the refused move and the durability counts keep their meaning.
#include "tests/fakes/fault_script.h"
#include "tests/fakes/script.h"
#include "tests/fakes/shell_script.h"
#include "platform/win32.h"

#include <doctest/doctest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const DWORD InjectedError = 1117; // ERROR_IO_DEVICE: no call of the host layer gives it by itself

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    return remove(path);
}

// Drive F: mapped to a fresh host folder holding a.txt ("abc"), d.txt, m.txt, w.txt (empty) and the empty
// folder "empty"; handles and searches that a case needs, opened before the failed call.
struct Fixture {
    char host[64];
    HANDLE reader = INVALID_HANDLE_VALUE;
    HANDLE writers[2] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
    HANDLE searches[2] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
    WIN32_FIND_DATAA found;

    Fixture() {
        Standin::ResetAll();
        CopyTestText(host, "/tmp/host-fault-tests.XXXXXX");
        REQUIRE(mkdtemp(host) != nullptr);
        Standin::SetDrive('F', host, DRIVE_FIXED);
        Standin::SetTempPath(host);
        Put("a.txt", "abc");
        Put("d.txt", "d");
        Put("m.txt", "m");
        Put("w.txt", "");
        REQUIRE(CreateDirectoryA("F:\\empty", nullptr));
        reader = CreateFileA("F:\\a.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        for (HANDLE& writer : writers) {
            writer = CreateFileA("F:\\w.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        }
        for (HANDLE& search : searches)
            search = FindFirstFileA("F:\\*", &found);
        REQUIRE(reader != INVALID_HANDLE_VALUE);
        REQUIRE(writers[1] != INVALID_HANDLE_VALUE);
        REQUIRE(searches[1] != INVALID_HANDLE_VALUE);
    }
    ~Fixture() {
        Standin::ResetAll();
        if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
        for (HANDLE writer : writers)
            if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
        for (HANDLE search : searches)
            if (search != INVALID_HANDLE_VALUE) FindClose(search);
        nftw(host, RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    }
    static void CopyTestText(char* destination, const char* text) {
        memcpy(destination, text, strlen(text) + 1);
    }
    void Put(const char* name, const char* content) {
        std::string path = std::string(host) + "/" + name;
        FILE* file = fopen(path.c_str(), "wb");
        REQUIRE(file != nullptr);
        fputs(content, file);
        fclose(file);
    }
};

// Every entry below a host folder: name, mode, size, last-write time and content.
void Describe(const std::string& folder, const std::string& prefix, std::vector<std::string>& lines) {
    DIR* listing = opendir(folder.c_str());
    if (!listing) return;
    while (struct dirent* entry = readdir(listing)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        std::string path = folder + "/" + name;
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) continue;
        std::string line = prefix + name + " " + std::to_string(info.st_mode) + " " +
                           std::to_string(info.st_size) + " " + std::to_string(info.st_mtim.tv_sec) + "." +
                           std::to_string(info.st_mtim.tv_nsec);
        if (S_ISREG(info.st_mode)) {
            FILE* file = fopen(path.c_str(), "rb");
            char content[64] = {0};
            if (file) {
                size_t got = fread(content, 1, sizeof content - 1, file);
                content[got] = '\0';
                fclose(file);
            }
            line += std::string(" ") + content;
        }
        lines.push_back(line);
        if (S_ISDIR(info.st_mode)) Describe(path, prefix + name + "/", lines);
    }
    closedir(listing);
}

std::string DiskOf(const Fixture& f) {
    std::vector<std::string> lines;
    Describe(f.host, "", lines);
    std::sort(lines.begin(), lines.end());
    std::string all;
    for (const std::string& line : lines)
        all += line + "\n";
    return all;
}

int OpenDescriptors() {
    int count = 0;
    DIR* listing = opendir("/proc/self/fd");
    if (!listing) return -1;
    while (struct dirent* entry = readdir(listing))
        count += entry->d_name[0] != '.';
    closedir(listing);
    return count;
}

// One kind of call, made twice: attempt 0 (failed by the script) and attempt 1 (let run). call gives
// whether the result was Windows' failure value for the call.
struct KindCase {
    Standin::HostCallKind kind;
    bool (*call)(Fixture& f, int attempt);
    bool changesDisk;    // the call that runs changes what DiskOf sees
    int closedOnFailure; // descriptors the failed call still releases
    int calls;           // host calls of both attempts: 2, unless a case makes more to check or tidy up
};

const FILETIME OldTime = {0x256D4000u, 0x01BF53EBu}; // 2000-01-01

const KindCase cases[] = {
    {Standin::HostCreateFile,
     [](Fixture&, int) {
         HANDLE file = CreateFileA("F:\\new.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
         if (file == INVALID_HANDLE_VALUE) return true;
         CloseHandle(file);
         return false;
     },
     true, 0, 3},
    {Standin::HostReadFile,
     [](Fixture& f, int attempt) {
         char buffer[8] = {0};
         DWORD read = 99;
         BOOL done = ReadFile(f.reader, buffer, 3, &read, nullptr);
         if (attempt == 0) return !done && read == 0;
         // The failed read did not move the file pointer.
         CHECK(std::string(buffer, read) == "abc");
         return !done;
     },
     false, 0, 2},
    {Standin::HostWriteFile,
     [](Fixture& f, int attempt) {
         DWORD written = 99;
         BOOL done = WriteFile(f.writers[0], "xyz", 3, &written, nullptr);
         if (attempt == 0) return !done && written == 0;
         return !done;
     },
     true, 0, 2},
    {Standin::HostFlushFile,
     [](Fixture& f, int attempt) {
         int before = Standin::Durability().flushes;
         BOOL done = FlushFileBuffers(f.writers[0]);
         CHECK(Standin::Durability().flushes == before + attempt);
         return !done;
     },
     false, 0, 2},
    {Standin::HostCloseHandle,
     [](Fixture& f, int attempt) {
         BOOL done = CloseHandle(f.writers[attempt]);
         f.writers[attempt] = INVALID_HANDLE_VALUE; // closed either way
         return !done;
     },
     false, 1, 2},
    {Standin::HostSetFilePointer,
     [](Fixture& f, int) {
         // From where the pointer is: 1 after the run call only when the failed one did not move it.
         DWORD position = SetFilePointer(f.reader, 1, nullptr, FILE_CURRENT);
         if (position != INVALID_SET_FILE_POINTER) CHECK(position == 1);
         return position == INVALID_SET_FILE_POINTER;
     },
     false, 0, 2},
    {Standin::HostGetFileSize,
     [](Fixture& f, int attempt) {
         DWORD high = 99;
         DWORD size = GetFileSize(f.reader, &high);
         if (attempt == 1) CHECK((size == 3 && high == 0));
         return size == INVALID_FILE_SIZE;
     },
     false, 0, 2},
    {Standin::HostGetFileTime,
     [](Fixture& f, int) {
         FILETIME write;
         return !GetFileTime(f.reader, nullptr, nullptr, &write);
     },
     false, 0, 2},
    {Standin::HostSetFileTime,
     [](Fixture& f, int) { return !SetFileTime(f.writers[0], nullptr, nullptr, &OldTime); }, true, 0, 2},
    {Standin::HostGetAttributes,
     [](Fixture&, int attempt) {
         DWORD attributes = GetFileAttributesA("F:\\a.txt");
         if (attempt == 1) CHECK(attributes == FILE_ATTRIBUTE_ARCHIVE);
         return attributes == INVALID_FILE_ATTRIBUTES;
     },
     false, 0, 2},
    {Standin::HostSetAttributes,
     [](Fixture&, int) { return !SetFileAttributesA("F:\\a.txt", FILE_ATTRIBUTE_READONLY); }, true, 0, 2},
    {Standin::HostCreateFolder, [](Fixture&, int) { return !CreateDirectoryA("F:\\made", nullptr); }, true, 0,
     2},
    {Standin::HostRemoveFolder, [](Fixture&, int) { return !RemoveDirectoryA("F:\\empty"); }, true, 0, 2},
    {Standin::HostDeleteFile, [](Fixture&, int) { return !DeleteFileA("F:\\d.txt"); }, true, 0, 2},
    {Standin::HostMoveFile,
     [](Fixture&, int attempt) {
         int before = Standin::Durability().writeThroughMoves;
         BOOL done =
             MoveFileExA("F:\\m.txt", "F:\\moved.txt", MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
         CHECK(Standin::Durability().writeThroughMoves == before + attempt);
         return !done;
     },
     true, 0, 2},
    {Standin::HostFindFirst,
     [](Fixture&, int) {
         WIN32_FIND_DATAA found;
         HANDLE search = FindFirstFileA("F:\\empty\\*", &found);
         if (search == INVALID_HANDLE_VALUE) return true;
         FindClose(search);
         return false;
     },
     false, 0, 3},
    {Standin::HostFindNext,
     [](Fixture& f, int attempt) {
         BOOL done = FindNextFileA(f.searches[0], &f.found);
         if (attempt == 1 && done) {
             // The failed step lost no entry: the listing ends after its 7 entries ("." and ".." among
             // them), with ERROR_NO_MORE_FILES.
             int entries = 2;
             while (FindNextFileA(f.searches[0], &f.found))
                 ++entries;
             CHECK(GetLastError() == ERROR_NO_MORE_FILES);
             CHECK(entries == 7);
         }
         return !done;
     },
     false, 0, 8},
    {Standin::HostFindClose,
     [](Fixture& f, int attempt) {
         BOOL done = FindClose(f.searches[attempt]);
         f.searches[attempt] = INVALID_HANDLE_VALUE; // ended either way
         return !done;
     },
     false, 1, 2},
    {Standin::HostDiskFreeSpace,
     [](Fixture&, int) {
         DWORD sectors = 0, bytes = 0, freeClusters = 0, total = 0;
         return !GetDiskFreeSpaceA("F:\\", &sectors, &bytes, &freeClusters, &total);
     },
     false, 0, 2},
    {Standin::HostDiskFreeSpaceEx,
     [](Fixture&, int) {
         typedef BOOL(WINAPI * Query)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
         Query query = reinterpret_cast<Query>(reinterpret_cast<void*>(
             GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetDiskFreeSpaceExA")));
         REQUIRE(static_cast<bool>(query));
         ULARGE_INTEGER freeBytes;
         return !query("F:\\", &freeBytes, nullptr, nullptr);
     },
     false, 0, 2},
    {Standin::HostGlobalAlloc,
     [](Fixture&, int) {
         HGLOBAL block = GlobalAlloc(GPTR, 16);
         GlobalFree(block);
         return block == nullptr;
     },
     false, 0, 2},
    {Standin::HostTempPath,
     [](Fixture&, int) {
         char folder[MAX_PATH];
         return GetTempPathA(sizeof folder, folder) == 0;
     },
     false, 0, 2},
    {Standin::HostTempFileName,
     [](Fixture&, int) {
         char name[MAX_PATH];
         return GetTempFileNameA("F:\\", "upd", 0, name) == 0;
     },
     true, 0, 2},
    {Standin::HostShellCopy,
     [](Fixture&, int attempt) {
         SHFILEOPSTRUCTA operation;
         memset(&operation, 0, sizeof operation);
         operation.wFunc = FO_COPY;
         operation.pFrom = "F:\\a.txt\0";
         operation.pTo = "F:\\copy.txt\0";
         operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
         int result = SHFileOperationA(&operation);
         if (attempt == 0) CHECK(result == static_cast<int>(InjectedError));
         return result != 0;
     },
     true, 0, 2},
};

} // namespace

TEST_CASE("every kind of host call fails at the script's word as Windows fails it, and runs after it") {
    // Every kind has its case.
    REQUIRE(sizeof cases / sizeof cases[0] == Standin::HostCallKindCount);
    for (const KindCase& c : cases) {
        std::string call = Standin::HostCallName(c.kind);
        CAPTURE(call);
        Fixture f;
        std::string disk = DiskOf(f);
        int descriptors = OpenDescriptors();
        Standin::FaultScript script;
        script.failAt = {1};
        script.kinds = {c.kind};
        script.error = InjectedError;
        Standin::StartCounting(script);

        CHECK(c.call(f, 0));
        CHECK(GetLastError() == InjectedError);
        REQUIRE(Standin::FailedCalls().size() == 1);
        CHECK(Standin::FailedCalls()[0].kind == c.kind);
        CHECK(DiskOf(f) == disk);
        CHECK(OpenDescriptors() == descriptors - c.closedOnFailure);

        CHECK_FALSE(c.call(f, 1));
        CHECK(Standin::FailedCalls().size() == 1);
        CHECK(Standin::CountedCalls() == c.calls);
        CHECK((DiskOf(f) != disk) == c.changesDisk);
        Standin::StopCounting();
    }
}

namespace {

// A small sequence of seven calls on F: and one on G:; false when one of them gave its failure value.
bool RunSequence() {
    bool ran = true;
    HANDLE file = CreateFileA("F:\\s.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ran = ran && file != INVALID_HANDLE_VALUE;
    DWORD written = 0;
    ran = WriteFile(file, "s", 1, &written, nullptr) && ran;
    ran = FlushFileBuffers(file) && ran;
    ran = CloseHandle(file) && ran;
    ran = GetFileAttributesA("G:\\") != INVALID_FILE_ATTRIBUTES && ran;
    ran = MoveFileExA("F:\\s.txt", "F:\\t.txt", MOVEFILE_WRITE_THROUGH) && ran;
    HGLOBAL block = GlobalAlloc(GPTR, 4);
    ran = block != nullptr && ran;
    GlobalFree(block);
    ran = DeleteFileA("F:\\t.txt") && ran;
    return ran;
}

const Standin::HostCallKind SequenceKinds[] = {
    Standin::HostCreateFile,    Standin::HostWriteFile, Standin::HostFlushFile,   Standin::HostCloseHandle,
    Standin::HostGetAttributes, Standin::HostMoveFile,  Standin::HostGlobalAlloc, Standin::HostDeleteFile,
};
const int SequenceLength = sizeof SequenceKinds / sizeof SequenceKinds[0];

struct SequenceFixture : Fixture {
    char other[64];
    SequenceFixture() {
        CopyTestText(other, "/tmp/host-fault-tests.XXXXXX");
        REQUIRE(mkdtemp(other) != nullptr);
        Standin::SetDrive('G', other, DRIVE_FIXED);
    }
    ~SequenceFixture() { rmdir(other); }
};

} // namespace

TEST_CASE("counting gives the calls of a sequence, in order, with their paths") {
    SequenceFixture f;
    GetFileAttributesA("F:\\a.txt"); // before counting: not counted
    Standin::FaultScript script;
    script.trace = true;
    Standin::StartCounting(script);
    CHECK(RunSequence());
    Standin::StopCounting();
    GetFileAttributesA("F:\\a.txt"); // after: not counted

    CHECK(Standin::CountedCalls() == SequenceLength);
    CHECK(Standin::CountedCalls(Standin::HostGetAttributes) == 1);
    CHECK(Standin::CountedCalls(Standin::HostReadFile) == 0);
    CHECK(Standin::FailedCalls().empty());
    const std::vector<Standin::CountedCall>& traced = Standin::TracedCalls();
    REQUIRE(traced.size() == static_cast<size_t>(SequenceLength));
    for (int i = 0; i < SequenceLength; ++i) {
        CHECK(traced[i].ordinal == i + 1);
        CHECK(traced[i].kind == SequenceKinds[i]);
        CHECK(traced[i].error == 0);
    }
    CHECK(traced[1].path == "F:\\s.txt"); // a handle's call names the handle's file
    CHECK(traced[3].path == "F:\\s.txt");
    CHECK(Standin::DescribeCall(traced[5]) == "call 6 (MoveFileExA F:\\s.txt F:\\t.txt)");
    CHECK(traced[5].flags == MOVEFILE_WRITE_THROUGH);
    CHECK(Standin::DescribeCall(traced[6]) == "call 7 (GlobalAlloc)");

    SUBCASE("only below given folders, and calls without a path") {
        script.below = {"F:\\"};
        Standin::StartCounting(script);
        CHECK(RunSequence());
        Standin::StopCounting();
        CHECK(Standin::CountedCalls() == SequenceLength - 1); // not G:'s attributes
        CHECK(Standin::CountedCalls(Standin::HostGetAttributes) == 0);
        CHECK(Standin::CountedCalls(Standin::HostGlobalAlloc) == 1);

        script.below = {f.other};
        Standin::StartCounting(script);
        CHECK(RunSequence());
        Standin::StopCounting();
        CHECK(Standin::CountedCalls() == 2); // G:'s attributes, and the allocation
    }
}

TEST_CASE("failing call N fails exactly the Nth call, and N and N + 1 exactly those two") {
    for (int n = 1; n <= SequenceLength; ++n) {
        for (int also : {0, 1}) {
            if (n + also > SequenceLength) continue;
            CAPTURE(n);
            CAPTURE(also);
            SequenceFixture f;
            Standin::FaultScript script;
            script.failAt = also ? std::vector<int>{n, n + 1} : std::vector<int>{n};
            script.trace = true;
            Standin::StartCounting(script);
            CHECK_FALSE(RunSequence());
            Standin::StopCounting();
            CHECK(Standin::CountedCalls() == SequenceLength);
            const std::vector<Standin::CountedCall>& failed = Standin::FailedCalls();
            REQUIRE(failed.size() == static_cast<size_t>(1 + also));
            for (int i = 0; i <= also; ++i) {
                CHECK(failed[i].ordinal == n + i);
                CHECK(failed[i].kind == SequenceKinds[n + i - 1]);
            }
            for (const Standin::CountedCall& call : Standin::TracedCalls())
                CHECK((call.error != 0) == (call.ordinal == n || (also && call.ordinal == n + 1)));
        }
    }
}

TEST_CASE("failing by number among calls of given kinds") {
    Fixture f;
    Standin::FaultScript script;
    script.failAt = {2};
    script.kinds = {Standin::HostGetAttributes, Standin::HostDeleteFile};
    Standin::StartCounting(script);
    CHECK(GetFileAttributesA("F:\\a.txt") != INVALID_FILE_ATTRIBUTES);
    CHECK(CreateDirectoryA("F:\\x", nullptr));
    CHECK_FALSE(DeleteFileA("F:\\d.txt"));
    CHECK(GetFileAttributesA("F:\\d.txt") != INVALID_FILE_ATTRIBUTES);
    Standin::StopCounting();
    REQUIRE(Standin::FailedCalls().size() == 1);
    CHECK(Standin::DescribeCall(Standin::FailedCalls()[0]) == "call 3 (DeleteFileA F:\\d.txt)");
}

TEST_CASE("a refused move is refused after the given number of moves, with a sharing violation") {
    Fixture f;
    Standin::RefuseMoveAfter(1);
    CHECK(MoveFileExA("F:\\m.txt", "F:\\m2.txt", 0));
    CHECK_FALSE(MoveFileExA("F:\\m2.txt", "F:\\m3.txt", 0));
    CHECK(GetLastError() == 32);
    CHECK(GetFileAttributesA("F:\\m2.txt") != INVALID_FILE_ATTRIBUTES);
    CHECK(MoveFileExA("F:\\m2.txt", "F:\\m3.txt", 0));
    Standin::RefuseMoveAfter(0);
    Standin::RefuseMoveAfter(-1);
    CHECK(MoveFileExA("F:\\m3.txt", "F:\\m4.txt", 0));
}

TEST_CASE("the durability counts: flushes, closes with writes never flushed, moves written through") {
    Fixture f;
    HANDLE file = CreateFileA("F:\\u.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, "u", 1, &written, nullptr);
    CHECK(CloseHandle(file));
    file = CreateFileA("F:\\v.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    WriteFile(file, "v", 1, &written, nullptr);
    CHECK(FlushFileBuffers(file));
    CHECK(CloseHandle(file));
    CHECK_FALSE(FlushFileBuffers(f.reader)); // not open for writing: no flush counted
    CHECK(MoveFileExA("F:\\v.txt", "F:\\v2.txt", MOVEFILE_WRITE_THROUGH));
    CHECK(MoveFileExA("F:\\v2.txt", "F:\\v3.txt", 0));
    CHECK_FALSE(MoveFileExA("F:\\absent.txt", "F:\\v4.txt", MOVEFILE_WRITE_THROUGH));
    CHECK(Standin::Durability().flushes == 1);
    CHECK(Standin::Durability().unflushedCloses == 1);
    CHECK(Standin::Durability().writeThroughMoves == 1);
    Standin::ResetAll();
    CHECK(Standin::Durability().flushes == 0);
}
