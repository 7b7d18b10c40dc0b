// Reading an archive for list, test and extract: the file is read whole into memory (for an updater
// program, its "UPDATE" resource is taken out) and handed to the updater's own LoadArchive as a memory
// image, so the tool sees the directory exactly as the updater does.
// Entry data are then located, checked and decoded with the updater's own routines (NextEntryDataOffset,
// CheckEntryData, DecompressBlock): between the header and the directory, and never a byte outside the
// image or the output buffer.
#include "tools/updpack/updpack.h"

#include "archive/archive.h"
#include "archive/stream_decoder.h"

#include <cstdlib>
#include <cstring>

int OpenArchive(const char* path, OpenedArchive& archive) {
    memset(&archive, 0, sizeof archive);
    uint32_t size = 0;
    unsigned char* image = ReadHostFile(path, path, ArchiveImageLimit, FollowLinks, &size, nullptr);
    return image && OpenArchiveFile(image, size, path, archive);
}

int OpenArchiveFile(unsigned char* image, uint32_t size, const char* path, OpenedArchive& archive) {
    memset(&archive, 0, sizeof archive);
    if (LooksLikeProgram(image, size)) {
        uint32_t archiveSize = 0;
        unsigned char* archiveImage = ArchiveOfProgram(image, size, path, &archiveSize);
        free(image);
        if (!archiveImage) return 0;
        image = archiveImage;
        size = archiveSize;
    }
    return OpenArchiveImage(image, size, path, archive);
}

int OpenArchiveImage(unsigned char* image, uint32_t imageSize, const char* path, OpenedArchive& archive) {
    memset(&archive, 0, sizeof archive);
    archive.image = image;
    archive.imageSize = imageSize;
    ArchiveHeader header;
    const char* damage = nullptr;
    if (archive.imageSize < ArchiveHeaderSize) {
        damage = "shorter than its 16-byte header";
    } else {
        memcpy(&header, archive.image, sizeof header);
        uint64_t directoryRoom = archive.imageSize - static_cast<uint64_t>(header.directoryOffset);
        uint64_t directorySize = static_cast<uint64_t>(header.entryCount) * ArchiveEntrySize;
        if (memcmp(header.magic, "KT2", 4) != 0) {
            damage = "no \"KT2\" mark at its start";
        } else if (header.directoryOffset < ArchiveHeaderSize || header.directoryOffset > archive.imageSize) {
            damage = "its directory lies outside the image";
        } else if (directorySize > directoryRoom * ((header.flags & ArchiveDirectoryCompressed)
                                                        ? uint64_t(MostDecodedPerStreamByte)
                                                        : 1)) {
            damage = "its entry count does not fit the directory's bytes";
        }
    }
    if (!damage) {
        ArchiveSource source = {archive.image, archive.imageSize, nullptr};
        archive.block = LoadArchive(source);
        if (!archive.block) damage = "its directory is damaged";
    }
    if (damage) {
        Report("%s: not a sound archive: %s", path, damage);
        CloseArchive(archive);
        return 0;
    }
    archive.header = reinterpret_cast<const ArchiveHeader*>(archive.block);
    archive.entries = reinterpret_cast<const ArchiveEntry*>(archive.block + ArchiveHeaderSize);
    return 1;
}

void CloseArchive(OpenedArchive& archive) {
    if (archive.block) GlobalFree(archive.block);
    free(archive.image);
    memset(&archive, 0, sizeof archive);
}

int LocateEntries(const OpenedArchive& archive, const char* path, std::vector<uint32_t>& dataOffsets) {
    dataOffsets.clear();
    uint64_t dataOffset = ArchiveHeaderSize;
    for (uint32_t i = 0; i < archive.header->entryCount; ++i) {
        const ArchiveEntry& entry = archive.entries[i];
        if (CheckEntryData(*archive.header, archive.imageSize, entry, dataOffset) == EntryDataOutside) {
            uint32_t extent = (entry.flags & ArchiveEntryCompressed) ? entry.storedSize : entry.size;
            Report("%s: entry %s: its %u bytes at offset %llu run past the data area, which ends at %u", path,
                   PrintableName(entry.name).c_str(), extent, static_cast<unsigned long long>(dataOffset),
                   archive.header->directoryOffset);
            return 0;
        }
        dataOffsets.push_back(static_cast<uint32_t>(dataOffset));
        dataOffset = NextEntryDataOffset(dataOffset, entry);
    }
    return 1;
}

int DecodeEntry(const OpenedArchive& archive, const char* path, uint32_t index, uint32_t dataOffset,
                const unsigned char** content, int* owned, uint32_t* consumed) {
    const ArchiveEntry& entry = archive.entries[index];
    const unsigned char* data = archive.image + dataOffset;
    *content = nullptr;
    *owned = 0;
    if (CheckEntryData(*archive.header, archive.imageSize, entry, dataOffset) == EntryDataOverclaimed) {
        Report("%s: entry %s: %u stream bytes cannot hold %u bytes", path, PrintableName(entry.name).c_str(),
               entry.storedSize, entry.size);
        return 0;
    }
    if (!(entry.flags & ArchiveEntryCompressed)) {
        *content = data;
        if (consumed) *consumed = entry.size;
        return 1;
    }
    unsigned char* decoded = static_cast<unsigned char*>(malloc(entry.size ? entry.size : 1));
    if (!decoded) {
        Report("%s: entry %s: out of memory for %u bytes", path, PrintableName(entry.name).c_str(),
               entry.size);
        return 0;
    }
    uint32_t used = 0;
    if (!DecompressBlock(decoded, entry.size, data, entry.storedSize, &used)) {
        Report("%s: entry %s: its stream is damaged (it does not decode to exactly %u bytes)", path,
               PrintableName(entry.name).c_str(), entry.size);
        free(decoded);
        return 0;
    }
    if (consumed) *consumed = used;
    *content = decoded;
    *owned = 1;
    return 1;
}
