// updpack's host layer on Linux and other POSIX systems: names are UTF-8 bytes as the file system holds
// them, conversion goes through iconv, times are the nanosecond timestamps of stat, and the primitives of
// host_system.h are the POSIX calls (a volume is made durable at once with syncfs).
#include "tools/updpack/host_files.h"
#include "tools/updpack/host_system.h"
#include "tools/updpack/updpack.h"

#include "platform/standin/host_boxes.h"
#include "platform/text_format.h"
#include "platform/win32.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {
int Convert(const char* from, const char* to, const char* text, std::string& result) {
    result.clear();
    iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1)) return 0;
    size_t inputLeft = strlen(text);
    char* input = const_cast<char*>(text);
    int converted = 1;
    while (inputLeft > 0) {
        char chunk[256];
        char* output = chunk;
        size_t outputLeft = sizeof chunk;
        size_t status = iconv(converter, &input, &inputLeft, &output, &outputLeft);
        result.append(chunk, output - chunk);
        if (status == static_cast<size_t>(-1) && errno != E2BIG) {
            converted = 0;
            break;
        }
    }
    if (converted) {
        // Flush any shift state; neither encoding has one, but iconv asks for it.
        char chunk[16];
        char* output = chunk;
        size_t outputLeft = sizeof chunk;
        if (iconv(converter, nullptr, nullptr, &output, &outputLeft) == static_cast<size_t>(-1))
            converted = 0;
        result.append(chunk, output - chunk);
    }
    iconv_close(converter);
    // A converted NUL would cut the text short.
    if (converted && result.find('\0') != std::string::npos) converted = 0;
    return converted;
}

HostFileId IdentityOf(const struct stat& status) {
    HostFileId id;
    id.volume = static_cast<uint64_t>(status.st_dev);
    id.file = static_cast<uint64_t>(status.st_ino);
    id.known = 1;
    return id;
}

HostItemKind ItemKind(mode_t mode) {
    if (S_ISREG(mode)) return HostRegularFile;
    if (S_ISDIR(mode)) return HostSubfolder;
    if (S_ISLNK(mode)) return HostLink;
    return HostSpecialFile;
}

// Why a file that is not a regular file is not read, in the words of a message.
const char* NotRegular(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder, not a regular file";
    if (S_ISFIFO(mode)) return "a named pipe (FIFO), not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device, not a regular file";
    if (S_ISSOCK(mode)) return "a socket, not a regular file";
    return "not a regular file";
}

int WriteDescriptor(int file, const void* data, size_t size, int* error) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        ssize_t written = write(file, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            *error = written < 0 ? errno : ENOSPC;
            return 0;
        }
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return 1;
}
} // namespace

int HostArguments(int argc, char** argv, std::vector<std::string>& arguments) {
    arguments.assign(argv, argv + argc);
    return 1;
}

std::string HostProgramFolder() {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return "";
    path[length] = '\0';
    char* slash = strrchr(path, '/');
    if (!slash) return "";
    *slash = '\0';
    return path;
}

