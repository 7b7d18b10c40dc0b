// The PE resource reader and rewriter on arbitrary bytes: whatever the reader accepts, the rewriter rebuilds
// with the very same list, reading the rebuilt program gives those resources back, byte for byte, and
// rebuilding it once more changes nothing. Any read outside the input, any wrong size and any lost or
// altered resource stops the run.
#include "tools/pe/pe_resources.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

PeResourceList read;
PeResourceList readBack;

int CompareKeys(const void* a, const void* b) {
    const PeResource* x = static_cast<const PeResource*>(a);
    const PeResource* y = static_cast<const PeResource*>(b);
    int order = strcmp(x->typeName, y->typeName);
    if (!order) order = static_cast<int>(x->typeId) - static_cast<int>(y->typeId);
    if (!order) order = strcmp(x->nameName, y->nameName);
    if (!order) order = static_cast<int>(x->nameId) - static_cast<int>(y->nameId);
    if (!order) order = static_cast<int>(x->language) - static_cast<int>(y->language);
    return order;
}

uint32_t Read32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool SameResource(const PeResource& x, const PeResource& y) {
    return !CompareKeys(&x, &y) && x.codePage == y.codePage && x.size == y.size &&
           (!x.size || !memcmp(x.data, y.data, x.size));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char error[PeErrorCapacity] = "";
    if (!ReadPeResources(data, size, &read, error)) {
        if (!error[0]) abort(); // a refusal always says why
        return 0;
    }
    // The reader's pointers stay inside the input.
    for (int i = 0; i < read.count; ++i) {
        const PeResource& r = read.items[i];
        if (r.size && (r.data < data || r.size > size || static_cast<size_t>(r.data - data) > size - r.size))
            abort();
    }
    size_t capacity = PeOutputBound(size, &read);
    unsigned char* output = static_cast<unsigned char*>(malloc(capacity));
    if (!output) return 0;
    error[0] = '\0';
    size_t written = WritePeWithResources(data, size, &read, output, capacity, error);
    if (written) {
        if (written > capacity) abort();
        if (!ReadPeResources(output, written, &readBack, error)) abort();
        if (readBack.count != read.count) abort();
        // Rebuilding the rebuilt program with what it holds changes nothing.
        unsigned char* again = static_cast<unsigned char*>(malloc(capacity));
        if (!again) abort();
        if (WritePeWithResources(output, written, &readBack, again, capacity, error) != written ||
            memcmp(again, output, written) != 0)
            abort();
        free(again);
        qsort(read.items, static_cast<size_t>(read.count), sizeof(PeResource), CompareKeys);
        qsort(readBack.items, static_cast<size_t>(readBack.count), sizeof(PeResource), CompareKeys);
        for (int i = 0; i < read.count; ++i)
            if (!SameResource(read.items[i], readBack.items[i])) abort();
        // The rebuilt headers carry the rebuilt image's checksum.
        size_t checksumAt = Read32(output + 0x3C) + 4 + 20 + 64;
        if (checksumAt > written - 4 || Read32(output + checksumAt) != PeChecksum(output, written)) abort();
    } else if (!error[0]) {
        abort();
    }
    free(output);
    return 0;
}
