// updpack create: every regular file directly in a folder becomes an entry, named in code page 932 and
// stamped with its last-write time, in the order of the names' bytes so that the same folder always gives
// the same image. Everything that can be refused is refused before the archive is begun.
#include "tools/updpack/updpack.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The archive's size fields are 32-bit.
const uint64_t EntrySizeLimit = uint64_t(1) << 32;

// Checks what the file's status says about it: a size the archive can record and a time it can hold.
int CheckFileStatus(const char* hostName, const struct stat& status) {
    uint64_t fileTime;
    if (static_cast<uint64_t>(status.st_size) >= EntrySizeLimit) {
        Report("\"%s\": the file has %llu bytes; an entry holds less than 4 GiB", hostName,
               static_cast<unsigned long long>(status.st_size));
        return 0;
    }
    if (!FileTimeFromHost(status.st_mtim, &fileTime)) {
        Report("\"%s\": the last-write time cannot be written as a Windows file time", hostName);
        return 0;
    }
    return 1;
}

// Reads the whole file, which must still be the regular file of the size CollectFolder saw. Returns a
// malloc buffer (or null after a message) and the file's size and time.
unsigned char* ReadPackedFile(int folder, const char* hostName, uint32_t* size, uint64_t* fileTime) {
    int file = openat(folder, hostName, O_RDONLY | O_CLOEXEC);
    struct stat status;
    if (file < 0 || fstat(file, &status) != 0) {
        Report("\"%s\": cannot read: %s", hostName, strerror(errno));
        if (file >= 0) close(file);
        return nullptr;
    }
    if (!S_ISREG(status.st_mode) || !CheckFileStatus(hostName, status)) {
        if (!S_ISREG(status.st_mode)) Report("\"%s\": no longer a regular file", hostName);
        close(file);
        return nullptr;
    }
    *size = static_cast<uint32_t>(status.st_size);
    FileTimeFromHost(status.st_mtim, fileTime);
    size_t capacity = static_cast<size_t>(*size) + 1;
    unsigned char* content = static_cast<unsigned char*>(malloc(capacity));
    size_t done = 0;
    int failed = !content;
    if (failed) Report("\"%s\": out of memory for %u bytes", hostName, *size);
    // One byte more than expected is asked for at the end: a file that grew while read is caught too.
    while (!failed) {
        ssize_t got = read(file, content + done, capacity - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            Report("\"%s\": cannot read: %s", hostName, strerror(errno));
            failed = 1;
        } else if (got == 0 || done + static_cast<size_t>(got) > *size) {
            if (done + static_cast<size_t>(got) != *size) {
                Report("\"%s\": the file changed while it was read", hostName);
                failed = 1;
            }
            break;
        } else {
            done += static_cast<size_t>(got);
        }
    }
    close(file);
    if (failed) {
        free(content);
        return nullptr;
    }
    return content;
}
} // namespace

int CollectFolder(const char* folder, const char* archivePath, std::vector<PackedFile>& files) {
    files.clear();
    struct stat archiveStatus;
    int archiveExists = stat(archivePath, &archiveStatus) == 0;
    DIR* listing = opendir(folder);
    if (!listing) {
        Report("%s: cannot read the folder: %s", folder, strerror(errno));
        return 0;
    }
    int collected = 1;
    errno = 0;
    while (dirent* item = readdir(listing)) {
        if (!strcmp(item->d_name, ".") || !strcmp(item->d_name, "..")) continue;
        struct stat status;
        if (fstatat(dirfd(listing), item->d_name, &status, 0) != 0) {
            Report("\"%s\": %s", item->d_name, strerror(errno));
            collected = 0;
            continue;
        }
        if (!S_ISREG(status.st_mode)) {
            Report("skipping \"%s\": not a regular file", item->d_name);
            continue;
        }
        if (archiveExists && status.st_dev == archiveStatus.st_dev && status.st_ino == archiveStatus.st_ino) {
            Report("skipping \"%s\": the archive being written", item->d_name);
            continue;
        }
        PackedFile file;
        file.hostName = item->d_name;
        // Each refusal is reported, so that one run names every file the publisher has to rename.
        if (!ArchiveNameFromHost(item->d_name, file.archiveName) || !CheckFileStatus(item->d_name, status)) {
            collected = 0;
            continue;
        }
        files.push_back(file);
    }
    if (errno != 0) {
        Report("%s: cannot read the folder: %s", folder, strerror(errno));
        collected = 0;
    }
    closedir(listing);

    std::sort(files.begin(), files.end(),
              [](const PackedFile& a, const PackedFile& b) { return a.archiveName < b.archiveName; });
    for (size_t i = 0; i < files.size(); ++i) {
        for (size_t j = i + 1; j < files.size(); ++j) {
            if (SameArchiveName(files[i].archiveName.c_str(), files[j].archiveName.c_str())) {
                Report("\"%s\" and \"%s\": the updater does not tell these names apart",
                       files[i].hostName.c_str(), files[j].hostName.c_str());
                collected = 0;
            }
        }
    }
    return collected;
}

int CreateArchive(const char* archivePath, const char* folder, uint64_t imageLimit) {
    std::vector<PackedFile> files;
    if (!CollectFolder(folder, archivePath, files)) return 0;
    int folderFile = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFile < 0) {
        Report("%s: cannot read the folder: %s", folder, strerror(errno));
        return 0;
    }
    ArchiveWriter writer;
    int created = BeginArchive(writer, archivePath, imageLimit);
    for (size_t i = 0; created && i < files.size(); ++i) {
        uint32_t size = 0;
        uint64_t fileTime = 0;
        unsigned char* content = ReadPackedFile(folderFile, files[i].hostName.c_str(), &size, &fileTime);
        created = content && AddArchiveEntry(writer, files[i].archiveName, fileTime, content, size);
        free(content);
    }
    close(folderFile);
    if (!created) {
        AbandonArchive(writer);
        return 0;
    }
    if (!FinishArchive(writer)) return 0;
    printf("%s: %zu entries\n", archivePath, files.size());
    return 1;
}