std::string HostJoin(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

HostFileId HostFileIdentity(const char* path) {
    struct stat status;
    HostFileId none = {0, 0, 0};
    return stat(path, &status) == 0 ? IdentityOf(status) : none;
}

int SameHostFile(const HostFileId& a, const HostFileId& b) {
    return a.known && b.known && a.volume == b.volume && a.file == b.file;
}

int ListHostFolder(const char* folder, std::vector<HostFolderItem>& items) {
    items.clear();
    DIR* listing = opendir(folder);
    if (!listing) {
        Report("%s: cannot read the folder: %s", folder, strerror(errno));
        return 0;
    }
    int listed = 1;
    errno = 0;
    while (dirent* entry = readdir(listing)) {
        if (!strcmp(entry->d_name, ".") || !strcmp(entry->d_name, "..")) continue;
        struct stat status;
        // The entry itself: a link, dangling or not, is listed as a link, never as what it points to.
        if (fstatat(dirfd(listing), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
            Report("\"%s\": %s", entry->d_name, strerror(errno));
            listed = 0;
            errno = 0;
            continue;
        }
        HostFolderItem item;
        item.name = entry->d_name;
        item.kind = ItemKind(status.st_mode);
        item.size = static_cast<uint64_t>(status.st_size);
        item.timeKnown = FileTimeFromHost(status.st_mtim, &item.fileTime);
        if (!item.timeKnown) item.fileTime = 0;
        item.id = IdentityOf(status);
        items.push_back(item);
        errno = 0;
    }
    if (errno != 0) {
        Report("%s: cannot read the folder: %s", folder, strerror(errno));
        listed = 0;
    }
    closedir(listing);
    return listed;
}

int IsHostFolder(const char* path) {
    struct stat status;
    return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

int MakeHostFolders(const char* folder) {
    std::string path = folder;
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string part = path.substr(0, slash);
        if (!part.empty() && mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
            Report("%s: cannot create the folder: %s", part.c_str(), strerror(errno));
            return 0;
        }
        if (slash == std::string::npos) break;
    }
    if (!IsHostFolder(folder)) {
        Report("%s: not a folder", folder);
        return 0;
    }
    return 1;
}

// The primitives of host_system.h.

int InspectHostPath(const char* path, HostItemKind* kind, const char** what) {
    struct stat status;
    if (stat(path, &status) != 0) {
        // Nothing, unless a link is there that leads nowhere (or round in a loop).
        if (lstat(path, &status) != 0) return 0;
        *kind = HostLink;
        *what = "a symbolic link that leads to nothing";
        return 1;
    }
    *kind = ItemKind(status.st_mode);
    *what = S_ISREG(status.st_mode)    ? "a regular file"
            : S_ISDIR(status.st_mode)  ? "a folder"
            : S_ISFIFO(status.st_mode) ? "a named pipe (FIFO)"
            : S_ISSOCK(status.st_mode) ? "a socket"
                                       : "a device";
    return 1;
}

HostFile OpenHostFileForReading(const char* path, HostLinkRule links, HostOpenedFacts* facts,
                                std::string* error) {
    memset(facts, 0, sizeof *facts);
    // O_NONBLOCK: opening a named pipe without a writer, or a device, would otherwise wait for ever. For the
    // regular file that is all the tool reads, the flag changes nothing.
    int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (links == RefuseLinks ? O_NOFOLLOW : 0);
    int file = open(path, flags);
    if (file < 0 && errno == ELOOP && links == RefuseLinks) {
        facts->kind = HostLink;
        facts->notRegular = "a symbolic link, not a regular file";
        error->clear();
        return NoHostFile;
    }
    struct stat status;
    if (file < 0 || fstat(file, &status) != 0) {
        *error = strerror(errno);
        if (file >= 0) close(file);
        return NoHostFile;
    }
    facts->kind = ItemKind(status.st_mode);
    facts->notRegular = NotRegular(status.st_mode);
    facts->size = static_cast<uint64_t>(status.st_size);
    facts->timeKnown = FileTimeFromHost(status.st_mtim, &facts->fileTime);
    return file;
}

int ReadHostFileChunk(HostFile file, void* buffer, size_t wanted, size_t* got, std::string* error) {
    for (;;) {
        ssize_t read = ::read(static_cast<int>(file), buffer, wanted);
        if (read < 0 && errno == EINTR) continue;
        if (read < 0) {
            *error = strerror(errno);
            return 0;
        }
        *got = static_cast<size_t>(read);
        return 1;
    }
}

void CloseHostFile(HostFile file) {
    close(static_cast<int>(file));
}

HostFile CreateNewHostFile(const char* path, int* exists, std::string* error) {
    int file = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    *exists = file < 0 && errno == EEXIST;
    if (file < 0) *error = strerror(errno);
    return file < 0 ? NoHostFile : file;
}

int WriteHostFileWhole(HostFile file, const void* data, size_t size, std::string* error) {
    int code = 0;
    if (WriteDescriptor(static_cast<int>(file), data, size, &code)) return 1;
    *error = strerror(code);
    return 0;
}

int WriteHostFileAt(HostFile file, uint64_t offset, const void* data, size_t size, std::string* error) {
    if (pwrite(static_cast<int>(file), data, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size))
        return 1;
    *error = strerror(errno);
    return 0;
}

int FinishHostFile(HostFile file, const uint64_t* fileTime, int flush, std::string* error) {
    int descriptor = static_cast<int>(file);
    int code = 0;
    if (fileTime) {
        timespec times[2];
        times[0] = times[1] = HostTimeFromFileTime(*fileTime);
        if (futimens(descriptor, times) != 0) code = errno;
    }
    if (!code && flush && fsync(descriptor) != 0) code = errno;
    if (close(descriptor) != 0 && !code) code = errno;
    if (!code) return 1;
    *error = strerror(code);
    return 0;
}

int MoveHostFile(const char* from, const char* to, std::string* error) {
    if (rename(from, to) == 0) return 1;
    *error = strerror(errno);
    return 0;
}

void DeleteHostFile(const char* path) {
    unlink(path);
}

const int HostSyncsVolumes = 1;

namespace {
// Flushes the file system that holds folder, written data and names alike (fsync on a folder makes its
// names durable; syncfs, where there is one, the data of every file in it at once).
int FlushFolder(const std::string& folder, int data, std::string* error) {
    int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) {
        *error = strerror(errno);
        return 0;
    }
#ifdef __linux__
    int flushed = data ? syncfs(descriptor) == 0 : fsync(descriptor) == 0;
#else
    if (data) sync();
    int flushed = fsync(descriptor) == 0;
#endif
    if (!flushed) *error = strerror(errno);
    close(descriptor);
    return flushed;
}
} // namespace

int SyncHostVolume(const std::string& folder, std::string* error) {
    return FlushFolder(folder, 1, error);
}

int SyncHostFolderNames(const std::string& folder, std::string* error) {
    return FlushFolder(folder, 0, error);
}

std::string HostFolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

uint32_t HostNameSeed() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<uint32_t>(now.tv_nsec) ^ (static_cast<uint32_t>(getpid()) << 12) ^
           static_cast<uint32_t>(now.tv_sec);
}

