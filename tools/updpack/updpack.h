// The publisher's archive tool, updpack: the routines its commands are made of, shared by the command line
// (main.cpp) and the tests. Every routine that fails prints one message to stderr, prefixed "updpack: ",
// and returns 0; callers unwind without a second message.
#pragma once

#include "context/archive_format.h"
#include "tools/updpack/host_files.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

// Process exit statuses.
enum : int { ToolSucceeded = 0, ToolFailed = 1, ToolUsage = 2 };
// The status of a command that did its work (done 1) or not: a message box that the updater's code reached
// inside the tool is a fault nobody saw on screen, so it fails the command too, with a closing message.
int ToolStatus(int done);

// Offsets in the image are 32-bit: a whole image must stay below this many bytes.
const uint64_t ArchiveImageLimit = uint64_t(1) << 32;

// report.cpp
void Report(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
// Makes Report on this thread append its lines to held instead of writing them; null writes again.
void HoldReports(std::string* held);

// ordered_work.cpp: work on every core, taken in order.
// The workers a run uses: UPDPACK_WORKERS when it is a number from 1 (to measure, or to compare with one
// worker), else one a core; 1 where the build has no threads.
unsigned WorkerCount();
// Runs work(i) for every item i on up to workers threads, and deliver(i, what work(i) returned, said) on
// the calling thread in the order of the items. The Report lines of work(i) come out when item i is
// delivered, then what deliver puts in said (on stdout), then deliver's own Report lines. The first
// deliver that returns 0 ends the run: no item after it is delivered, and none more is begun. sizes[i]
// is item i's bytes. Each worker works on one item at a time; the items worked on and waiting for their
// turn are at most one a worker, except that a worker begins another item while the finished items
// waiting hold at most AheadBytesLimit bytes (a small file need not wait for a large one before it). On a
// terminal, a run that lasts shows its progress on stderr (ProgressMeter). Returns what the last deliver
// returned (1 when there are no items).
const uint64_t AheadBytesLimit = uint64_t(32) << 20;
int RunInOrder(const std::vector<uint64_t>& sizes, unsigned workers, const std::function<int(size_t)>& work,
               const std::function<int(size_t, int, std::string&)>& deliver);

// progress_meter.cpp: the progress line of a run that lasts, drawn over itself on a terminal.
struct ProgressMeter {
    FILE* out;      // the terminal's stream; null: nothing is shown
    double start;   // seconds on ProgressClock when the run began
    double drawnAt; // when the line was last drawn (start before the first time)
    int drawn;      // the line was drawn at least once: the end completes it with a line feed
    size_t files, filesDone;
    uint64_t bytes, bytesDone;
    size_t shownLength; // characters of the line on screen now; 0 when it is off
};
// Nothing is shown before the run has lasted ProgressDelay seconds, and the line is drawn at most once
// every ProgressInterval seconds.
const double ProgressDelay = 2.0;
const double ProgressInterval = 0.25;
// Seconds from an arbitrary start, never going back.
double ProgressClock();
// "3/40 files, 12.5/80.0 MB, about 1 min 05 s left": the time left as the bytes done so far foretell it
// (files where there are no bytes).
void FormatProgress(char* text, size_t capacity, size_t filesDone, size_t files, uint64_t bytesDone,
                    uint64_t bytes, double elapsed);
void BeginProgress(ProgressMeter& meter, FILE* out, size_t files, uint64_t bytes, double now);
// Takes the counts, and draws them over the line when it is due.
void ShowProgress(ProgressMeter& meter, size_t filesDone, uint64_t bytesDone, double now);
// Takes the line off the screen, for a message to take its place; the next drawing puts it back.
void ClearProgress(ProgressMeter& meter);
// Draws the last counts and ends the line, when the line was ever shown.
void EndProgress(ProgressMeter& meter, double now);

// name_conversion.cpp: names as the host writes them (UTF-8) and as the archive holds them (code page 932).
// ArchiveNameFromHost refuses a name that does not convert, does not convert back to the very same host name,
// is no name Windows can hold as written (WindowsNameProblem), or is longer than an entry's name field
// allows.
int ArchiveNameFromHost(const char* hostName, std::string& archiveName);
// HostNameFromArchive refuses what does not convert, anything that is not a bare file name here, and what
// Windows cannot hold as written.
int HostNameFromArchive(const char* archiveName, std::string& hostName);
// Why Windows would not hold the (UTF-8) name as written, or null: a control character or one of \ / : * ?
// " < > | (a colon names a stream of another file), a dot or space at the end (dropped), or a device name
// (CON, PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9, CONIN$, CONOUT$) with or without an extension.
const char* WindowsNameProblem(const char* hostName);
// Whether the updater would take the two archive names for the same entry (its case-insensitive compare).
int SameArchiveName(const char* a, const char* b);
// For each name, the index of the first name in the list that the updater takes for the same (its own index
// when none before it is); found by sorting under ArchiveNameSortKey, in O(n log n).
void FirstOfSameNames(const std::vector<const char*>& archiveNames, std::vector<size_t>& first);
// The name for messages: the host form when it converts, else the bytes with \xNN escapes.
std::string PrintableName(const char* archiveName);

// file_time.cpp: FILETIME values (100 ns units since 1601-01-01 UTC) as 64-bit numbers.
int FileTimeFromHost(const timespec& time, uint64_t* fileTime);
timespec HostTimeFromFileTime(uint64_t fileTime);
// "YYYY-MM-DD hh:mm:ss" in UTC.
void FormatFileTime(uint64_t fileTime, char* text, size_t capacity);
uint64_t EntryFileTime(const ArchiveEntry& entry);

// archive_writer.cpp: an archive image written into a temporary file beside its final path, renamed into
// place only when whole, or into memory.
struct ArchiveWriter {
    HostOutput output;                  // the file being written, when not in memory
    std::vector<unsigned char>* memory; // the image being written, or null
    std::string finalPath;              // the archive's path, or what messages call the image in memory
    uint64_t imageLimit;                // the image must stay below this size
    uint64_t dataEnd;                   // where the next entry's data go (a multiple of 16)
    std::vector<ArchiveEntry> entries;
};
int BeginArchive(ArchiveWriter& writer, const char* path, uint64_t imageLimit);
int BeginArchiveInMemory(ArchiveWriter& writer, const char* label, uint64_t imageLimit,
                         std::vector<unsigned char>* image);
// A whole entry is compressed when that makes it smaller, stored as is otherwise; the two steps may run on
// different threads. CompressEntry: the compressed form in a new malloc buffer of *streamSize bytes, or null
// when compressing does not make the entry smaller (it stores content as is); 0 when no memory was to be
// had, reported with label (the archive's name in messages).
int CompressEntry(const std::string& label, const std::string& archiveName, const unsigned char* content,
                  uint32_t size, unsigned char** stream, uint32_t* streamSize);
// AddWholeEntry: the entry of content, stored as stream when that is given, else as content.
int AddWholeEntry(ArchiveWriter& writer, const std::string& archiveName, uint64_t fileTime,
                  const unsigned char* content, uint32_t size, const unsigned char* stream,
                  uint32_t streamSize);
// Adds a patch entry (ArchiveEntryPatch): the patch stored as it is, the result's size as the entry's.
int AddPatchEntry(ArchiveWriter& writer, const std::string& archiveName, uint64_t fileTime,
                  const std::vector<unsigned char>& patch, uint32_t resultSize);
// Writes the compressed directory and the header, then renames a file image into place. The writer is
// closed afterwards, whatever the result; a memory image is emptied on failure.
int FinishArchive(ArchiveWriter& writer);
void AbandonArchive(ArchiveWriter& writer);

// folder_packing.cpp
struct PackedFile {
    std::string hostName;
    std::string archiveName;
    std::string basePath; // build --base: the previous release of the file (host path), or empty
    uint64_t size = 0;    // bytes, as the folder's listing gave them (for progress and memory bounds)
};
// How updpack build --base packs a file whose previous release it has.
struct PatchChoice {
    const char* baseFolder; // null: no patches
    int keepWhole;          // carry the whole file as well
};
// The regular files directly in folder, with their archive names, sorted by archive name; refuses names
// the archive cannot carry and names the updater could not tell apart. The file archivePath names (an
// earlier archive kept in the folder it packs) is left out.
int CollectFolder(const char* folder, const char* archivePath, std::vector<PackedFile>& files);
// Adds the collected files to a begun archive and finishes it; abandons it on failure. A file with a base
// path goes in as a patch when that is at most 90 % of its whole entry (patch_packing.cpp), and whole too
// with choice.keepWhole. The files are compressed and patched on WorkerCount() threads and written in
// their order: the image is the same whatever the number of workers.
int PackFiles(ArchiveWriter& writer, const char* folder, const std::vector<PackedFile>& files,
              const PatchChoice& choice = PatchChoice{nullptr, 0});
// updpack create. imageLimit is ArchiveImageLimit except in tests.
int CreateArchive(const char* archivePath, const char* folder, uint64_t imageLimit);

// patch_packing.cpp: patches in updpack build --base.
// Sets the base path of each file that an "UpdateFileNN" of the folder's "UPDATE.INI" lists, not as a
// data file ("d"), and whose previous release is at the same path in baseFolder; a file listed more than
// once keeps none. Reports what it leaves whole and why.
int FindPatchBases(const char* folder, const char* baseFolder, std::vector<PackedFile>& files);
// A packed file made ready for its entries by any thread (EncodeFileEntries), then written by the
// archive's thread in the files' order (WriteFileEntries); ReleaseEncodedFile frees what is left.
enum PatchOutcome {
    PatchNotWanted,   // no base: the whole entry only
    PatchNotMade,     // the base is too large to index, or the memory was not to be had
    PatchSavesLittle, // the patch is over 90 % of the whole entry: the whole entry only
    PatchTaken        // the patch, and the whole entry before it with keepWhole
};
struct EncodedFile {
    unsigned char* content = nullptr; // the file's bytes (malloc), while the whole entry stores them as is
    uint32_t size = 0;
    uint64_t fileTime = 0;
    unsigned char* stream = nullptr; // the whole entry compressed (malloc), or null
    uint32_t streamSize = 0;
    uint64_t wholeSize = 0; // the whole entry's stored bytes
    size_t patchSize = 0;   // the patch's bytes, when one was made (kept or not)
    int whole = 0;          // the whole entry goes in
    PatchOutcome outcome = PatchNotWanted;
    std::vector<unsigned char> patch; // kept when taken
};
// Reads the file from folder, makes its patch when it has a base path, and compresses it whole, keeping
// only what its entries need: its patch when that is at most 90 % of the whole entry, and the whole entry
// when the patch is not taken or keepWhole asks for both. label names the archive in messages.
int EncodeFileEntries(const char* folder, const PackedFile& file, const std::string& label, int keepWhole,
                      EncodedFile& encoded);
// Adds the file's entries (the whole one before the patch), and puts in said the line that tells, for a
// file with a base, what was stored and why.
int WriteFileEntries(ArchiveWriter& writer, const PackedFile& file, const EncodedFile& encoded,
                     std::string& said);
void ReleaseEncodedFile(EncodedFile& encoded);
// Whether this build makes patches (the Windows build does not: no suffix sorter).
int PatchesAvailable();
// The file in baseFolder or its sub-folders that the updater would take for the entry's name and whose
// size and digest are the patch's base, as a host path in basePath; 0 when there is none.
int FindBaseFile(const char* baseFolder, const char* archiveName, const unsigned char* patch,
                 uint32_t patchSize, std::string& basePath);

// archive_reader.cpp: an archive read whole and its directory loaded by the updater's own reader. The
// archive is a file of its own or the "UPDATE" resource (id 102) of an updater program.
struct OpenedArchive {
    unsigned char* image; // the archive's bytes (a copy of the resource, for a program)
    uint32_t imageSize;
    unsigned char* block; // LoadArchive's header and plain directory
    const ArchiveHeader* header;
    const ArchiveEntry* entries;
};
int OpenArchive(const char* path, OpenedArchive& archive);
// The same for a file already read whole (taken over: freed, or kept as the archive's image).
int OpenArchiveFile(unsigned char* image, uint32_t size, const char* path, OpenedArchive& archive);
// An archive image in memory (taken over: freed by CloseArchive); label names it in messages.
int OpenArchiveImage(unsigned char* image, uint32_t imageSize, const char* label, OpenedArchive& archive);
void CloseArchive(OpenedArchive& archive);
// Where each entry's data start, walked as the updater walks them; refuses entries whose data do not lie
// between the header and the directory.
int LocateEntries(const OpenedArchive& archive, const char* path, std::vector<uint32_t>& dataOffsets);
// The entry's content: a pointer into the image (owned 0) or a new malloc buffer (owned 1) of exactly its
// size. consumed (may be null) receives the bytes the entry's stream took, or its size when stored as is.
int DecodeEntry(const OpenedArchive& archive, const char* path, uint32_t index, uint32_t dataOffset,
                const unsigned char** content, int* owned, uint32_t* consumed);

// updater_program.cpp: the updater program as a carrier of the archive.
// The "UPDATE" resource of id 102 that the updater finds (language 1041 first, else the first language).
enum { UpdateResourceId = 102, UpdateResourceLanguage = 1041 };
// Whether the bytes start as a Windows program does ("MZ"); an archive never does.
int LooksLikeProgram(const unsigned char* image, size_t size);
// The archive of an updater program, as a new malloc buffer; refuses a damaged or foreign program and one
// without the resource.
unsigned char* ArchiveOfProgram(const unsigned char* program, size_t size, const char* label,
                                uint32_t* archiveSize);
// The stub with the archive as its "UPDATE"/102/1041 resource, replacing any earlier "UPDATE"/102, every
// other resource kept. output receives the whole program.
int EmbedArchive(const unsigned char* stub, size_t stubSize, const char* stubLabel,
                 const std::vector<unsigned char>& archive, std::vector<unsigned char>& output);

// build_checks.cpp: what the updater will read from the folder, checked with its own readers.
// Problems are each reported and make the result 0; warnings are reported and change nothing.
int CheckUpdateFolder(const char* folder, const std::vector<PackedFile>& files);
// Whether text is code page 932 that the updater shows as meant: 0 with the reasons for bytes that are no
// code page 932 character, for text that reads as UTF-8, and for a line feed without a carriage return.
int CheckShownText(const unsigned char* text, size_t size, std::string& reasons);

// build_command.cpp: updpack build. stubPath null: the first of StubCandidates that exists. force: the
// problems CheckUpdateFolder finds are reported but do not stop the build (for testing how the updater
// meets a faulty folder); names the archive cannot hold and an unusable stub still do.
// choice: build --base and --keep-whole.
int BuildUpdater(const char* outputPath, const char* folder, const char* stubPath, int force,
                 const PatchChoice& choice = PatchChoice{nullptr, 0});
// Where the stub is looked for without --stub, in order (the installed layout first).
std::vector<std::string> StubCandidates();
extern const char* const InstalledStubName;

// json_output.cpp: a JSON string (quotes included) of UTF-8 text, and code page 932 text as UTF-8 (bytes that
// do not convert as \xNN).
std::string JsonString(const std::string& utf8);
std::string TextFromArchive(const char* text);

// archive_commands.cpp: updpack list, test and extract. json: one JSON document on stdout instead of the
// table; messages still go to stderr.
int ListArchive(const char* archivePath, int json);
// baseFolder (--base, may be null): the previous release, where patch entries find their base (any file of
// the entry's name, in any sub-folder, whose size and digest the patch names). Without it test reads only a
// patch's header, and extract refuses a patch that has no whole entry beside it.
int TestArchive(const char* archivePath, int json, const char* baseFolder = nullptr);
int ExtractArchive(const char* archivePath, const char* folder, const char* baseFolder = nullptr);

// diff_command.cpp: updpack diff. OUT becomes an update folder that build takes: the new and changed files
// of newDir (by content) under their bare names, and an "UPDATE.INI" (code page 932, CR LF) with the
// "[SETUP]" of setupFile (or of OUT's own "UPDATE.INI"), one "UpdateFileNN" per file by its path in a stable
// order (plain, or the mode OUT's "UPDATE.INI" gave that path), and RequiredDiskSpace. Refuses, writing
// nothing: OUT holding anything but an "UPDATE.INI", more files than the list holds, two files of one name.
int DiffReleases(const char* oldDir, const char* newDir, const char* outDir, const char* setupFile);
// RequiredDiskSpace for an update that prepares that many bytes beside the installed files before it
// replaces any: the updater reads the value as a signed 32-bit number, so it is capped (*capped 1).
const uint64_t RequiredDiskSpaceLimit = 2147483647;
uint32_t RequiredDiskSpaceFor(uint64_t preparedBytes, int* capped);

// plan_command.cpp: updpack plan. What the updater in archivePath would do to the installation in gameDir,
// decided by the updater's own routines over the files as they are; nothing is written.
struct PlanOptions {
    const char* dataDir;               // DataPath; null: none given
    uint32_t variant;                  // InstMode
    uint32_t add;                      // InstAdd
    std::vector<std::string> discDirs; // each a disc in a CD-ROM drive, searched in this order
    int json;
};
int PlanUpdate(const char* archivePath, const char* gameDir, const PlanOptions& options);
