// Helpers of the updpack tests (see the header).
#include "tests/updpack/updpack_test_support.h"

#include "tools/packer/stream_encoder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <doctest/doctest.h>

ScratchFolder::ScratchFolder(ScratchPlace place) {
    struct stat status;
    int inMemory = place == ScratchInMemory && stat("/dev/shm", &status) == 0 && S_ISDIR(status.st_mode) &&
                   access("/dev/shm", W_OK) == 0;
    std::string pattern = inMemory ? "/dev/shm/updpack-scratch-XXXXXX" : "updpack-scratch-XXXXXX";
    REQUIRE(mkdtemp(&pattern[0]) != nullptr);
    char* absolute = realpath(pattern.c_str(), nullptr);
    path = absolute;
    free(absolute);
}

ScratchFolder::~ScratchFolder() {
    nftw(
        path.c_str(), [](const char* name, const struct stat*, int, FTW*) { return remove(name); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

void WriteHostFile(const std::string& path, const Bytes& content, timespec lastWrite) {
    FILE* file = fopen(path.c_str(), "wb");
    REQUIRE(file != nullptr);
    if (!content.empty()) REQUIRE(fwrite(content.data(), 1, content.size(), file) == content.size());
    REQUIRE(fclose(file) == 0);
    timespec times[2] = {lastWrite, lastWrite};
    REQUIRE(utimensat(AT_FDCWD, path.c_str(), times, 0) == 0);
}

void WriteHostFile(const std::string& path, const std::string& content) {
    WriteHostFile(path, Bytes(content.begin(), content.end()), UtcTime(2020, 1, 2, 3, 4, 5, 0));
}

int ReadHostFile(const std::string& path, Bytes& content) {
    content.clear();
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return 0;
    unsigned char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        content.insert(content.end(), chunk, chunk + got);
    fclose(file);
    return 1;
}

int HostFileExists(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

timespec HostLastWrite(const std::string& path) {
    struct stat status;
    REQUIRE(stat(path.c_str(), &status) == 0);
    return status.st_mtim;
}

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* listing = opendir(folder.c_str());
    REQUIRE(listing != nullptr);
    while (dirent* item = readdir(listing)) {
        if (strcmp(item->d_name, ".") && strcmp(item->d_name, "..")) names.push_back(item->d_name);
    }
    closedir(listing);
    std::sort(names.begin(), names.end());
    return names;
}

timespec UtcTime(int year, int month, int day, int hour, int minute, int second, long nanoseconds) {
    tm parts = {};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    timespec time;
    time.tv_sec = timegm(&parts);
    time.tv_nsec = nanoseconds;
    return time;
}

int RunTool(const std::vector<std::string>& arguments, std::string& output) {
    return RunToolWithin(0, arguments, output);
}

int RunToolWithin(int seconds, const std::vector<std::string>& arguments, std::string& output) {
    // A sanitizer's report must not pass for the tool's own failure status 1.
    setenv("ASAN_OPTIONS", "exitcode=86", 1);
    setenv("UBSAN_OPTIONS", "exitcode=87:print_stacktrace=1", 1);
    std::string command = UPDPACK_PATH;
    if (seconds > 0) command = "timeout " + std::to_string(seconds) + " " + command;
    for (const std::string& argument : arguments) {
        command += " '";
        for (char c : argument)
            command += c == '\'' ? std::string("'\\''") : std::string(1, c);
        command += "'";
    }
    command += " 2>&1";
    output.clear();
    FILE* pipe = popen(command.c_str(), "r");
    REQUIRE(pipe != nullptr);
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        output.append(chunk, got);
    int status = pclose(pipe);
    REQUIRE(WIFEXITED(status));
    return WEXITSTATUS(status);
}

SavedOutput BeginCapture() {
    fflush(stdout);
    fflush(stderr);
    SavedOutput saved = {dup(1), dup(2)};
    FILE* capture = tmpfile();
    REQUIRE(capture != nullptr);
    dup2(fileno(capture), 1);
    dup2(fileno(capture), 2);
    fclose(capture); // descriptors 1 and 2 keep the file open
    return saved;
}

std::string EndCapture(SavedOutput saved) {
    fflush(stdout);
    fflush(stderr);
    std::string text;
    off_t end = lseek(2, 0, SEEK_END);
    text.resize(static_cast<size_t>(end));
    if (end > 0) REQUIRE(pread(2, &text[0], text.size(), 0) == end);
    dup2(saved.out, 1);
    dup2(saved.error, 2);
    close(saved.out);
    close(saved.error);
    return text;
}

ImageEntry CompressedEntry(const std::string& name, const Bytes& content) {
    ImageEntry entry = {name,
                        ArchiveEntryCompressed,
                        0x01D5000000000000ull,
                        static_cast<uint32_t>(content.size()),
                        0,
                        Bytes(CompressBound(content.size()))};
    static const unsigned char nothing = 0;
    size_t length = CompressBlock(content.empty() ? &nothing : content.data(), content.size(),
                                  entry.stored.data(), entry.stored.size());
    REQUIRE(length > 0);
    entry.stored.resize(length);
    entry.storedSize = static_cast<uint32_t>(length);
    return entry;
}

ImageEntry StoredEntry(const std::string& name, const Bytes& content) {
    return {name,
            ArchiveEntryStored,
            0x01D5000000000000ull,
            static_cast<uint32_t>(content.size()),
            static_cast<uint32_t>(content.size()),
            content};
}

void PutU32(Bytes& image, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        image[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

uint32_t GetU32(const Bytes& image, size_t offset) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | image[offset + i];
    return value;
}

Bytes BuildImage(const std::vector<ImageEntry>& entries) {
    Bytes image(ArchiveHeaderSize, 0);
    Bytes directory(entries.size() * ArchiveEntrySize, 0);
    for (size_t i = 0; i < entries.size(); ++i) {
        const ImageEntry& entry = entries[i];
        image.insert(image.end(), entry.stored.begin(), entry.stored.end());
        image.resize((image.size() + 15) & ~size_t(15), 0);
        size_t record = i * ArchiveEntrySize;
        memcpy(&directory[record], entry.name.data(),
               std::min<size_t>(entry.name.size(), ArchiveNameCapacity));
        PutU32(directory, record + 260, entry.flags);
        PutU32(directory, record + 264, static_cast<uint32_t>(entry.fileTime));
        PutU32(directory, record + 268, static_cast<uint32_t>(entry.fileTime >> 32));
        PutU32(directory, record + 272, entry.size);
        PutU32(directory, record + 276, entry.storedSize);
    }
    uint32_t directoryOffset = static_cast<uint32_t>(image.size());
    Bytes stream(CompressBound(directory.size()));
    static const unsigned char nothing = 0;
    size_t length = CompressBlock(directory.empty() ? &nothing : directory.data(), directory.size(),
                                  stream.data(), stream.size());
    REQUIRE(length > 0);
    image.insert(image.end(), stream.begin(), stream.begin() + length);
    memcpy(&image[0], "KT2", 4);
    PutU32(image, 4, ArchiveDirectoryCompressed);
    PutU32(image, 8, directoryOffset);
    PutU32(image, 12, static_cast<uint32_t>(entries.size()));
    return image;
}
