// Writing an archive image: header, each entry's data padded to 16 bytes, and the compressed directory at
// the end. The image grows either in a temporary file beside the final path, renamed over it only when it
// is whole (so a failed run leaves any earlier archive as it was and no half-written one), or in memory,
// for the updater that updpack build makes around it.
#include "tools/updpack/updpack.h"

#include "tools/packer/stream_encoder.h"

#include <cstdlib>
#include <cstring>

namespace {
const char ArchiveMagic[4] = {'K', 'T', '2', 0};

uint64_t Padded(uint64_t size) {
    return (size + 15) & ~uint64_t(15);
}

int WriteAll(ArchiveWriter& writer, const void* data, size_t size) {
    if (!writer.memory) return WriteHostOutput(writer.output, data, size);
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    writer.memory->insert(writer.memory->end(), bytes, bytes + size);
    return 1;
}

int WriteHeader(ArchiveWriter& writer, const ArchiveHeader& header) {
    if (!writer.memory) return WriteHostOutputAt(writer.output, 0, &header, sizeof header);
    memcpy(writer.memory->data(), &header, sizeof header);
    return 1;
}

int StartImage(ArchiveWriter& writer) {
    unsigned char header[ArchiveHeaderSize] = {};
    if (WriteAll(writer, header, sizeof header)) return 1;
    AbandonArchive(writer);
    return 0;
}

int RefuseImageSize(const ArchiveWriter& writer, uint64_t imageSize) {
    Report("%s: the archive would take %llu bytes; its offsets are 32-bit, so it must stay below %llu",
           writer.finalPath.c_str(), static_cast<unsigned long long>(imageSize),
           static_cast<unsigned long long>(writer.imageLimit));
    return 0;
}

// Compresses size bytes into a new malloc buffer; *streamSize is 0 when no memory was to be had.
unsigned char* Compress(const unsigned char* content, size_t size, size_t* streamSize) {
    *streamSize = 0;
    size_t capacity = CompressBound(size);
    unsigned char* stream = static_cast<unsigned char*>(malloc(capacity ? capacity : 1));
    if (stream) *streamSize = CompressBlock(content, size, stream, capacity);
    return stream;
}
} // namespace

int BeginArchive(ArchiveWriter& writer, const char* path, uint64_t imageLimit) {
    writer.memory = nullptr;
    writer.finalPath = path;
    writer.imageLimit = imageLimit;
    writer.dataEnd = ArchiveHeaderSize;
    writer.entries.clear();
    if (!BeginHostOutput(writer.output, path)) return 0;
    return StartImage(writer);
}

int BeginArchiveInMemory(ArchiveWriter& writer, const char* label, uint64_t imageLimit,
                         std::vector<unsigned char>* image) {
    writer.memory = image;
    writer.memory->clear();
    writer.output.handle = -1;
    writer.finalPath = label;
    writer.imageLimit = imageLimit;
    writer.dataEnd = ArchiveHeaderSize;
    writer.entries.clear();
    return StartImage(writer);
}

int CompressEntry(const std::string& label, const std::string& archiveName, const unsigned char* content,
                  uint32_t size, unsigned char** stream, uint32_t* streamSize) {
    size_t compressedSize = 0;
    unsigned char* compressed = Compress(content, size, &compressedSize);
    *stream = nullptr;
    *streamSize = 0;
    if (!compressed) {
        Report("%s: out of memory compressing %s", label.c_str(), PrintableName(archiveName.c_str()).c_str());
        return 0;
    }
    if (compressedSize == 0 || compressedSize >= size) {
        free(compressed);
        return 1;
    }
    // The buffer was made for the worst case; a stream that waits for its turn to be written keeps only
    // its own bytes.
    unsigned char* fitted = static_cast<unsigned char*>(realloc(compressed, compressedSize));
    *stream = fitted ? fitted : compressed;
    *streamSize = static_cast<uint32_t>(compressedSize);
    return 1;
}

