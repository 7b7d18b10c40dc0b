// The host layer's files, folders and memory over the host file system. Drive letters map to host folders
// that tests choose; read-only is the absence of the owner's write bit, enforced here because root ignores
// it; file times are FILETIME values kept in the host's timestamps. Each call is announced to the fault
// seam's hooks (host_hooks.h) before it runs: the public functions at the end of this file do that around
// the work of the ones above them.
#include "platform/standin/host_files.h"
#include "platform/standin/standin_state.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

enum { PathCapacity = 1024 };

struct OpenFile {
    int descriptor;
    DWORD access;
    bool unflushed;          // written since the last FlushFileBuffers
    char path[PathCapacity]; // as CreateFileA was given it, for the hooks
};

Standin::DriveMapping drives[26];
const Standin::HostHooks* hooks = nullptr;
bool hasTempPath = false;
char tempPath[1024];
DWORD lastError = 0;
Standin::HostPathResolver pathResolver = nullptr;

bool IsLeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Appends path to out with "\" read as "/", stepping over double-byte characters whole.
int AppendConverted(char* out, size_t capacity, size_t used, const char* path) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(path); *p; ++p) {
        if (used + 2 >= capacity) return 0;
        if (IsLeadByte(*p) && p[1]) {
            out[used++] = static_cast<char>(*p++);
            out[used++] = static_cast<char>(*p);
            continue;
        }
        out[used++] = *p == '\\' ? '/' : static_cast<char>(*p);
    }
    out[used] = '\0';
    return 1;
}

FILETIME ToFileTime(const struct timespec& t) {
    uint64_t units = (static_cast<uint64_t>(t.tv_sec) + 11644473600ull) * 10000000ull +
                     static_cast<uint64_t>(t.tv_nsec) / 100;
    FILETIME result;
    result.dwLowDateTime = static_cast<DWORD>(units);
    result.dwHighDateTime = static_cast<DWORD>(units >> 32);
    return result;
}

struct timespec ToTimespec(const FILETIME& t) {
    uint64_t units = (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    struct timespec result;
    uint64_t seconds = units / 10000000ull;
    result.tv_sec = static_cast<time_t>(seconds) - static_cast<time_t>(11644473600ll);
    result.tv_nsec = static_cast<long>((units % 10000000ull) * 100);
    return result;
}

bool IsReadOnlyMode(mode_t mode) {
    return (mode & S_IWUSR) == 0;
}

BOOL Fail(DWORD error) {
    lastError = error;
    return FALSE;
}

} // namespace

namespace Standin {

DriveMapping* DriveOf(const char* path) {
    if (!path || !path[0] || path[1] != ':') return nullptr;
    char letter = path[0];
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z') return nullptr;
    return &drives[letter - 'A'];
}

BOOL FailWith(DWORD error) {
    return Fail(error);
}

void ResetFileSystem() {
    memset(drives, 0, sizeof drives);
    pathResolver = nullptr;
    hasTempPath = false;
    lastError = 0;
}

void SetDrive(char letter, const char* hostFolder, UINT driveType) {
    char name[3] = {letter, ':', 0};
    DriveMapping* drive = DriveOf(name);
    if (!drive) return;
    drive->mapped = true;
    drive->type = driveType;
    drive->hasFolder = hostFolder != nullptr;
    if (hostFolder) CopyHostText(drive->folder, sizeof drive->folder, hostFolder);
}

void RemoveDrive(char letter) {
    char name[3] = {letter, ':', 0};
    if (DriveMapping* drive = DriveOf(name)) memset(drive, 0, sizeof *drive);
}

void SetTempPath(const char* folder) {
    hasTempPath = folder != nullptr;
    if (folder) CopyHostText(tempPath, sizeof tempPath, folder);
}

int HostPath(const char* path, char* hostPath, size_t capacity) {
    if (capacity == 0) return 0;
    hostPath[0] = '\0';
    if (DriveMapping* drive = DriveOf(path)) {
        if (!drive->mapped || !drive->hasFolder) return 0;
        size_t used = strlen(drive->folder);
        if (used + 1 >= capacity) return 0;
        memcpy(hostPath, drive->folder, used + 1);
        if (!AppendConverted(hostPath, capacity, used, path + 2)) return 0;
        return pathResolver ? pathResolver(hostPath, capacity, used) : 1;
    }
    return AppendConverted(hostPath, capacity, 0, path);
}

void SetHostPathResolver(HostPathResolver resolver) {
    pathResolver = resolver;
}

void SetHostHooks(const HostHooks* newHooks) {
    hooks = newHooks;
}

DWORD BeforeHostCall(const HostCall& call) {
    DWORD error = hooks && hooks->before ? hooks->before(call) : 0;
    if (error) Fail(error);
    return error;
}

void AfterHostCall(const HostCall& call, bool succeeded) {
    if (hooks && hooks->after) hooks->after(call, succeeded);
}

int (*ShellCopyOfHooks())(LPSHFILEOPSTRUCTA) {
    return hooks ? hooks->shellCopy : nullptr;
}

void CopyHostText(char* destination, size_t capacity, const char* source) {
    size_t length = strnlen(source, capacity - 1);
    memcpy(destination, source, length);
    destination[length] = '\0';
}

} // namespace Standin

