// What updpack needs from the machine it runs on: its arguments, folder listings, whole-file reads, files
// written beside their final path and renamed into place, file times, and the conversion of names between
// the host's form and code page 932. Host names and paths are UTF-8 everywhere in the tool; only
// host_files_posix.cpp and host_files_windows.cpp know how the host spells them. Every routine that fails
// reports once (Report) and returns 0 or null.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The command line as UTF-8 texts, the program's name first. On Windows the arguments are read as UTF-16.
int HostArguments(int argc, char** argv, std::vector<std::string>& arguments);
// The folder that holds the running program, or empty when the host does not say.
std::string HostProgramFolder();
// folder joined with name by the host's separator.
std::string HostJoin(const std::string& folder, const std::string& name);

// The same file as seen through two paths: device and file number (POSIX), volume and file index (Windows).
struct HostFileId {
    uint64_t volume, file;
    int known; // 0 when the path names nothing that exists
};
HostFileId HostFileIdentity(const char* path);
int SameHostFile(const HostFileId& a, const HostFileId& b);

// What a folder's entry is, as the entry itself (a link is not followed).
enum HostItemKind {
    HostRegularFile,
    HostSubfolder,
    HostLink,       // a symbolic link (a reparse point on Windows), dangling or not
    HostSpecialFile // a named pipe, device or socket: reading one could block or never end
};
struct HostFolderItem {
    std::string name; // UTF-8
    HostItemKind kind;
    uint64_t size;
    uint64_t fileTime; // last write as a FILETIME
    int timeKnown;     // 0 when the host's time has no FILETIME (before 1601)
    HostFileId id;
};
// The entries directly in folder except "." and "..", in the host's order. A name the host cannot give as
// UTF-8 is reported and fails the listing after the rest is read.
int ListHostFolder(const char* folder, std::vector<HostFolderItem>& items);

// Whether ReadHostFile takes a path that is a symbolic link: a path the user gives may be one, a file
// listed in a folder to pack may not (it was listed as a file of its own and must still be one).
enum HostLinkRule { FollowLinks, RefuseLinks };
// Reads the whole regular file at path into a new malloc buffer. A file of limit bytes or more, one that
// is not a regular file, or one that changes size while read is refused; label names it in messages. The
// file is opened without waiting and checked before a byte is read, so a named pipe or a device is refused
// at once rather than read for ever.
unsigned char* ReadHostFile(const char* path, const char* label, uint64_t limit, HostLinkRule links,
                            uint32_t* size, uint64_t* fileTime);
// Whether path names a folder.
int IsHostFolder(const char* path);
// Refuses by name, with one message, a path that is not what a command takes it for: a regular file or a
// folder (a symbolic link to one is fine). A named pipe, a device, a socket, a link that leads nowhere and
// the other kind are refused without opening anything, so nothing waits; with mayBeMissing, nothing at
// path is fine (a file to write, a folder to create).
enum HostPathUse { HostFileInUse, HostFolderInUse };
int CheckHostPath(const char* path, HostPathUse use, int mayBeMissing);
// Creates folder and the folders above it that are missing.
int MakeHostFolders(const char* folder);

// A file that grows in a temporary file beside finalPath and replaces it only when whole, so that a failed
// run leaves any earlier file as it was. Nothing is left behind by AbandonHostOutput. The temporary name is
// short and of its own form (".updpack-" and a unique suffix), never longer than the final name needs:
// a final name at the file system's length limit still gets written.
// BeginHostOutput refuses a finalPath that is anything but a regular file or nothing (CheckHostPath): the
// rename would put a file in the place of a device, a pipe or a link.
struct HostOutput {
    intptr_t handle;           // descriptor or HANDLE; -1 when none is open
    std::string temporaryPath; // removed again unless FinishHostOutput renamed it
    std::string finalPath;
};
int BeginHostOutput(HostOutput& output, const char* finalPath);
int WriteHostOutput(HostOutput& output, const void* data, size_t size);
// Writes over bytes already written, at offset from the start.
int WriteHostOutputAt(HostOutput& output, uint64_t offset, const void* data, size_t size);
// Flushes, stamps the file with fileTime as its last-write time when one is given, closes and renames the
// file into place. The output is closed afterwards, whatever the result.
int FinishHostOutput(HostOutput& output, const uint64_t* fileTime);
void AbandonHostOutput(HostOutput& output);
// Many files finished together (extract): CloseHostOutput stamps and closes one, leaving it beside its place;
// PlaceHostOutputs makes every closed one durable and renames each into place, then empties the list. A flush
// per file costs a commit of the file system's journal each, which for thousands of small files is minutes;
// on POSIX hosts the files are flushed at once. On failure every output still in the list is abandoned.
int CloseHostOutput(HostOutput& output, const uint64_t* fileTime);
int PlaceHostOutputs(std::vector<HostOutput>& outputs);

// A private copy of content in the host's temporary folder, named as the platform's profile reader takes
// paths (the ANSI code page on Windows), for reading with the updater's own readers. RemoveProfileCopy
// deletes it again.
int MakeProfileCopy(const unsigned char* content, size_t size, char* path, size_t capacity);
void RemoveProfileCopy(const char* path);

// A key for an archive name (code page 932) under which every two names the updater's case-insensitive
// compare (lstrcmpiA) takes for the same are equal, so that sorting by it brings them together. On POSIX
// hosts it follows the platform stand-in's compare exactly (equal keys exactly for equal names); on
// Windows it is the system's own sort key of that compare.
std::string ArchiveNameSortKey(const char* archiveName);

// Message boxes the updater's code showed inside the tool. On Linux each went to standard error (no one can
// answer one there); on Windows a box is on screen for the user to answer, and none is counted.
int HostMessageBoxesShown();

// Whether standard error is a terminal (a console on Windows), where a progress line can be drawn over
// itself.
int HostErrorIsTerminal();

// Converts UTF-8 to code page 932 and back exactly; 0 when a character has no form on the other side.
int CodePage932FromUtf8(const char* text, std::string& result);
int Utf8FromCodePage932(const char* text, std::string& result);
