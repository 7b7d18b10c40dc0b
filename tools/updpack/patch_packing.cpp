// Patches in the tool: which packed files have a previous release to patch against (read from the folder's
// "UPDATE.INI" with the updater's own readers), the choice between a file's patch and its whole entry, and
// finding a patch's base again in a release folder for test and extract.
#include "tools/updpack/updpack.h"

#include "archive/content_digest.h"
#include "archive/patch_decoder.h"
#include "context/update_plan_model.h"
#include "platform/text_format.h"
#include "setupcfg/profile_access.h"
#include "tools/packer/patch_encoder.h"
#include "tools/packer/stream_encoder.h"
#include "update/update_plan.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
// A patch is kept only when it saves at least a tenth of the whole entry.
const uint64_t PatchShareLimitPercent = 90;
// The suffix array of the base takes four bytes a byte: the encoder indexes bases below 2 GiB.
const uint64_t BaseSizeLimit = uint64_t(1) << 31;
// The archive's size fields are 32-bit.
const uint64_t EntrySizeLimit = uint64_t(1) << 32;
const int FolderDepthLimit = 32;

int IsLeadByte932(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// The item's path below a release folder as a host path, each part converted as an entry name is; 0 when
// a part does not convert or names no bare file or folder.
int HostPathBelow(const char* folder, const char* archivePath, std::string& hostPath) {
    hostPath = folder;
    std::string part;
    for (const char* p = archivePath;; ++p) {
        if (*p && IsLeadByte932(static_cast<unsigned char>(*p)) && p[1]) {
            part += p[0];
            part += p[1];
            ++p;
            continue;
        }
        if (*p && *p != '\\' && *p != '/') {
            part += *p;
            continue;
        }
        std::string hostPart;
        if (part.empty() || !HostNameFromArchive(part.c_str(), hostPart)) return 0;
        hostPath = HostJoin(hostPath, hostPart);
        part.clear();
        if (!*p) return 1;
    }
}

struct ListedItem {
    std::string path; // code page 932, as "UPDATE.INI" gives it
    int32_t mode;
};

// The "UpdateFileNN" items of the folder's "UPDATE.INI", read as the updater reads them.
int ReadListedItems(const char* folder, const std::vector<PackedFile>& files,
                    std::vector<ListedItem>& items) {
    const PackedFile* profile = nullptr;
    for (const PackedFile& file : files)
        if (SameArchiveName(file.archiveName.c_str(), "UPDATE.INI")) profile = &file;
    if (!profile) return 0;
    uint32_t size = 0;
    std::string label = "\"" + profile->hostName + "\"";
    unsigned char* content = ReadHostFile(HostJoin(folder, profile->hostName).c_str(), label.c_str(),
                                          uint64_t(1) << 32, RefuseLinks, &size, nullptr);
    char copy[260];
    int copied = content && MakeProfileCopy(content, size, copy, sizeof copy);
    free(content);
    if (!copied) return 0;
    SavedProfileFields saved;
    int read = BeginProfileReading(copy, nullptr, &saved);
    if (read) {
        char value[1024];
        for (int index = 0; index < UpdateListCapacity; ++index) {
            char key[32];
            FormatText(key, sizeof key, "UpdateFile%02i", index);
            if (!ReadProfileValue("UPDATE", key, value, sizeof value)) break;
            UpdateItem item;
            int variant;
            ParseUpdateValue(value, &item, &variant);
            if (!item.pathCut && item.path[0]) items.push_back({item.path, item.mode});
        }
        EndProfileReading(&saved);
    }
    RemoveProfileCopy(copy);
    return read;
}

const char* BaseName(const std::string& path) {
    const char* name = path.c_str();
    for (const char* p = path.c_str(); *p; ++p) {
        if (IsLeadByte932(static_cast<unsigned char>(*p)) && p[1]) {
            ++p;
        } else if (*p == '\\' || *p == '/') {
            name = p + 1;
        }
    }
    return name;
}

int SearchBase(const std::string& folder, const char* archiveName, const PatchHeader& header, int depth,
               std::string& basePath) {
    std::vector<HostFolderItem> items;
    if (depth > FolderDepthLimit || !ListHostFolder(folder.c_str(), items)) return 0;
    for (const HostFolderItem& item : items) {
        std::string path = HostJoin(folder, item.name);
        if (item.kind == HostSubfolder) {
            if (SearchBase(path, archiveName, header, depth + 1, basePath)) return 1;
            continue;
        }
        std::string name;
        if (item.kind != HostRegularFile || item.size != header.baseSize ||
            !ArchiveNameFromHost(item.name.c_str(), name) || !SameArchiveName(name.c_str(), archiveName))
            continue;
        uint32_t size = 0;
        unsigned char* content =
            ReadHostFile(path.c_str(), path.c_str(), uint64_t(1) << 32, FollowLinks, &size, nullptr);
        int same = content && DigestOfBase(content, size) == header.baseDigest;
        free(content);
        if (same) {
            basePath = path;
            return 1;
        }
    }
    return 0;
}
} // namespace

int PatchesAvailable() {
    return PatchEncoderAvailable;
}

