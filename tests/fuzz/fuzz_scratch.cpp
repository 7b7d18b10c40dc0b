// The scratch folder of the fuzz targets and their failure report.
#include "tests/fuzz/fuzz_scratch.h"

#include "context/updater_context.h"
#include "tests/fakes/script.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

char ScratchFolder[512];
char HostPathBuffer[1024];

void RemoveScratchFolder() {
    EmptyScratch(nullptr);
    rmdir(ScratchFolder);
}

const char* ScratchFolderPath() {
    if (ScratchFolder[0]) return ScratchFolder;
    const char* base = getenv("TMPDIR");
    struct stat info;
    if (!base || !*base) base = stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) ? "/dev/shm" : "/tmp";
    snprintf(ScratchFolder, sizeof ScratchFolder, "%s/updater-fuzz.XXXXXX", base);
    if (!mkdtemp(ScratchFolder)) {
        fprintf(stderr, "fuzz: cannot make a scratch folder in %s\n", base);
        exit(1);
    }
    atexit(RemoveScratchFolder);
    return ScratchFolder;
}

} // namespace

void ResetScratchWorld() {
    Standin::ResetAll();
    ResetUpdaterContext();
    Standin::SetDrive(ScratchDrive, ScratchFolderPath(), DRIVE_FIXED);
}

const char* ScratchHostPath(const char* name) {
    snprintf(HostPathBuffer, sizeof HostPathBuffer, "%s/%s", ScratchFolderPath(), name);
    return HostPathBuffer;
}

void WriteScratchFile(const char* name, const unsigned char* data, size_t size) {
    const char* path = ScratchHostPath(name);
    int descriptor = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    FuzzCheck(descriptor >= 0, "the scratch file cannot be created");
    size_t written = 0;
    while (written < size) {
        ssize_t put = write(descriptor, data + written, size - written);
        FuzzCheck(put > 0, "the scratch file cannot be written");
        written += static_cast<size_t>(put);
    }
    close(descriptor);
}

int EmptyScratch(const char* const* keep) {
    DIR* folder = opendir(ScratchFolderPath());
    if (!folder) return 0;
    int removed = 0;
    while (struct dirent* entry = readdir(folder)) {
        if (!strcmp(entry->d_name, ".") || !strcmp(entry->d_name, "..")) continue;
        bool kept = false;
        for (const char* const* name = keep; name && *name && !kept; ++name)
            kept = strcmp(*name, entry->d_name) == 0;
        if (kept) continue;
        char path[1024];
        snprintf(path, sizeof path, "%s/%s", ScratchFolder, entry->d_name);
        if (unlink(path) == 0 || rmdir(path) == 0) ++removed;
    }
    closedir(folder);
    return removed;
}

void FuzzCheck(bool holds, const char* what) {
    if (holds) return;
    fprintf(stderr, "fuzz: %s\n", what);
    abort();
}