int MakeProfileCopy(const unsigned char* content, size_t size, char* path, size_t capacity) {
    const char* folder = getenv("TMPDIR");
    if (!folder || !*folder) folder = "/tmp";
    char pattern[1024];
    FormatText(pattern, sizeof pattern, "%s/updpack-ini.XXXXXX", folder);
    // The updater's reader takes paths of up to 259 bytes, without a "\" in a host folder's name.
    if (strlen(pattern) >= capacity || strlen(pattern) >= 260 || strchr(pattern, '\\')) {
        FormatText(pattern, sizeof pattern, "/tmp/updpack-ini.XXXXXX");
    }
    int file = mkstemp(pattern);
    int error = 0;
    if (file < 0) {
        Report("%s: cannot create a temporary file: %s", pattern, strerror(errno));
        return 0;
    }
    int written = WriteDescriptor(file, content, size, &error);
    if (close(file) != 0 && written) {
        error = errno;
        written = 0;
    }
    if (!written) {
        Report("%s: cannot write: %s", pattern, strerror(error));
        unlink(pattern);
        return 0;
    }
    CopyText(path, capacity, pattern);
    return 1;
}

void RemoveProfileCopy(const char* path) {
    unlink(path);
}

namespace {
// Every double-byte code (a lead byte and any trail byte but NUL) mapped to the rank of its character among
// all of them in lstrcmpiA's order; equal ranks exactly for codes it takes for the same character. Sorting
// with lstrcmpiA itself is sound here, though not for whole names: between two names of one double-byte
// character each, the stand-in compares the characters they stand for as numbers, a strict weak ordering.
// (Between whole names it is not one: a double-byte character against a single byte compares raw bytes.)
const std::vector<uint16_t>& DoubleByteRanks() {
    static std::vector<uint16_t> ranks;
    if (!ranks.empty()) return ranks;
    std::vector<uint16_t> codes;
    for (unsigned lead = 0x80; lead <= 0xFF; ++lead) {
        if (!IsDBCSLeadByte(static_cast<BYTE>(lead))) continue;
        for (unsigned trail = 1; trail <= 0xFF; ++trail)
            codes.push_back(static_cast<uint16_t>(lead << 8 | trail));
    }
    auto compare = [](uint16_t a, uint16_t b) {
        char x[3] = {static_cast<char>(a >> 8), static_cast<char>(a & 0xFF), 0};
        char y[3] = {static_cast<char>(b >> 8), static_cast<char>(b & 0xFF), 0};
        return lstrcmpiA(x, y);
    };
    std::sort(codes.begin(), codes.end(), [&](uint16_t a, uint16_t b) { return compare(a, b) < 0; });
    ranks.assign(0x10000, 0);
    uint16_t rank = 0;
    for (size_t i = 0; i < codes.size(); ++i) {
        if (i > 0 && compare(codes[i - 1], codes[i]) != 0) ++rank;
        ranks[codes[i]] = rank;
    }
    return ranks;
}
} // namespace

// The stand-in's lstrcmpiA walks both names in step, a unit at a time: a lead byte with a trail byte is
// one unit, compared by its character; any other byte is one, compared with ASCII letters folded. A
// double-byte unit never equals a single-byte one (a lead byte against a byte that is not a lead byte
// differs; a lead byte at the very end meets the NUL after it). So two names compare equal exactly when
// their units do, one by one, and the key spells the units as two bytes each: a single byte as 0 and the
// folded byte, a double-byte unit as 1 + its rank, high byte first.
std::string ArchiveNameSortKey(const char* archiveName) {
    std::string key;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(archiveName);
    while (*p) {
        unsigned unit;
        if (IsDBCSLeadByte(p[0]) && p[1]) {
            unit = 0x100u + DoubleByteRanks()[p[0] << 8 | p[1]];
            p += 2;
        } else {
            unit = (*p >= 'A' && *p <= 'Z') ? *p + ('a' - 'A') : *p;
            p += 1;
        }
        key += static_cast<char>(unit >> 8);
        key += static_cast<char>(unit & 0xFF);
    }
    return key;
}

int CodePage932FromUtf8(const char* text, std::string& result) {
    return Convert("UTF-8", "CP932", text, result);
}

int Utf8FromCodePage932(const char* text, std::string& result) {
    return Convert("CP932", "UTF-8", text, result);
}

int HostMessageBoxesShown() {
    return Standin::MessageBoxesOnStandardError();
}

int HostErrorIsTerminal() {
    return isatty(STDERR_FILENO);
}
