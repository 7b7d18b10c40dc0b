// What updpack does with the host's files, the same on every host: which files it refuses to read and in
// which words, how a file is read whole (and a file that changes meanwhile caught), how the temporary file
// beside an output is named, and the order in which outputs are made durable and put in place. The host's
// own calls are the primitives of host_system_posix.cpp and host_system_windows.cpp.
#include "tools/updpack/host_files.h"
#include "tools/updpack/host_system.h"
#include "tools/updpack/updpack.h"

#include "platform/text_format.h"

#include <cstdlib>

namespace {

// A file read whole is handed on with a 32-bit size, as the archive holds it.
const uint64_t LargestReadableFile = (uint64_t(1) << 32) - 1;

void ReportFailure(const char* label, const char* doing, const std::string& error) {
    Report("%s: %s: %s", label, doing, error.c_str());
}

} // namespace

unsigned char* ReadHostFile(const char* path, const char* label, uint64_t limit, HostLinkRule links,
                            uint32_t* size, uint64_t* fileTime) {
    HostOpenedFacts facts;
    std::string error;
    HostFile file = OpenHostFileForReading(path, links, &facts, &error);
    if (file == NoHostFile) {
        if (error.empty())
            Report("%s: %s", label, facts.notRegular);
        else
            ReportFailure(label, "cannot read", error);
        return nullptr;
    }
    const char* refusal = nullptr;
    if (facts.kind != HostRegularFile)
        refusal = facts.notRegular;
    else if (facts.size >= limit || facts.size > LargestReadableFile)
        refusal = "too large";
    else if (fileTime && !facts.timeKnown)
        refusal = "the last-write time cannot be written as a Windows file time";
    if (refusal) {
        Report("%s: %s", label, refusal);
        CloseHostFile(file);
        return nullptr;
    }
    if (fileTime) *fileTime = facts.fileTime;
    size_t expected = static_cast<size_t>(facts.size);
    // One byte more than expected is asked for at the end: a file that grew while read is caught too.
    size_t capacity = expected + 1;
    unsigned char* content = static_cast<unsigned char*>(malloc(capacity));
    size_t done = 0;
    int failed = !content;
    if (failed) Report("%s: out of memory for %zu bytes", label, expected);
    while (!failed) {
        size_t got = 0;
        if (!ReadHostFileChunk(file, content + done, capacity - done, &got, &error)) {
            ReportFailure(label, "cannot read", error);
            failed = 1;
        } else if (got == 0 || done + got > expected) {
            if (done + got != expected) {
                Report("%s: the file changed while it was read", label);
                failed = 1;
            }
            break;
        } else {
            done += got;
        }
    }
    CloseHostFile(file);
    if (failed) {
        free(content);
        return nullptr;
    }
    *size = static_cast<uint32_t>(expected);
    return content;
}

int CheckHostPath(const char* path, HostPathUse use, int mayBeMissing) {
    HostItemKind kind = HostSpecialFile;
    const char* what = "";
    if (!InspectHostPath(path, &kind, &what)) {
        if (!mayBeMissing) Report("%s: no such %s", path, use == HostFolderInUse ? "folder" : "file");
        return mayBeMissing;
    }
    if (kind == (use == HostFolderInUse ? HostSubfolder : HostRegularFile)) return 1;
    Report("%s: %s, not %s", path, what, use == HostFolderInUse ? "a folder" : "a regular file");
    return 0;
}

int BeginHostOutput(HostOutput& output, const char* finalPath) {
    output.handle = NoHostFile;
    output.finalPath = finalPath;
    output.temporaryPath.clear();
    if (!CheckHostPath(finalPath, HostFileInUse, 1)) return 0;
    std::string folder = HostFolderOf(output.finalPath);
    uint32_t seed = HostNameSeed();
    std::string error = "every temporary name is taken";
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        FormatText(suffix, sizeof suffix, "%06x", static_cast<unsigned>((seed + attempt * 7919u) & 0xFFFFFF));
        output.temporaryPath = HostJoin(folder, std::string(".updpack-") + suffix);
        int exists = 0;
        HostFile file = CreateNewHostFile(output.temporaryPath.c_str(), &exists, &error);
        if (file != NoHostFile) {
            output.handle = file;
            return 1;
        }
        if (!exists) break;
    }
    ReportFailure(finalPath, "cannot create a file beside it", error);
    output.temporaryPath.clear();
    return 0;
}

