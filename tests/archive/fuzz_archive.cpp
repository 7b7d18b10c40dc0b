// libFuzzer target (clang only, not part of ctest): feeds arbitrary bytes to the stream decoder, whose two
// routes must agree, and to LoadArchive and the entry lookup as a resource image. Build with
// -DUPDATER_FUZZ=ON using clang, then run bin/archive_fuzz.
#include "archive/archive.h"
#include "archive/stream_decoder.h"
#include "archive/stream_decoder_internal.h"
#include "context/updater_context.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // The first two bytes choose the output capacity; the rest is the stream.
    uint32_t capacity = (uint32_t(data[0]) << 8 | data[1]) * 4u;
    std::vector<unsigned char> fast(capacity), careful(capacity);
    uint32_t fastConsumed = 0, carefulConsumed = 0, fastProduced = 0, carefulProduced = 0;
    int fastResult = DecodeStreamRoute(FastAndCarefulRoute, fast.data(), capacity, data + 2,
                                       uint32_t(size - 2), &fastConsumed, &fastProduced);
    int carefulResult = DecodeStreamRoute(CarefulRoute, careful.data(), capacity, data + 2,
                                          uint32_t(size - 2), &carefulConsumed, &carefulProduced);
    // Past the bytes produced, a failed fast route may leave scratch bytes: only the produced ones must
    // agree.
    if (fastResult != carefulResult || fastConsumed != carefulConsumed || fastProduced != carefulProduced ||
        memcmp(fast.data(), careful.data(), fastProduced) != 0)
        abort();

    ResetUpdaterContext();
    Updater.ArchiveImage = data;
    Updater.ArchiveImageSize = uint32_t(size);
    ArchiveSource source = {data, uint32_t(size), nullptr};
    Updater.ArchiveDirectory = LoadArchive(source);
    if (Updater.ArchiveDirectory) {
        uint32_t count;
        memcpy(&count, Updater.ArchiveDirectory + 12, 4);
        for (uint32_t i = 0; i < count && i < 16; ++i) {
            const ArchiveEntry* entry =
                reinterpret_cast<const ArchiveEntry*>(Updater.ArchiveDirectory + 16) + i;
            uint32_t entrySize = 0;
            unsigned char* content = FindEntryData(entry->name, &entrySize);
            if (content && ArchiveDataIsOwned(content)) GlobalFree(content);
        }
        GlobalFree(Updater.ArchiveDirectory);
    }
    return 0;
}