using Standin::HostCall;
using Standin::HostPath;

namespace {

// The work of each call, without the hooks. A host call that needs another (GetTempFileNameA making its
// file) uses these, so that it stays one call.

HANDLE OpenHostFile(LPCSTR path, DWORD access, DWORD disposition, DWORD attributes) {
    char host[2048];
    if (!HostPath(path, host, sizeof host)) {
        Fail(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    struct stat info;
    bool exists = stat(host, &info) == 0;
    // Nothing but a regular file is opened: a named pipe would wait for ever, a device never end (Windows
    // has neither in a folder). The open does not wait either, should the file be swapped in between.
    if (exists && !S_ISREG(info.st_mode)) {
        Fail(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (exists && (access & GENERIC_WRITE) && IsReadOnlyMode(info.st_mode)) {
        Fail(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    int flags = (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
    switch (disposition) {
    case CREATE_NEW:
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        break;
    case OPEN_EXISTING:
        break;
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        flags |= O_TRUNC;
        break;
    default:
        Fail(87);
        return INVALID_HANDLE_VALUE;
    }
    mode_t mode = (attributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0644;
    int descriptor = open(host, flags | O_NONBLOCK, mode);
    if (descriptor < 0) {
        Fail(errno == ENOENT   ? ERROR_FILE_NOT_FOUND
             : errno == EEXIST ? ERROR_FILE_EXISTS
                               : ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    OpenFile* file = static_cast<OpenFile*>(malloc(sizeof(OpenFile)));
    if (!file) {
        close(descriptor);
        Fail(8);
        return INVALID_HANDLE_VALUE;
    }
    file->descriptor = descriptor;
    file->access = access;
    file->unflushed = false;
    Standin::CopyHostText(file->path, sizeof file->path, path);
    return file;
}

OpenFile* FileOf(HANDLE handle) {
    if (!handle || handle == INVALID_HANDLE_VALUE) return nullptr;
    return static_cast<OpenFile*>(handle);
}

const char* PathOf(HANDLE handle) {
    OpenFile* file = FileOf(handle);
    return file ? file->path : nullptr;
}

BOOL ReadHostFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read) {
    OpenFile* file = FileOf(handle);
    if (!file || !(file->access & GENERIC_READ)) return Fail(ERROR_ACCESS_DENIED);
    DWORD total = 0;
    while (total < toRead) {
        ssize_t got = ::read(file->descriptor, static_cast<char*>(buffer) + total, toRead - total);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return Fail(ERROR_ACCESS_DENIED);
        if (got == 0) break;
        total += static_cast<DWORD>(got);
    }
    if (read) *read = total;
    return TRUE;
}

BOOL WriteHostFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written) {
    OpenFile* file = FileOf(handle);
    if (!file || !(file->access & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
    DWORD total = 0;
    while (total < toWrite) {
        ssize_t put = ::write(file->descriptor, static_cast<const char*>(buffer) + total, toWrite - total);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (written) *written = total;
            return Fail(errno == ENOSPC ? 112 : ERROR_ACCESS_DENIED);
        }
        total += static_cast<DWORD>(put);
    }
    if (total) file->unflushed = true;
    if (written) *written = total;
    return TRUE;
}

BOOL FlushHostFile(HANDLE handle) {
    OpenFile* file = FileOf(handle);
    if (!file || !(file->access & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
    if (fsync(file->descriptor) != 0) return Fail(ERROR_ACCESS_DENIED);
    file->unflushed = false;
    return TRUE;
}

BOOL CloseHostFile(HANDLE handle) {
    OpenFile* file = FileOf(handle);
    if (!file) return Fail(6);
    int result = close(file->descriptor);
    free(file);
    return result == 0 ? TRUE : Fail(ERROR_ACCESS_DENIED);
}

DWORD SetHostFilePointer(HANDLE handle, LONG distance, LONG* distanceHigh, DWORD method) {
    OpenFile* file = FileOf(handle);
    if (!file) return INVALID_SET_FILE_POINTER;
    int64_t offset = distanceHigh
                         ? ((static_cast<int64_t>(*distanceHigh) << 32) | static_cast<uint32_t>(distance))
                         : static_cast<int64_t>(distance);
    int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    off_t position = lseek(file->descriptor, static_cast<off_t>(offset), whence);
    if (position < 0) {
        Fail(131);
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(position) >> 32);
    return static_cast<DWORD>(position);
}

DWORD HostFileSize(HANDLE handle, LPDWORD sizeHigh) {
    OpenFile* file = FileOf(handle);
    struct stat info;
    if (!file || fstat(file->descriptor, &info) != 0) {
        Fail(6);
        return INVALID_FILE_SIZE;
    }
    uint64_t size = static_cast<uint64_t>(info.st_size);
    if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
    // As Windows does, so that a low word equal to the error value can be told from a failure.
    lastError = 0;
    return static_cast<DWORD>(size);
}

// The host keeps no settable creation time: SetFileTime stores it in this extended attribute, and a file
// without one reports its inode change time as before.
const char CreationTimeAttribute[] = "user.standin.creation";

BOOL HostFileTime(HANDLE handle, LPFILETIME creation, LPFILETIME lastAccess, LPFILETIME lastWrite) {
    OpenFile* file = FileOf(handle);
    struct stat info;
    if (!file || fstat(file->descriptor, &info) != 0) return Fail(6);
    if (creation) {
        uint64_t units;
        if (fgetxattr(file->descriptor, CreationTimeAttribute, &units, sizeof units) == sizeof units) {
            creation->dwLowDateTime = static_cast<DWORD>(units);
            creation->dwHighDateTime = static_cast<DWORD>(units >> 32);
        } else {
            *creation = ToFileTime(info.st_ctim);
        }
    }
    if (lastAccess) *lastAccess = ToFileTime(info.st_atim);
    if (lastWrite) *lastWrite = ToFileTime(info.st_mtim);
    return TRUE;
}

BOOL SetHostFileTime(HANDLE handle, const FILETIME* creation, const FILETIME* lastAccess,
                     const FILETIME* lastWrite) {
    OpenFile* file = FileOf(handle);
    if (!file) return Fail(6);
    if (creation) {
        // Best effort: a file system without user attributes keeps reporting the change time.
        uint64_t units = (static_cast<uint64_t>(creation->dwHighDateTime) << 32) | creation->dwLowDateTime;
        fsetxattr(file->descriptor, CreationTimeAttribute, &units, sizeof units, 0);
    }
    struct timespec times[2];
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_nsec = UTIME_OMIT;
    if (lastAccess) times[0] = ToTimespec(*lastAccess);
    if (lastWrite) times[1] = ToTimespec(*lastWrite);
    return futimens(file->descriptor, times) == 0 ? TRUE : Fail(ERROR_ACCESS_DENIED);
}

DWORD HostAttributes(LPCSTR path) {
    char host[2048];
    struct stat info;
    if (!HostPath(path, host, sizeof host) || stat(host, &info) != 0) {
        Fail(ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD attributes = S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (IsReadOnlyMode(info.st_mode)) attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes;
}

BOOL SetHostAttributes(LPCSTR path, DWORD attributes) {
    char host[2048];
    struct stat info;
    if (!HostPath(path, host, sizeof host) || stat(host, &info) != 0) return Fail(ERROR_FILE_NOT_FOUND);
    mode_t mode = info.st_mode & 07777;
    mode = (attributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~0222) : (mode | S_IWUSR);
    return chmod(host, mode) == 0 ? TRUE : Fail(ERROR_ACCESS_DENIED);
}

BOOL CreateHostFolder(LPCSTR path) {
    char host[2048];
    if (!HostPath(path, host, sizeof host)) return Fail(3);
    return mkdir(host, 0755) == 0 ? TRUE : Fail(errno == EEXIST ? 183 : 3);
}

BOOL RemoveHostFolder(LPCSTR path) {
    char host[2048];
    if (!HostPath(path, host, sizeof host)) return Fail(3);
    return rmdir(host) == 0 ? TRUE : Fail(errno == ENOTEMPTY ? 145 : 3);
}

BOOL DeleteHostFile(LPCSTR path) {
    char host[2048];
    struct stat info;
    if (!HostPath(path, host, sizeof host) || lstat(host, &info) != 0) return Fail(ERROR_FILE_NOT_FOUND);
    if (S_ISDIR(info.st_mode) || IsReadOnlyMode(info.st_mode)) return Fail(ERROR_ACCESS_DENIED);
    return unlink(host) == 0 ? TRUE : Fail(ERROR_ACCESS_DENIED);
}

// Write-through: the renamed file's folder is synced too, so that the new name is on the disk when the
// call returns.
BOOL MoveHostFile(LPCSTR from, LPCSTR to, DWORD flags) {
    char hostFrom[2048], hostTo[2048];
    if (!HostPath(from, hostFrom, sizeof hostFrom) || !HostPath(to, hostTo, sizeof hostTo))
        return Fail(ERROR_FILE_NOT_FOUND);
    struct stat info;
    if (stat(hostTo, &info) == 0) {
        if (!(flags & MOVEFILE_REPLACE_EXISTING)) return Fail(183);
        if (S_ISDIR(info.st_mode) || IsReadOnlyMode(info.st_mode)) return Fail(ERROR_ACCESS_DENIED);
    }
    if (rename(hostFrom, hostTo) != 0) return Fail(ERROR_ACCESS_DENIED);
    if (!(flags & MOVEFILE_WRITE_THROUGH)) return TRUE;
    char* separator = strrchr(hostTo, '/');
    if (separator == hostTo)
        separator[1] = '\0';
    else if (separator)
        *separator = '\0';
    int folder = open(separator ? hostTo : ".", O_RDONLY | O_DIRECTORY);
    if (folder < 0) return Fail(ERROR_ACCESS_DENIED);
    int synced = fsync(folder);
    close(folder);
    return synced == 0 ? TRUE : Fail(ERROR_ACCESS_DENIED);
}

DWORD HostTempPath(DWORD capacity, LPSTR buffer) {
    const char* folder = hasTempPath ? tempPath : getenv("TMPDIR");
    if (!folder || !folder[0]) folder = "/tmp";
    size_t length = strlen(folder);
    bool addSeparator = folder[length - 1] != '/' && folder[length - 1] != '\\';
    size_t needed = length + (addSeparator ? 1 : 0);
    if (needed + 1 > capacity) return static_cast<DWORD>(needed + 1);
    memcpy(buffer, folder, length);
    if (addSeparator) buffer[length] = '\\';
    buffer[needed] = '\0';
    return static_cast<DWORD>(needed);
}

UINT HostTempFileName(LPCSTR folder, LPCSTR prefix, UINT unique, LPSTR buffer) {
    char name[MAX_PATH];
    size_t folderLength = strlen(folder);
    bool addSeparator =
        folderLength > 0 && folder[folderLength - 1] != '\\' && folder[folderLength - 1] != '/';
    for (UINT number = unique ? unique : (static_cast<UINT>(getpid()) & 0xFFFF) | 1; number <= 0xFFFF;
         ++number) {
        int length = snprintf(name, sizeof name, "%s%s%.3s%X.TMP", folder, addSeparator ? "\\" : "", prefix,
                              number & 0xFFFF);
        if (length < 0 || static_cast<size_t>(length) >= sizeof name) {
            Fail(206);
            return 0;
        }
        if (unique) {
            memcpy(buffer, name, static_cast<size_t>(length) + 1);
            return unique;
        }
        HANDLE file = OpenHostFile(name, GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHostFile(file);
            memcpy(buffer, name, static_cast<size_t>(length) + 1);
            return number;
        }
        if (HostAttributes(name) == INVALID_FILE_ATTRIBUTES) {
            Fail(ERROR_ACCESS_DENIED);
            return 0;
        }
    }
    Fail(80);
    return 0;
}

struct FolderSearch {
    DIR* folder;
    char host[2048]; // the folder, with a "/" at its end
    size_t hostLength;
    char pattern[PathCapacity]; // as FindFirstFileA was given it, for the hooks
};

// The next entry of the search in found; 0 at the end. An entry that vanished since it was listed is
// stepped over, as Windows never reports one.
int NextFoundEntry(FolderSearch* search, WIN32_FIND_DATAA* found) {
    for (;;) {
        struct dirent* entry = readdir(search->folder);
        if (!entry) return 0;
        size_t nameLength = strlen(entry->d_name);
        if (nameLength >= sizeof found->cFileName || search->hostLength + nameLength >= sizeof search->host)
            continue;
        memcpy(search->host + search->hostLength, entry->d_name, nameLength + 1);
        struct stat info;
        int known = lstat(search->host, &info) == 0;
        search->host[search->hostLength] = '\0';
        if (!known) continue;
        memset(found, 0, sizeof *found);
        found->dwFileAttributes = S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
        if (IsReadOnlyMode(info.st_mode)) found->dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
        found->ftLastWriteTime = ToFileTime(info.st_mtim);
        found->ftLastAccessTime = ToFileTime(info.st_atim);
        found->ftCreationTime = found->ftLastWriteTime;
        uint64_t size = S_ISDIR(info.st_mode) ? 0 : static_cast<uint64_t>(info.st_size);
        found->nFileSizeLow = static_cast<DWORD>(size);
        found->nFileSizeHigh = static_cast<DWORD>(size >> 32);
        memcpy(found->cFileName, entry->d_name, nameLength + 1);
        return 1;
    }
}

HANDLE FindFirstHostEntry(LPCSTR pattern, LPWIN32_FIND_DATAA found) {
    size_t length = pattern ? strlen(pattern) : 0;
    if (length < 2 || pattern[length - 1] != '*' || pattern[length - 2] != '\\') {
        Fail(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    FolderSearch* search = static_cast<FolderSearch*>(calloc(1, sizeof(FolderSearch)));
    if (!search) {
        Fail(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    char folder[MAX_PATH];
    int fits = length - 1 < sizeof folder;
    if (fits) {
        memcpy(folder, pattern, length - 1);
        folder[length - 1] = '\0';
    }
    if (!fits || !HostPath(folder, search->host, sizeof search->host - 1) ||
        !(search->folder = opendir(search->host))) {
        free(search);
        Fail(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    search->hostLength = strlen(search->host);
    if (search->hostLength == 0 || search->host[search->hostLength - 1] != '/') {
        search->host[search->hostLength++] = '/';
        search->host[search->hostLength] = '\0';
    }
    Standin::CopyHostText(search->pattern, sizeof search->pattern, pattern);
    if (!NextFoundEntry(search, found)) {
        closedir(search->folder);
        free(search);
        Fail(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return search;
}

FolderSearch* SearchOf(HANDLE handle) {
    if (!handle || handle == INVALID_HANDLE_VALUE) return nullptr;
    return static_cast<FolderSearch*>(handle);
}

BOOL EndHostSearch(HANDLE handle) {
    FolderSearch* search = SearchOf(handle);
    if (!search) return Fail(ERROR_INVALID_HANDLE);
    closedir(search->folder);
    free(search);
    return TRUE;
}

} // namespace

// The calls themselves: each announced to the hooks, which may fail it before it runs.

HGLOBAL GlobalAlloc(UINT flags, size_t bytes) {
    HostCall call = {Standin::HostGlobalAlloc, nullptr, nullptr, flags, false};
    if (Standin::BeforeHostCall(call)) return nullptr;
    // Windows hands out a block even for 0 bytes.
    void* block = (flags & GMEM_ZEROINIT) ? calloc(1, bytes ? bytes : 1) : malloc(bytes ? bytes : 1);
    if (!block) Fail(ERROR_NOT_ENOUGH_MEMORY);
    Standin::AfterHostCall(call, block != nullptr);
    return block;
}

HGLOBAL GlobalFree(HGLOBAL block) {
    free(block);
    return nullptr;
}

DWORD GetLastError() {
    return lastError;
}

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD attributes, HANDLE) {
    HostCall call = {Standin::HostCreateFile, path, nullptr, access, false};
    if (Standin::BeforeHostCall(call)) return INVALID_HANDLE_VALUE;
    HANDLE file = OpenHostFile(path, access, disposition, attributes);
    Standin::AfterHostCall(call, file != INVALID_HANDLE_VALUE);
    return file;
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
    if (read) *read = 0;
    HostCall call = {Standin::HostReadFile, PathOf(handle), nullptr, 0, false};
    if (Standin::BeforeHostCall(call)) return FALSE;
    BOOL done = ReadHostFile(handle, buffer, toRead, read);
    Standin::AfterHostCall(call, done);
    return done;
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
    if (written) *written = 0;
    HostCall call = {Standin::HostWriteFile, PathOf(handle), nullptr, 0, false};
    if (Standin::BeforeHostCall(call)) return FALSE;
    BOOL done = WriteHostFile(handle, buffer, toWrite, written);
    Standin::AfterHostCall(call, done);
    return done;
}

BOOL FlushFileBuffers(HANDLE handle) {
    HostCall call = {Standin::HostFlushFile, PathOf(handle), nullptr, 0, false};
    if (Standin::BeforeHostCall(call)) return FALSE;
    BOOL done = FlushHostFile(handle);
    Standin::AfterHostCall(call, done);
    return done;
}

// A close that fails still closes the handle, as on Windows.
BOOL CloseHandle(HANDLE handle) {
    OpenFile* file = FileOf(handle);
    HostCall call = {Standin::HostCloseHandle, PathOf(handle), nullptr, 0, file && file->unflushed};
    if (DWORD error = Standin::BeforeHostCall(call)) {
        CloseHostFile(handle);
        return Fail(error);
    }
    BOOL done = CloseHostFile(handle);
    Standin::AfterHostCall(call, done);
    return done;
}

DWORD SetFilePointer(HANDLE handle, LONG distance, LONG* distanceHigh, DWORD method) {
    HostCall call = {Standin::HostSetFilePointer, PathOf(handle), nullptr, 0, false};
    if (Standin::BeforeHostCall(call)) return INVALID_SET_FILE_POINTER;
    DWORD position = SetHostFilePointer(handle, distance, distanceHigh, method);
    Standin::AfterHostCall(call, position != INVALID_SET_FILE_POINTER);
    return position;
}

DWORD GetFileSize(HANDLE handle, LPDWORD sizeHigh) {
    HostCall call = {Standin::HostGetFileSize, PathOf(handle), nullptr, 0, false};
    if (Standin::BeforeHostCall(call)) return INVALID_FILE_SIZE;
    DWORD size = HostFileSize(handle, sizeHigh);
    Standin::AfterHostCall(call, size != INVALID_FILE_SIZE);
    return size;
}

BOOL GetFileTime(HANDLE handle, LPFILETIME creation, LPFILETIME lastAccess, LPFILETIME lastWrite) {
    HostCall call = {Standin::HostGetFileTime, PathOf(handle), nullptr, 0, false};
    if (Standin::BeforeHostCall(call)) return FALSE;
    BOOL done = HostFileTime(handle, creation, lastAccess, lastWrite);
    Standin::AfterHostCall(call, done);
    return done;
}

BOOL SetFileTime(HANDLE handle, const FILETIME* creation, const FILETIME* lastAccess,
                 const FILETIME* lastWrite) {
    HostCall call = {Standin::HostSetFileTime, PathOf(handle), nullptr, 0, false};
    if (Standin::BeforeHostCall(call)) return FALSE;
    BOOL done = SetHostFileTime(handle, creation, lastAccess, lastWrite);
    Standin::AfterHostCall(call, done);
    return done;
}

DWORD GetFileAttributesA(LPCSTR path) {
    HostCall call = {Standin::HostGetAttributes, path, nullptr, 0, false};
    if (Standin::BeforeHostCall(call)) return INVALID_FILE_ATTRIBUTES;
    DWORD attributes = HostAttributes(path);
    Standin::AfterHostCall(call, attributes != INVALID_FILE_ATTRIBUTES);
    return attributes;
}

BOOL SetFileAttributesA(LPCSTR path, DWORD attributes) {
    HostCall call = {Standin::HostSetAttributes, path, nullptr, attributes, false};
    if (Standin::BeforeHostCall(call)) return FALSE;
    BOOL done = SetHostAttributes(path, attributes);
    Standin::AfterHostCall(call, done);
    return done;
}

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES) {
    HostCall call = {Standin::HostCreateFolder, path, nullptr, 0, false};
    if (Standin::BeforeHostCall(call)) return FALSE;
    BOOL done = CreateHostFolder(path);
    Standin::AfterHostCall(call, done);
    return done;
}

BOOL RemoveDirectoryA(LPCSTR path) {
    HostCall call = {Standin::HostRemoveFolder, path, nullptr, 0, false};
    if (Standin::BeforeHostCall(call)) return FALSE;
    BOOL done = RemoveHostFolder(path);
    Standin::AfterHostCall(call, done);
    return done;
}

BOOL DeleteFileA(LPCSTR path) {
    HostCall call = {Standin::HostDeleteFile, path, nullptr, 0, false};
    if (Standin::BeforeHostCall(call)) return FALSE;
    BOOL done = DeleteHostFile(path);
    Standin::AfterHostCall(call, done);
    return done;
}

BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
    HostCall call = {Standin::HostMoveFile, from, to, flags, false};
    if (Standin::BeforeHostCall(call)) return FALSE;
    BOOL done = MoveHostFile(from, to, flags);
    Standin::AfterHostCall(call, done);
    return done;
}

DWORD GetTempPathA(DWORD capacity, LPSTR buffer) {
    HostCall call = {Standin::HostTempPath, nullptr, nullptr, 0, false};
    if (Standin::BeforeHostCall(call)) return 0;
    DWORD length = HostTempPath(capacity, buffer);
    Standin::AfterHostCall(call, length != 0 && length < capacity);
    return length;
}

UINT GetTempFileNameA(LPCSTR folder, LPCSTR prefix, UINT unique, LPSTR buffer) {
    HostCall call = {Standin::HostTempFileName, folder, nullptr, 0, false};
    if (Standin::BeforeHostCall(call)) return 0;
    UINT number = HostTempFileName(folder, prefix, unique, buffer);
    Standin::AfterHostCall(call, number != 0);
    return number;
}

HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA found) {
    HostCall call = {Standin::HostFindFirst, pattern, nullptr, 0, false};
    if (Standin::BeforeHostCall(call)) return INVALID_HANDLE_VALUE;
    HANDLE search = FindFirstHostEntry(pattern, found);
    Standin::AfterHostCall(call, search != INVALID_HANDLE_VALUE);
    return search;
}

// A failed step leaves the search where it was; only the end of the listing fails with
// ERROR_NO_MORE_FILES.
BOOL FindNextFileA(HANDLE handle, LPWIN32_FIND_DATAA found) {
    FolderSearch* search = SearchOf(handle);
    HostCall call = {Standin::HostFindNext, search ? search->pattern : nullptr, nullptr, 0, false};
    if (Standin::BeforeHostCall(call)) return FALSE;
    BOOL done = !search                         ? Fail(ERROR_INVALID_HANDLE)
                : NextFoundEntry(search, found) ? TRUE
                                                : Fail(ERROR_NO_MORE_FILES);
    Standin::AfterHostCall(call, done);
    return done;
}

// A FindClose that fails still ends the search.
BOOL FindClose(HANDLE handle) {
    FolderSearch* search = SearchOf(handle);
    HostCall call = {Standin::HostFindClose, search ? search->pattern : nullptr, nullptr, 0, false};
    if (DWORD error = Standin::BeforeHostCall(call)) {
        EndHostSearch(handle);
        return Fail(error);
    }
    BOOL done = EndHostSearch(handle);
    Standin::AfterHostCall(call, done);
    return done;
}
