// The archive carried in the resource: loads its header and directory, finds entries by name, hands out
// their content and writes an entry to disk under the overwrite policy. The image (Updater.ArchiveImage)
// is never trusted: every offset and count taken from it is checked against the image before it is used.
#include "archive/archive.h"
#include "archive/disk_space.h"
#include "archive/stream_decoder.h"
#include "archive/whole_file.h"
#include "context/updater_context.h"
#include "report/messages.h"
#include "platform/text_format.h"

#include <cstring>

namespace {

const char NotFoundMessage[] = "Can't Find File in Resource !!";
const char NoMemoryMessage[] = "Can't Allocate Memory !!";
const char NoSpaceMessage[] = "ディスク容量が足りません。%s ドライブに %i バイトの空き容量が必要です";
const char ArchiveMagic[4] = {'K', 'T', '2', '\0'};

// Lets a damaged size be refused before it is allocated.
uint64_t MostDecodedFrom(uint32_t streamLength) {
    return uint64_t(streamLength) * MostDecodedPerStreamByte;
}

// The directory's byte count, when the header's record count can be true: the block (header and records)
// fits in 32 bits, and the bytes from the directory's offset to the end of the image hold that many
// records, plain or as a stream that could decode to them. 0 otherwise.
int DirectoryFits(const ArchiveHeader& header, uint32_t available, uint32_t* directoryBytes) {
    uint64_t bytes = uint64_t(header.entryCount) * ArchiveEntrySize;
    uint64_t most = (header.flags & ArchiveDirectoryCompressed) ? MostDecodedFrom(available) : available;
    if (bytes > 0xFFFFFFFFull - ArchiveHeaderSize || bytes > most) return 0;
    *directoryBytes = static_cast<uint32_t>(bytes);
    return 1;
}

// Every record's name must end inside its 260 bytes, or lookups would read past it.
int NamesAreTerminated(const unsigned char* records, uint32_t entryCount) {
    for (uint32_t i = 0; i < entryCount; ++i) {
        if (!memchr(records + uint64_t(i) * ArchiveEntrySize, 0, ArchiveNameCapacity)) return 0;
    }
    return 1;
}

unsigned char* LoadFromMemory(const unsigned char* image, uint32_t imageSize) {
    if (!image || imageSize < ArchiveHeaderSize) return nullptr;
    ArchiveHeader header;
    memcpy(&header, image, sizeof header);
    uint32_t directoryBytes;
    if (header.directoryOffset > imageSize ||
        !DirectoryFits(header, imageSize - header.directoryOffset, &directoryBytes))
        return nullptr;
    uint32_t available = imageSize - header.directoryOffset;
    unsigned char* block =
        static_cast<unsigned char*>(GlobalAlloc(GMEM_FIXED, ArchiveHeaderSize + directoryBytes));
    if (!block) return nullptr;
    int ok = 1;
    if (header.flags & ArchiveDirectoryCompressed) {
        // The image is read-only and stays valid, so the stream is decoded from it in place.
        ok = DecompressBlock(block + ArchiveHeaderSize, directoryBytes, image + header.directoryOffset,
                             available, nullptr);
    } else {
        memcpy(block + ArchiveHeaderSize, image + header.directoryOffset, directoryBytes);
    }
    if (!ok || !NamesAreTerminated(block + ArchiveHeaderSize, header.entryCount)) {
        GlobalFree(block);
        return nullptr;
    }
    memcpy(block, &header, sizeof header);
    return block;
}

int ReadExactly(HANDLE file, void* buffer, uint32_t size) {
    DWORD read = 0;
    return ReadFile(file, buffer, size, &read, nullptr) && read == size;
}

unsigned char* LoadFromOpenFile(HANDLE file) {
    ArchiveHeader header;
    if (!ReadExactly(file, &header, sizeof header) ||
        memcmp(header.magic, ArchiveMagic, sizeof ArchiveMagic) != 0)
        return nullptr;
    DWORD sizeHigh = 0;
    DWORD fileSize = GetFileSize(file, &sizeHigh);
    if (fileSize == INVALID_FILE_SIZE || sizeHigh != 0 || header.directoryOffset > fileSize) return nullptr;
    LONG offsetHigh = 0;
    if (SetFilePointer(file, static_cast<LONG>(header.directoryOffset), &offsetHigh, FILE_BEGIN) !=
        header.directoryOffset)
        return nullptr;
    uint32_t directoryBytes;
    if (!DirectoryFits(header, fileSize - header.directoryOffset, &directoryBytes)) return nullptr;
    unsigned char* block =
        static_cast<unsigned char*>(GlobalAlloc(GMEM_FIXED, ArchiveHeaderSize + directoryBytes));
    if (!block) return nullptr;
    int ok = 1;
    if (header.flags & ArchiveDirectoryCompressed) {
        uint32_t streamLength = fileSize - header.directoryOffset;
        unsigned char* stream =
            static_cast<unsigned char*>(GlobalAlloc(GMEM_FIXED, streamLength ? streamLength : 1));
        ok = stream && ReadExactly(file, stream, streamLength) &&
             DecompressBlock(block + ArchiveHeaderSize, directoryBytes, stream, streamLength, nullptr);
        if (stream) GlobalFree(stream);
    } else {
        ok = ReadExactly(file, block + ArchiveHeaderSize, directoryBytes);
    }
    if (!ok || !NamesAreTerminated(block + ArchiveHeaderSize, header.entryCount)) {
        GlobalFree(block);
        return nullptr;
    }
    memcpy(block, &header, sizeof header);
    return block;
}

// The first record named name (without regard to case) that is a patch (patch 1) or not (patch 0), and
// where its data start, or null. The offset is walked in 64 bits so that a damaged directory cannot wrap it
// back into the image.
const ArchiveEntry* FindRecord(const char* name, int patch, uint64_t* dataOffset) {
    const unsigned char* block = Updater.ArchiveDirectory;
    if (block && name) {
        ArchiveHeader header;
        memcpy(&header, block, sizeof header);
        uint64_t offset = ArchiveHeaderSize;
        for (uint32_t i = 0; i < header.entryCount; ++i) {
            const ArchiveEntry* entry = reinterpret_cast<const ArchiveEntry*>(block + ArchiveHeaderSize +
                                                                              uint64_t(i) * ArchiveEntrySize);
            char storedName[ArchiveNameCapacity + 1];
            memcpy(storedName, entry->name, ArchiveNameCapacity);
            storedName[ArchiveNameCapacity] = '\0';
            if (((entry->flags & ArchiveEntryPatch) != 0) == (patch != 0) &&
                lstrcmpiA(storedName, name) == 0) {
                *dataOffset = offset;
                return entry;
            }
            offset = NextEntryDataOffset(offset, *entry);
        }
    }
    return nullptr;
}

// The first record of the file's whole content named name, or null after the message.
const ArchiveEntry* LookUpEntry(const char* name, uint64_t* dataOffset) {
    const ArchiveEntry* entry = FindRecord(name, 0, dataOffset);
    if (!entry) ShowError(NotFoundMessage);
    return entry;
}

// The entry's content: in place for a stored entry, a new buffer (*owned 1) for a compressed one. Data that
// do not lie inside the data area, or a stream that does not decode to exactly size bytes, cannot be had
// from the resource: null after the not-found message. Null after the memory message when allocation fails.
unsigned char* EntryContent(const ArchiveEntry* entry, uint64_t dataOffset, int* owned) {
    *owned = 0;
    const unsigned char* image = Updater.ArchiveImage;
    ArchiveHeader header;
    memcpy(&header, Updater.ArchiveDirectory, sizeof header);
    if (!image || CheckEntryData(header, Updater.ArchiveImageSize, *entry, dataOffset) != EntryDataSound) {
        ShowError(NotFoundMessage);
        return nullptr;
    }
    const unsigned char* data = image + dataOffset;
    if (!(entry->flags & ArchiveEntryCompressed)) return const_cast<unsigned char*>(data);
    unsigned char* buffer =
        static_cast<unsigned char*>(GlobalAlloc(GMEM_FIXED, entry->size ? entry->size : 1));
    if (!buffer) {
        ShowError(NoMemoryMessage);
        return nullptr;
    }
    if (!DecompressBlock(buffer, entry->size, data, entry->storedSize, nullptr)) {
        GlobalFree(buffer);
        ShowError(NotFoundMessage);
        return nullptr;
    }
    *owned = 1;
    return buffer;
}

// 1 when the existing file's last-write time is later than time; 0 when it is not or cannot be read.
int ExistingFileIsLater(const char* path, const FILETIME& time) {
    FILETIME written;
    return ReadLastWriteTime(path, &written) && IsLaterTime(written, time);
}

// The free-space check for the entry alone: a file it would replace is not credited. Without a drive
// letter the query fails and the write itself decides. 0 after the message.
int RoomForEntry(const char* targetPath, const ArchiveEntry* entry) {
    char drive[3];
    CopyText(drive, sizeof drive, targetPath);
    ULARGE_INTEGER freeToCaller, totalBytes;
    if (!QueryDiskSpace(drive, &freeToCaller, &totalBytes, nullptr) || entry->size <= freeToCaller.QuadPart)
        return 1;
    char message[1024];
    uint64_t shortfall = entry->size - freeToCaller.QuadPart;
    FormatText(message, sizeof message, NoSpaceMessage, drive,
               static_cast<int>(static_cast<uint32_t>(shortfall)));
    ShowError(message);
    return 0;
}

// What ExtractEntry and PrepareEntry share: the lookup, the free-space check for the entry alone, the
// refusal of a folder in the way and the time rule. 1 with the entry and its content (*owned: to be
// released by the caller) and *keep 1 when the file on disk stays; 0 after any message, nothing held.
int OpenEntryForWrite(const char* targetPath, const char* name, int checkTime, const ArchiveEntry** entryOut,
                      unsigned char** contentOut, int* owned, int* keep) {
    uint64_t dataOffset;
    const ArchiveEntry* entry = LookUpEntry(name, &dataOffset);
    if (!entry || !RoomForEntry(targetPath, entry)) return 0;

    unsigned char* content = EntryContent(entry, dataOffset, owned);
    if (!content) return 0;

    DWORD attributes = GetFileAttributesA(targetPath);
    int exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if (*owned) GlobalFree(content);
        return 0;
    }
    *keep = checkTime && exists && ExistingFileIsLater(targetPath, entry->fileTime);
    *entryOut = entry;
    *contentOut = content;
    return 1;
}

} // namespace