int WriteHostOutput(HostOutput& output, const void* data, size_t size) {
    std::string error;
    if (WriteHostFileWhole(output.handle, data, size, &error)) return 1;
    ReportFailure(output.finalPath.c_str(), "cannot write", error);
    return 0;
}

int WriteHostOutputAt(HostOutput& output, uint64_t offset, const void* data, size_t size) {
    std::string error;
    if (WriteHostFileAt(output.handle, offset, data, size, &error)) return 1;
    ReportFailure(output.finalPath.c_str(), "cannot write", error);
    return 0;
}

namespace {

int CloseOutputFile(HostOutput& output, const uint64_t* fileTime, int flush) {
    std::string error;
    int closed = FinishHostFile(output.handle, fileTime, flush, &error);
    output.handle = NoHostFile;
    if (closed) return 1;
    ReportFailure(output.finalPath.c_str(), "cannot write", error);
    AbandonHostOutput(output);
    return 0;
}

int MoveIntoPlace(HostOutput& output) {
    std::string error;
    if (!MoveHostFile(output.temporaryPath.c_str(), output.finalPath.c_str(), &error)) {
        ReportFailure(output.finalPath.c_str(), "cannot put the file in place", error);
        AbandonHostOutput(output);
        return 0;
    }
    output.temporaryPath.clear();
    return 1;
}

} // namespace

int FinishHostOutput(HostOutput& output, const uint64_t* fileTime) {
    if (!CloseOutputFile(output, fileTime, 1) || !MoveIntoPlace(output)) return 0;
    std::string error;
    std::string folder = HostFolderOf(output.finalPath);
    if (SyncHostFolderNames(folder, &error)) return 1;
    ReportFailure(folder.c_str(), "cannot write the folder", error);
    return 0;
}

int CloseHostOutput(HostOutput& output, const uint64_t* fileTime) {
    return CloseOutputFile(output, fileTime, !HostSyncsVolumes);
}

int PlaceHostOutputs(std::vector<HostOutput>& outputs) {
    int placed = 1;
    std::string error, synced;
    // Every file's data on the disk first, one volume flush per folder run, then the names.
    for (size_t i = 0; placed && HostSyncsVolumes && i < outputs.size(); ++i) {
        std::string folder = HostFolderOf(outputs[i].finalPath);
        if (folder == synced) continue;
        placed = SyncHostVolume(folder, &error);
        if (!placed) ReportFailure(outputs[i].finalPath.c_str(), "cannot write", error);
        synced = folder;
    }
    for (size_t i = 0; placed && i < outputs.size(); ++i)
        placed = MoveIntoPlace(outputs[i]);
    synced.clear();
    for (size_t i = 0; placed && i < outputs.size(); ++i) {
        std::string folder = HostFolderOf(outputs[i].finalPath);
        if (folder == synced) continue;
        placed = SyncHostFolderNames(folder, &error);
        if (!placed) ReportFailure(folder.c_str(), "cannot write the folder", error);
        synced = folder;
    }
    for (HostOutput& output : outputs)
        AbandonHostOutput(output);
    outputs.clear();
    return placed;
}

void AbandonHostOutput(HostOutput& output) {
    if (output.handle != NoHostFile) CloseHostFile(output.handle);
    output.handle = NoHostFile;
    if (!output.temporaryPath.empty()) DeleteHostFile(output.temporaryPath.c_str());
    output.temporaryPath.clear();
}
