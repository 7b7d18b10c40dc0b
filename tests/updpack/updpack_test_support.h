// Helpers of the updpack tests: scratch folders, files with given bytes and times, running the tool as a
// program, catching what a routine prints on stderr, and archive images built record by record.
// Literals in the tests are code page 932 (the build's execution character set); u8"" literals are UTF-8,
// as host file names are.
#pragma once

#include "context/archive_format.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

typedef std::vector<unsigned char> Bytes;

// A fresh folder under the build folder, removed with everything in it when the test ends. A folder of
// many files goes to memory (/dev/shm) where the host has it: on a busy disk, creating and removing tens of
// thousands of files takes minutes, whatever the tool does.
enum ScratchPlace { ScratchOnDisk, ScratchInMemory };
struct ScratchFolder {
    std::string path;
    explicit ScratchFolder(ScratchPlace place = ScratchOnDisk);
    ~ScratchFolder();
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

void WriteHostFile(const std::string& path, const Bytes& content, timespec lastWrite);
void WriteHostFile(const std::string& path, const std::string& content);
int ReadHostFile(const std::string& path, Bytes& content);
int HostFileExists(const std::string& path);
timespec HostLastWrite(const std::string& path);
std::vector<std::string> FolderNames(const std::string& folder);
timespec UtcTime(int year, int month, int day, int hour, int minute, int second, long nanoseconds);

// Runs the built updpack with the arguments (each quoted for the shell); output gets stdout and stderr.
int RunTool(const std::vector<std::string>& arguments, std::string& output);
// The same, but a run that has not ended after seconds is killed and gives 124 (a tool that would wait for
// ever fails the test instead of stalling it).
int RunToolWithin(int seconds, const std::vector<std::string>& arguments, std::string& output);

// Runs a routine of the tool in this process and keeps what it writes to stdout and stderr.
struct SavedOutput {
    int out, error;
};
SavedOutput BeginCapture();
std::string EndCapture(SavedOutput saved);
template <typename Routine> int CaptureOutput(std::string& text, Routine routine) {
    SavedOutput saved = BeginCapture();
    int result = routine();
    text = EndCapture(saved);
    return result;
}

// One record of a hand-built archive and the bytes it keeps in the data area.
struct ImageEntry {
    std::string name; // archive bytes
    uint32_t flags;
    uint64_t fileTime;
    uint32_t size;
    uint32_t storedSize;
    Bytes stored;
};
ImageEntry CompressedEntry(const std::string& name, const Bytes& content);
ImageEntry StoredEntry(const std::string& name, const Bytes& content);
// Header, padded data and compressed directory, as the tool lays them out.
Bytes BuildImage(const std::vector<ImageEntry>& entries);
void PutU32(Bytes& image, size_t offset, uint32_t value);
uint32_t GetU32(const Bytes& image, size_t offset);