int FindPatchBases(const char* folder, const char* baseFolder, std::vector<PackedFile>& files) {
    std::vector<ListedItem> items;
    if (!ReadListedItems(folder, files, items)) {
        Report("%s: its \"UPDATE.INI\" cannot be read for the files to patch", folder);
        return 0;
    }
    for (PackedFile& file : files) {
        const ListedItem* only = nullptr;
        int listed = 0, data = 0;
        for (const ListedItem& item : items) {
            if (!SameArchiveName(BaseName(item.path), file.archiveName.c_str())) continue;
            ++listed;
            data |= item.mode == ModeData;
            only = &item;
        }
        if (!listed) continue;
        std::string printable = PrintableName(file.archiveName.c_str());
        if (data) {
            printf("%s: whole: a data file (\"d\"), whose base would be the player's own file\n",
                   printable.c_str());
            continue;
        }
        if (listed > 1) {
            printf("%s: whole: listed %d times, at paths that may hold different releases\n",
                   printable.c_str(), listed);
            continue;
        }
        std::string basePath;
        if (!HostPathBelow(baseFolder, only->path.c_str(), basePath)) {
            printf("%s: whole: its path has no host form below %s\n", printable.c_str(), baseFolder);
            continue;
        }
        HostFileId id = HostFileIdentity(basePath.c_str());
        if (!id.known || IsHostFolder(basePath.c_str())) {
            printf("%s: whole: %s has no previous release of it\n", printable.c_str(), baseFolder);
            continue;
        }
        file.basePath = basePath;
    }
    return 1;
}

int EncodeFileEntries(const char* folder, const PackedFile& file, const std::string& label, int keepWhole,
                      EncodedFile& encoded) {
    std::string fileLabel = "\"" + file.hostName + "\"";
    encoded.content = ReadHostFile(HostJoin(folder, file.hostName).c_str(), fileLabel.c_str(), EntrySizeLimit,
                                   RefuseLinks, &encoded.size, &encoded.fileTime);
    if (!encoded.content) return 0;
    // The patch first and its base freed before the file is compressed: the suffix array and the parse are
    // the two large blocks, and they never meet.
    if (!file.basePath.empty()) {
        uint32_t baseSize = 0;
        unsigned char* base = ReadHostFile(file.basePath.c_str(), file.basePath.c_str(), EntrySizeLimit,
                                           FollowLinks, &baseSize, nullptr);
        if (!base) return 0;
        int made = baseSize < BaseSizeLimit &&
                   EncodePatch(base, baseSize, encoded.content, encoded.size, encoded.patch);
        free(base);
        encoded.outcome = made ? PatchTaken : PatchNotMade;
        encoded.patchSize = encoded.patch.size();
    }
    if (!CompressEntry(label, file.archiveName, encoded.content, encoded.size, &encoded.stream,
                       &encoded.streamSize))
        return 0;
    encoded.wholeSize = encoded.stream ? encoded.streamSize : encoded.size;
    if (encoded.outcome == PatchTaken && encoded.patchSize * 100 > encoded.wholeSize * PatchShareLimitPercent)
        encoded.outcome = PatchSavesLittle;
    encoded.whole = encoded.outcome != PatchTaken || keepWhole;
    // What waits for its turn to be written keeps only what its entries store.
    if (encoded.outcome != PatchTaken) std::vector<unsigned char>().swap(encoded.patch);
    if (!encoded.whole) {
        free(encoded.stream);
        encoded.stream = nullptr;
    }
    if (!encoded.whole || encoded.stream) {
        free(encoded.content);
        encoded.content = nullptr;
    }
    return 1;
}

int WriteFileEntries(ArchiveWriter& writer, const PackedFile& file, const EncodedFile& encoded,
                     std::string& said) {
    std::string printable = PrintableName(file.archiveName.c_str());
    if (encoded.outcome == PatchNotMade)
        said += printable +
                ": whole: no patch is made against a base of 2 GiB or more, or without the memory "
                "for one\n";
    if (encoded.outcome == PatchSavesLittle || encoded.outcome == PatchTaken)
        said += printable + ": " +
                (encoded.outcome == PatchSavesLittle ? "whole: the patch saves too little"
                 : encoded.whole                     ? "patch and whole"
                                                     : "patch") +
                ": patch " + std::to_string(encoded.patchSize) + " bytes, whole " +
                std::to_string(encoded.wholeSize) + " bytes\n";
    if (encoded.whole && !AddWholeEntry(writer, file.archiveName, encoded.fileTime, encoded.content,
                                        encoded.size, encoded.stream, encoded.streamSize))
        return 0;
    return encoded.outcome != PatchTaken ||
           AddPatchEntry(writer, file.archiveName, encoded.fileTime, encoded.patch, encoded.size);
}

void ReleaseEncodedFile(EncodedFile& encoded) {
    free(encoded.content);
    free(encoded.stream);
    encoded.content = nullptr;
    encoded.stream = nullptr;
    std::vector<unsigned char>().swap(encoded.patch);
}

int FindBaseFile(const char* baseFolder, const char* archiveName, const unsigned char* patch,
                 uint32_t patchSize, std::string& basePath) {
    PatchHeader header;
    return ReadPatchHeader(patch, patchSize, &header) &&
           SearchBase(baseFolder, archiveName, header, 0, basePath);
}
