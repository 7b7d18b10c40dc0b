// The primitives under updpack's host files: each does one thing with the host's own calls and says why it
// failed in the host's words, and nothing more. What is refused, what a message says, how a temporary name
// is formed and how a file is read whole is host_files.cpp's, the same on every host. Paths are UTF-8.
#pragma once

#include "tools/updpack/host_files.h"

#include <cstddef>
#include <cstdint>
#include <string>

// An open file of the host: a descriptor or a HANDLE; -1 when none.
typedef intptr_t HostFile;
const HostFile NoHostFile = -1;

// What an opened file is, taken from the open handle before a byte is read.
struct HostOpenedFacts {
    HostItemKind kind;
    const char* notRegular; // why a file that is not regular is not read, in the words of a message
    uint64_t size;
    int timeKnown; // 0 when the host's time has no FILETIME (before 1601)
    uint64_t fileTime;
};

// Opens path for reading without waiting (a pipe or a device answers at once) and tells what it is. With
// RefuseLinks a link is opened as itself, or found when opening it, and reported as kind HostLink with the
// file already closed. NoHostFile with the reason in error when it cannot be opened.
HostFile OpenHostFileForReading(const char* path, HostLinkRule links, HostOpenedFacts* facts,
                                std::string* error);
// What path names, links followed, without opening it: kind HostRegularFile, HostSubfolder or
// HostSpecialFile, or HostLink for a symbolic link that leads nowhere; what says so in the words of a
// message ("a named pipe (FIFO)"). 0 when nothing at all is at path.
int InspectHostPath(const char* path, HostItemKind* kind, const char** what);
// Reads up to wanted bytes (less at the end); 0 with the reason when reading fails.
int ReadHostFileChunk(HostFile file, void* buffer, size_t wanted, size_t* got, std::string* error);
void CloseHostFile(HostFile file);

// Creates a new file for writing, failing when path exists (*exists 1 then), with the permissions any new
// file gets.
HostFile CreateNewHostFile(const char* path, int* exists, std::string* error);
int WriteHostFileWhole(HostFile file, const void* data, size_t size, std::string* error);
// Writes at offset, leaving the position for the next WriteHostFileWhole at the end.
int WriteHostFileAt(HostFile file, uint64_t offset, const void* data, size_t size, std::string* error);
// Stamps the last-write time when fileTime is given, flushes when flush, and closes the file whatever
// happens.
int FinishHostFile(HostFile file, const uint64_t* fileTime, int flush, std::string* error);
// Renames from over to, written through where the host can say so.
int MoveHostFile(const char* from, const char* to, std::string* error);
void DeleteHostFile(const char* path);

// Whether files closed without a flush are made durable together by SyncHostVolume (POSIX: one flush of
// the volume), or each must be flushed as it is closed (Windows, where that needs administrator rights).
extern const int HostSyncsVolumes;
// Makes the data of every file on folder's volume durable; 1 where HostSyncsVolumes is 0.
int SyncHostVolume(const std::string& folder, std::string* error);
// Makes the names in folder durable after renames; 1 where the renames were written through.
int SyncHostFolderNames(const std::string& folder, std::string* error);

// The folder part of path (up to its last separator, without it), "." when there is none.
std::string HostFolderOf(const std::string& path);
// A number that differs between runs and processes, for temporary names.
uint32_t HostNameSeed();