int AddWholeEntry(ArchiveWriter& writer, const std::string& archiveName, uint64_t fileTime,
                  const unsigned char* content, uint32_t size, const unsigned char* stream,
                  uint32_t streamSize) {
    if (archiveName.empty() || archiveName.size() >= ArchiveNameCapacity) {
        Report("%s: entry name of %zu bytes does not fit", writer.finalPath.c_str(), archiveName.size());
        return 0;
    }
    const unsigned char* stored = stream ? stream : content;
    uint32_t storedSize = stream ? streamSize : size;

    ArchiveEntry entry;
    memset(&entry, 0, sizeof entry);
    memcpy(entry.name, archiveName.data(), archiveName.size());
    entry.flags = stream ? ArchiveEntryCompressed : ArchiveEntryStored;
    entry.fileTime.dwLowDateTime = static_cast<DWORD>(fileTime);
    entry.fileTime.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
    entry.size = size;
    entry.storedSize = storedSize;

    uint64_t dataEnd = writer.dataEnd + Padded(storedSize);
    // Every entry adds at least a directory record, so an image whose data already reach the limit is lost.
    if (dataEnd >= writer.imageLimit) return RefuseImageSize(writer, dataEnd);
    static const unsigned char zeros[16] = {};
    if (!WriteAll(writer, stored, storedSize) ||
        !WriteAll(writer, zeros, dataEnd - writer.dataEnd - storedSize))
        return 0;
    writer.dataEnd = dataEnd;
    writer.entries.push_back(entry);
    return 1;
}

int AddPatchEntry(ArchiveWriter& writer, const std::string& archiveName, uint64_t fileTime,
                  const std::vector<unsigned char>& patch, uint32_t resultSize) {
    if (archiveName.empty() || archiveName.size() >= ArchiveNameCapacity || patch.size() > 0xFFFFFFFFu) {
        Report("%s: a patch entry of %zu bytes named in %zu does not fit", writer.finalPath.c_str(),
               patch.size(), archiveName.size());
        return 0;
    }
    ArchiveEntry entry;
    memset(&entry, 0, sizeof entry);
    memcpy(entry.name, archiveName.data(), archiveName.size());
    entry.flags = ArchiveEntryPatch;
    entry.fileTime.dwLowDateTime = static_cast<DWORD>(fileTime);
    entry.fileTime.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
    entry.size = resultSize;
    entry.storedSize = static_cast<uint32_t>(patch.size());
    uint64_t dataEnd = writer.dataEnd + Padded(patch.size());
    if (dataEnd >= writer.imageLimit) return RefuseImageSize(writer, dataEnd);
    static const unsigned char zeros[16] = {};
    if (!WriteAll(writer, patch.data(), patch.size()) ||
        !WriteAll(writer, zeros, dataEnd - writer.dataEnd - patch.size()))
        return 0;
    writer.dataEnd = dataEnd;
    writer.entries.push_back(entry);
    return 1;
}

int FinishArchive(ArchiveWriter& writer) {
    size_t directorySize = writer.entries.size() * sizeof(ArchiveEntry);
    size_t streamSize = 0;
    static const unsigned char noRecords[1] = {};
    const unsigned char* directory =
        writer.entries.empty() ? noRecords : reinterpret_cast<const unsigned char*>(writer.entries.data());
    unsigned char* stream = Compress(directory, directorySize, &streamSize);
    int finished = 0;
    if (!stream || streamSize == 0) {
        Report("%s: out of memory compressing the directory", writer.finalPath.c_str());
    } else if (writer.dataEnd + streamSize >= writer.imageLimit) {
        RefuseImageSize(writer, writer.dataEnd + streamSize);
    } else if (WriteAll(writer, stream, streamSize)) {
        ArchiveHeader header;
        memcpy(header.magic, ArchiveMagic, sizeof header.magic);
        header.flags = ArchiveDirectoryCompressed;
        header.directoryOffset = static_cast<uint32_t>(writer.dataEnd);
        header.entryCount = static_cast<uint32_t>(writer.entries.size());
        finished = WriteHeader(writer, header);
    }
    free(stream);
    if (finished && !writer.memory) finished = FinishHostOutput(writer.output, nullptr);
    if (!finished) AbandonArchive(writer);
    return finished;
}

void AbandonArchive(ArchiveWriter& writer) {
    if (writer.memory) {
        writer.memory->clear();
        return;
    }
    AbandonHostOutput(writer.output);
}