unsigned char* LoadArchive(const ArchiveSource& source) {
    if (source.image) return LoadFromMemory(source.image, source.imageSize);
    if (!source.path) return nullptr;
    HANDLE file = CreateFileA(source.path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    unsigned char* block = LoadFromOpenFile(file);
    CloseHandle(file);
    return block;
}

uint64_t NextEntryDataOffset(uint64_t dataOffset, const ArchiveEntry& entry) {
    return dataOffset + ((uint64_t(entry.storedSize) + 15) & ~uint64_t(15));
}

EntryDataFault CheckEntryData(const ArchiveHeader& header, uint32_t imageSize, const ArchiveEntry& entry,
                              uint64_t dataOffset) {
    uint64_t dataEnd = header.directoryOffset < imageSize ? header.directoryOffset : imageSize;
    int patch = (entry.flags & ArchiveEntryPatch) != 0;
    int compressed = !patch && (entry.flags & ArchiveEntryCompressed) != 0;
    // A compressed entry's stream, and a patch, are bounded by the stored size; an entry stored as is is
    // read for its size. A patch's result is checked by its own decoder.
    uint64_t extent = compressed || patch ? entry.storedSize : entry.size;
    if (dataOffset + extent > dataEnd) return EntryDataOutside;
    if (compressed && entry.size > MostDecodedFrom(entry.storedSize)) return EntryDataOverclaimed;
    return EntryDataSound;
}

const ArchiveEntry* FindPatchEntry(const char* name, const unsigned char** patch) {
    uint64_t dataOffset;
    const ArchiveEntry* entry = FindRecord(name, 1, &dataOffset);
    if (!entry || !Updater.ArchiveImage) return nullptr;
    // The block is GlobalAlloc's, aligned for the header it starts with.
    const ArchiveHeader& header = *reinterpret_cast<const ArchiveHeader*>(Updater.ArchiveDirectory);
    if (CheckEntryData(header, Updater.ArchiveImageSize, *entry, dataOffset) != EntryDataSound)
        return nullptr;
    *patch = Updater.ArchiveImage + dataOffset;
    return entry;
}

unsigned char* FindEntryData(const char* name, uint32_t* sizeOut) {
    uint64_t dataOffset;
    const ArchiveEntry* entry = LookUpEntry(name, &dataOffset);
    if (!entry) return nullptr;
    int owned;
    unsigned char* content = EntryContent(entry, dataOffset, &owned);
    if (!content) return nullptr;
    if (sizeOut) *sizeOut = entry->size;
    return content;
}

int ArchiveDataIsOwned(const unsigned char* data) {
    // Anything inside the image, its end included (an empty last entry), is the resource's.
    uintptr_t at = reinterpret_cast<uintptr_t>(data);
    uintptr_t start = reinterpret_cast<uintptr_t>(Updater.ArchiveImage);
    if (!data) return 0;
    return !(Updater.ArchiveImage && at >= start && at - start <= Updater.ArchiveImageSize);
}

int ExtractEntry(const char* targetPath, const char* name, int checkTime) {
    const ArchiveEntry* entry;
    unsigned char* content;
    int owned, keep;
    if (!OpenEntryForWrite(targetPath, name, checkTime, &entry, &content, &owned, &keep)) return 0;
    int result;
    if (keep) {
        // A read-only file ends writable either way, but only once it is replaced or kept: until then a
        // failed or killed run leaves it as it was.
        DWORD attributes = GetFileAttributesA(targetPath);
        if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(targetPath, FILE_ATTRIBUTE_NORMAL);
        result = 1;
    } else {
        FILETIME time = entry->fileTime;
        result = ReplaceWholeFile(targetPath, content, entry->size, &time, 1);
    }
    if (owned) GlobalFree(content);
    return result;
}

int PrepareEntry(const char* targetPath, const char* name, int checkTime, char* prepared,
                 FILETIME* fileTime) {
    prepared[0] = '\0';
    const ArchiveEntry* entry;
    unsigned char* content;
    int owned, keep;
    if (!OpenEntryForWrite(targetPath, name, checkTime, &entry, &content, &owned, &keep)) return 0;
    *fileTime = entry->fileTime;
    int result = keep ? 1 : PrepareWholeFile(targetPath, content, entry->size, fileTime, prepared);
    if (owned) GlobalFree(content);
    return result;
}

int CheckEntryWrite(const char* targetPath, const char* name, int checkTime, int* keep, uint32_t* size) {
    const ArchiveEntry* entry;
    unsigned char* content;
    int owned;
    if (!OpenEntryForWrite(targetPath, name, checkTime, &entry, &content, &owned, keep)) return 0;
    if (size) *size = entry->size;
    if (owned) GlobalFree(content);
    return 1;
}

int DecideWrite(int patch, const char* targetPath, const char* name, int checkTime, DWORD targetAttributes,
                const FILETIME* targetTime, EntryWrite* write) {
    uint64_t dataOffset;
    const unsigned char* patchBytes;
    const ArchiveEntry* entry = patch ? FindPatchEntry(name, &patchBytes) : LookUpEntry(name, &dataOffset);
    if (!entry || !RoomForEntry(targetPath, entry)) return 0;
    int exists = targetAttributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (targetAttributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
    write->size = entry->size;
    write->fileTime = entry->fileTime;
    write->keep = checkTime && exists && targetTime && IsLaterTime(*targetTime, entry->fileTime);
    return 1;
}

int CarriesWholeEntry(const char* name) {
    uint64_t dataOffset;
    return FindRecord(name, 0, &dataOffset) != nullptr;
}
