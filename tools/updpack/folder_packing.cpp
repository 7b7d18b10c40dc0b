// updpack create: every regular file directly in a folder becomes an entry, named in code page 932 and
// stamped with its last-write time, in the order of the names' bytes so that the same folder always gives
// the same image. Everything that can be refused is refused before the archive is begun.
#include "tools/updpack/updpack.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {
// The archive's size fields are 32-bit.
const uint64_t EntrySizeLimit = uint64_t(1) << 32;

// Checks what the listing says about a file: a size the archive can record and a time it can hold.
int CheckFileStatus(const HostFolderItem& item) {
    if (item.size >= EntrySizeLimit) {
        Report("\"%s\": the file has %llu bytes; an entry holds less than 4 GiB", item.name.c_str(),
               static_cast<unsigned long long>(item.size));
        return 0;
    }
    if (!item.timeKnown) {
        Report("\"%s\": the last-write time cannot be written as a Windows file time", item.name.c_str());
        return 0;
    }
    return 1;
}
} // namespace

int CollectFolder(const char* folder, const char* archivePath, std::vector<PackedFile>& files) {
    files.clear();
    HostFileId archive = HostFileIdentity(archivePath);
    std::vector<HostFolderItem> items;
    int collected = ListHostFolder(folder, items);
    if (!collected && items.empty() && !IsHostFolder(folder)) return 0;
    for (const HostFolderItem& item : items) {
        if (item.kind == HostSubfolder) {
            Report("skipping \"%s\": a folder (only the files directly in the folder are packed)",
                   item.name.c_str());
            continue;
        }
        // A link would pack whatever it points to under the link's name, wherever that lies (or fail the
        // run when it points nowhere); the publisher decides by putting the file itself in the folder.
        if (item.kind == HostLink) {
            Report("\"%s\": a symbolic link; only files themselves are packed: to pack the file it points "
                   "to, copy that file into the folder in the link's place (cp -L)",
                   item.name.c_str());
            collected = 0;
            continue;
        }
        if (item.kind == HostSpecialFile) {
            Report("\"%s\": a named pipe, device or socket, not a regular file", item.name.c_str());
            collected = 0;
            continue;
        }
        if (SameHostFile(item.id, archive)) {
            Report("skipping \"%s\": the archive being written", item.name.c_str());
            continue;
        }
        PackedFile file;
        file.hostName = item.name;
        file.size = item.size;
        // Each refusal is reported, so that one run names every file the publisher has to rename.
        if (!ArchiveNameFromHost(item.name.c_str(), file.archiveName) || !CheckFileStatus(item)) {
            collected = 0;
            continue;
        }
        files.push_back(file);
    }

    std::sort(files.begin(), files.end(),
              [](const PackedFile& a, const PackedFile& b) { return a.archiveName < b.archiveName; });
    std::vector<const char*> names;
    for (const PackedFile& file : files)
        names.push_back(file.archiveName.c_str());
    std::vector<size_t> first;
    FirstOfSameNames(names, first);
    for (size_t i = 0; i < files.size(); ++i) {
        if (first[i] == i) continue;
        Report("\"%s\" and \"%s\": the updater does not tell these names apart",
               files[first[i]].hostName.c_str(), files[i].hostName.c_str());
        collected = 0;
    }
    return collected;
}

int PackFiles(ArchiveWriter& writer, const char* folder, const std::vector<PackedFile>& files,
              const PatchChoice& choice) {
    std::vector<EncodedFile> encoded(files.size());
    std::vector<uint64_t> sizes;
    for (const PackedFile& file : files)
        sizes.push_back(file.size);
    // The workers read the archive's name for their messages while the writer grows the archive.
    const std::string label = writer.finalPath;
    int packed = RunInOrder(
        sizes, WorkerCount(),
        [&](size_t i) { return EncodeFileEntries(folder, files[i], label, choice.keepWhole, encoded[i]); },
        [&](size_t i, int worked, std::string& said) {
            int written = worked && WriteFileEntries(writer, files[i], encoded[i], said);
            ReleaseEncodedFile(encoded[i]);
            return written;
        });
    // Files a worker finished after the run stopped.
    for (EncodedFile& file : encoded)
        ReleaseEncodedFile(file);
    if (!packed) {
        AbandonArchive(writer);
        return 0;
    }
    return FinishArchive(writer);
}

int CreateArchive(const char* archivePath, const char* folder, uint64_t imageLimit) {
    std::vector<PackedFile> files;
    if (!CollectFolder(folder, archivePath, files)) return 0;
    ArchiveWriter writer;
    if (!BeginArchive(writer, archivePath, imageLimit) || !PackFiles(writer, folder, files)) return 0;
    printf("%s: %zu entries\n", archivePath, files.size());
    return 1;
}
