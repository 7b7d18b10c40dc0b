// The publisher's archive tool, updpack: the routines its commands are made of, shared by the command line
// (main.cpp) and the tests. Every routine that fails prints one message to stderr, prefixed "updpack: ",
// and returns 0; callers unwind without a second message.
#pragma once

#include "archive/archive_format.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// Process exit statuses.
enum : int { ToolSucceeded = 0, ToolFailed = 1, ToolUsage = 2 };

// Offsets in the image are 32-bit: a whole image must stay below this many bytes.
const uint64_t ArchiveImageLimit = uint64_t(1) << 32;

// report.cpp
void Report(const char* format, ...) __attribute__((format(printf, 1, 2)));

// name_conversion.cpp: names as the host writes them (UTF-8) and as the archive holds them (code page 932).
// ArchiveNameFromHost refuses a name that does not convert, does not convert back to the very same host name,
// holds a character no Windows file name may hold, or is longer than an entry's name field allows.
int ArchiveNameFromHost(const char* hostName, std::string& archiveName);
// HostNameFromArchive refuses what does not convert and anything that is not a bare file name here.
int HostNameFromArchive(const char* archiveName, std::string& hostName);
// Whether the updater would take the two archive names for the same entry (its case-insensitive compare).
int SameArchiveName(const char* a, const char* b);
// The name for messages: the host form when it converts, else the bytes with \xNN escapes.
std::string PrintableName(const char* archiveName);

// file_time.cpp: FILETIME values (100 ns units since 1601-01-01 UTC) as 64-bit numbers.
int FileTimeFromHost(const timespec& time, uint64_t* fileTime);
timespec HostTimeFromFileTime(uint64_t fileTime);
// "YYYY-MM-DD hh:mm:ss" in UTC.
void FormatFileTime(uint64_t fileTime, char* text, size_t capacity);
uint64_t EntryFileTime(const ArchiveEntry& entry);

// archive_writer.cpp: an archive image written into a temporary file beside its final path, renamed into
// place only when whole.
struct ArchiveWriter {
    int file;                  // descriptor of the temporary file, -1 when none is open
    std::string temporaryPath; // removed again unless FinishArchive renamed it
    std::string finalPath;
    uint64_t imageLimit; // the image must stay below this size
    uint64_t dataEnd;    // where the next entry's data go (a multiple of 16)
    std::vector<ArchiveEntry> entries;
};
int BeginArchive(ArchiveWriter& writer, const char* path, uint64_t imageLimit);
// Adds one entry: compressed when that makes it smaller, stored as is otherwise.
int AddArchiveEntry(ArchiveWriter& writer, const std::string& archiveName, uint64_t fileTime,
                    const unsigned char* content, uint32_t size);
// Writes the compressed directory and the header, then renames the image into place. The writer is
// closed afterwards, whatever the result.
int FinishArchive(ArchiveWriter& writer);
void AbandonArchive(ArchiveWriter& writer);

// folder_packing.cpp
struct PackedFile {
    std::string hostName;
    std::string archiveName;
};
// The regular files directly in folder, with their archive names, sorted by archive name; refuses names
// the archive cannot carry and names the updater could not tell apart. The file archivePath names (an
// earlier archive kept in the folder it packs) is left out.
int CollectFolder(const char* folder, const char* archivePath, std::vector<PackedFile>& files);
// updpack create. imageLimit is ArchiveImageLimit except in tests.
int CreateArchive(const char* archivePath, const char* folder, uint64_t imageLimit);

// archive_reader.cpp: an archive file read whole and its directory loaded by the updater's own reader.
struct OpenedArchive {
    unsigned char* image; // the file's bytes
    uint32_t imageSize;
    unsigned char* block; // LoadArchive's header and plain directory
    const ArchiveHeader* header;
    const ArchiveEntry* entries;
};
int OpenArchive(const char* path, OpenedArchive& archive);
void CloseArchive(OpenedArchive& archive);
// Where each entry's data start, walked as the updater walks them; refuses entries whose data do not lie
// between the header and the directory.
int LocateEntries(const OpenedArchive& archive, const char* path, std::vector<uint32_t>& dataOffsets);
// The entry's content: a pointer into the image (owned 0) or a new malloc buffer (owned 1) of exactly its
// size. consumed (may be null) receives the bytes the entry's stream took, or its size when stored as is.
int DecodeEntry(const OpenedArchive& archive, const char* path, uint32_t index, uint32_t dataOffset,
                const unsigned char** content, int* owned, uint32_t* consumed);

// archive_commands.cpp: updpack list, test and extract.
int ListArchive(const char* archivePath);
int TestArchive(const char* archivePath);
int ExtractArchive(const char* archivePath, const char* folder);
