// Applying a patch. One block holds the whole state: the range decoder, a window on the base (refilled
// from wherever the instructions point, so that the many short moves of a program's patch are mostly
// served without a read), the result's buffer, written out in order as it fills and digested on the way,
// and the probabilities of the coding. Every count the patch gives is held against what is left of the
// result and of the base before anything is copied, and the range decoder reads no byte past the patch: a
// read beyond it, as a count out of bounds, marks the run damaged.
//
// The updater is 32-bit code built for size: the steps below take the block in a register and address its
// small fields in a byte, 64-bit arithmetic is kept to the base's positions, and the base and the result
// are reached through two routines chosen once, so that the routes of the publisher's tool and the tests
// (memory) stay out of the updater.
#include "archive/patch_decoder.h"
#include "archive/content_digest.h"
#include "archive/patch_format.h"

#include <cstddef>
#include <cstring>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the header is read as the host stores numbers");
static_assert(offsetof(PatchHeader, baseDigest) == PatchBaseDigestAt - PatchBaseSizeAt &&
                  offsetof(PatchHeader, resultSize) == PatchResultSizeAt - PatchBaseSizeAt &&
                  offsetof(PatchHeader, resultDigest) == PatchResultDigestAt - PatchBaseSizeAt &&
                  sizeof(PatchHeader) == PatchHeaderSize - PatchBaseSizeAt,
              "PatchHeader is laid out as the patch's header");

namespace {

const uint32_t WindowCapacity = 64 * 1024;
const uint32_t ResultCapacity = 64 * 1024;

struct PatchRun;
// Reads the base's windowSize bytes at windowStart into the window; 1, or 0 when they cannot be read.
typedef int(REGISTER_ARGUMENTS* BaseReader)(PatchRun& r);
// Writes the result's first size bytes; 1, or 0 when they cannot be written.
typedef int(REGISTER_ARGUMENTS* ResultWriter)(PatchRun& r, uint32_t size);

// The small fields come first: a field near the start of the block takes a byte to address, one past the
// buffers four.
struct PatchRun {
    const unsigned char* next; // the range decoder: the next patch byte, the patch's end,
    const unsigned char* end;
    uint32_t range; // its range and code,
    uint32_t code;
    uint32_t damaged; // and whether a byte was wanted past the end or a count passed its bound
    uint32_t windowSize;
    uint32_t resultUsed; // result bytes in the buffer, not yet written
    BaseReader readBase;
    ResultWriter writeResult;
    HANDLE baseFile; // the file route
    HANDLE resultFile;
    const unsigned char* baseMemory; // the memory route
    unsigned char* resultMemory;
    uint32_t resultMemoryLeft;
    PatchHeader header;
    uint64_t windowStart;
    uint32_t wanted; // the instruction's base bytes, as many as a refill reads (up to the window's size)
    ContentDigest digest;
    unsigned char window[WindowCapacity]; // base bytes from windowStart
    // Result bytes not yet written, from output[1]; output[0] stays 0, the byte before the first, which
    // codes the first inserted byte as every later one is coded by the byte before it.
    unsigned char output[1 + ResultCapacity];
    PatchModels models;
};

// The next patch byte into the code, or the run marked damaged past the patch's end.
__attribute__((noinline)) void Shift(PatchRun& r) {
    r.code <<= 8;
    if (r.next < r.end)
        r.code |= *r.next++;
    else
        r.damaged = 1;
}

// Each probability is kept less one half (mod 2^16), so that the zero-filled block starts them all at one
// half.
__attribute__((noinline)) unsigned DecodeBit(PatchRun& r, uint16_t* probability) {
    unsigned p = static_cast<uint16_t>(*probability + PatchProbabilityOne / 2);
    uint32_t bound = (r.range >> PatchProbabilityBits) * p;
    unsigned bit = r.code >= bound;
    if (bit) {
        r.code -= bound;
        bound = r.range - bound;
        p -= p >> PatchAdaptShift;
    } else {
        p += (PatchProbabilityOne - p) >> PatchAdaptShift;
    }
    *probability = static_cast<uint16_t>(p - PatchProbabilityOne / 2);
    r.range = bound;
    if (bound < PatchRangeTop) {
        r.range = bound << 8;
        Shift(r);
    }
    return bit;
}

// A value below top (a power of 2) through a tree of probabilities (index 1 up; 0 unused), most
// significant bit first.
__attribute__((noinline)) unsigned DecodeTree(PatchRun& r, uint16_t* tree, unsigned top) {
    unsigned node = 1;
    while (node < top)
        node = node << 1 | DecodeBit(r, tree + node);
    return node - top;
}

// A number, which must not pass limit: the number, or 0 with the run marked damaged. The limit comes
// first, where the 32-bit updater passes a 64-bit argument in registers.
__attribute__((noinline)) uint64_t DecodeNumber(uint64_t limit, PatchRun& r, PatchNumberModel& model) {
    unsigned width = DecodeTree(r, model.width, PatchNumberWidths);
    uint64_t value = width != 0;
    // Each place below the leading 1 has a probability of its own, up to the last, which the rest share.
    uint16_t* probability = model.mantissa[width];
    for (unsigned place = 1; place < width; ++place) {
        if (place < PatchNumberPlaces) ++probability;
        value = value << 1 | DecodeBit(r, probability);
    }
    if (value <= limit) return value;
    r.damaged = 1;
    return 0;
}

REGISTER_ARGUMENTS int ReadBaseFile(PatchRun& r) {
    // The window is refilled only where the instructions leave it, so every read may as well seek.
    LONG high = static_cast<LONG>(r.windowStart >> 32);
    DWORD low = SetFilePointer(r.baseFile, static_cast<LONG>(r.windowStart), &high, FILE_BEGIN);
    DWORD read = 0;
    return low == static_cast<DWORD>(r.windowStart) &&
           static_cast<DWORD>(high) == static_cast<DWORD>(r.windowStart >> 32) &&
           ReadFile(r.baseFile, r.window, r.windowSize, &read, nullptr) && read == r.windowSize;
}

REGISTER_ARGUMENTS int WriteResultFile(PatchRun& r, uint32_t size) {
    DWORD written = 0;
    return WriteFile(r.resultFile, r.output + 1, size, &written, nullptr) && written == size;
}

REGISTER_ARGUMENTS int ReadBaseMemory(PatchRun& r) {
    memcpy(r.window, r.baseMemory + r.windowStart, r.windowSize);
    return 1;
}

REGISTER_ARGUMENTS int WriteResultMemory(PatchRun& r, uint32_t size) {
    if (size > r.resultMemoryLeft) return 0;
    memcpy(r.resultMemory, r.output + 1, size);
    r.resultMemory += size;
    r.resultMemoryLeft -= size;
    return 1;
}

// Brings the base byte at position (inside the base) into the window: PatchSound, or PatchBaseMissing
// after a failed read. A refill reads the bytes wanted, up to the window's size: a program's patch moves
// thousands of times, mostly far, and whole windows read for a few bytes each came to fifty times the base.
// The offset and what is left are compared in halves, which 32-bit code does in fewer instructions than
// a comparison of 64-bit numbers.
__attribute__((noinline)) PatchFault Reach(PatchRun& r, uint64_t position) {
    uint64_t offset = position - r.windowStart;
    if (!(offset >> 32) && static_cast<uint32_t>(offset) < r.windowSize) return PatchSound;
    uint64_t left = r.header.baseSize - position;
    uint32_t size = r.wanted < WindowCapacity ? r.wanted : WindowCapacity;
    if (!(left >> 32) && static_cast<uint32_t>(left) < size) size = static_cast<uint32_t>(left);
    r.windowStart = position;
    r.windowSize = size;
    return r.readBase(r) ? PatchSound : PatchBaseMissing;
}

// Digests and writes out the buffered result: PatchSound, or PatchWriteFailed.
__attribute__((noinline)) PatchFault Flush(PatchRun& r) {
    uint32_t size = r.resultUsed;
    r.resultUsed = 0;
    AddToDigest(&r.digest, r.output + 1, size);
    return r.writeResult(r, size) ? PatchSound : PatchWriteFailed;
}

// Room for a result byte: the buffer written out when it is full. The buffer keeps its last byte until
// the next one comes, for a difference to be added to it.
inline PatchFault Room(PatchRun& r) {
    return r.resultUsed < ResultCapacity ? PatchSound : Flush(r);
}

// Appends count base bytes from position as they are, moving position past them; the caller has checked
// that they lie in the base.
PatchFault CopyBase(PatchRun& r, uint64_t& position, uint32_t count) {
    while (count) {
        PatchFault fault = Room(r);
        if (fault == PatchSound) fault = Reach(r, position);
        if (fault != PatchSound) return fault;
        uint32_t offset = static_cast<uint32_t>(position - r.windowStart);
        uint32_t chunk = r.windowSize - offset;
        if (chunk > ResultCapacity - r.resultUsed) chunk = ResultCapacity - r.resultUsed;
        if (chunk > count) chunk = count;
        memcpy(r.output + 1 + r.resultUsed, r.window + offset, chunk);
        r.resultUsed += chunk;
        position += chunk;
        count -= chunk;
    }
    return PatchSound;
}

// Runs the instructions, each a move of the base position, base bytes taken with differences, and new
// bytes inserted, for left result bytes; PatchSound when the result has its size, whatever its digest.
PatchFault RunInstructions(PatchRun& r, uint32_t left) {
    PatchModels& m = r.models;
    uint64_t position = 0;   // never beyond baseSize
    unsigned difference = 0; // the last difference byte
    unsigned runContext = 0; // what the runs and differences before say about the next run
    PatchFault fault;
    while (left && !r.damaged) {
        unsigned backward = DecodeBit(r, &m.seekBackward);
        uint64_t distance =
            DecodeNumber(backward ? position : r.header.baseSize - position, r, m.seekDistance);
        position += backward ? 0 - distance : distance;
        uint64_t baseLeft = r.header.baseSize - position;
        // A count out of bounds only marks the run damaged: nothing is copied or inserted after that, as the
        // runs and the inserted bytes are each checked first.
        uint32_t copy = static_cast<uint32_t>(DecodeNumber(left, r, m.copyLength));
        r.damaged |= copy > baseLeft;
        left -= copy;
        r.wanted = copy;
        uint32_t insert = static_cast<uint32_t>(DecodeNumber(left, r, m.insertLength));
        left -= insert;
        r.damaged |= (copy | insert) == 0;
        while (copy) {
            uint32_t run = static_cast<uint32_t>(DecodeNumber(copy, r, m.zeroRun[runContext]));
            if (r.damaged) return PatchDamaged;
            unsigned width = run ? 32 - static_cast<unsigned>(__builtin_clz(run)) : 0;
            runContext = (width < 31 ? width : 31) << 1 | (runContext & 1);
            // The run, and the byte after it when the copy goes on: that one takes a difference.
            uint32_t differs = run < copy;
            if ((fault = CopyBase(r, position, run + differs)) != PatchSound) return fault;
            copy -= run + differs;
            unsigned char& last = r.output[r.resultUsed];
            if (differs) {
                difference = DecodeTree(r, m.difference[difference | (run == 0) << 8], 256);
                runContext = (runContext & ~1u) | (difference < 0x80);
                last = static_cast<unsigned char>(last + difference);
            }
        }
        // Past the patch's end the coder would go on making bytes of nothing: as many as a damaged count
        // says.
        for (; insert; --insert) {
            // The byte before is the last of the buffer (it is written out only when another comes), or
            // output[0] before the first.
            unsigned byte = DecodeTree(r, m.literal[r.output[r.resultUsed]], 256);
            if (r.damaged) return PatchDamaged;
            if ((fault = Room(r)) != PatchSound) return fault;
            r.output[++r.resultUsed] = static_cast<unsigned char>(byte);
        }
    }
    return r.damaged ? PatchDamaged : Flush(r);
}

// Whether the base is the one the header names, by the digest of the whole base read through the
// window: PatchSound, PatchBaseMismatch, or PatchBaseMissing when it cannot be read. Each position after
// the first lies just past the window, which is refilled from there; the first is read too unless the
// window already holds the base from its start.
PatchFault CheckBase(PatchRun& r) {
    StartDigest(&r.digest);
    r.wanted = WindowCapacity;
    for (uint64_t position = 0; position < r.header.baseSize; position += r.windowSize) {
        if (Reach(r, position) != PatchSound) return PatchBaseMissing;
        AddToDigest(&r.digest, r.window, r.windowSize);
    }
    return FinishDigest(&r.digest) != r.header.baseDigest ? PatchBaseMismatch : PatchSound;
}

// The result through the block r (zero-filled, its routes and base size set), then its verdict.
PatchFault Apply(PatchRun& r, const unsigned char* patch, uint32_t patchSize) {
    r.next = patch + PatchHeaderSize;
    r.end = patch + patchSize;
    // The code's first 5 bytes.
#pragma GCC unroll 1
    for (int i = 0; i < 5; ++i)
        Shift(r);
    r.range = 0xFFFFFFFFu;
    StartDigest(&r.digest);
    PatchFault found = RunInstructions(r, r.header.resultSize);
    if (found == PatchSound && FinishDigest(&r.digest) != r.header.resultDigest) found = PatchDamaged;
    // Instructions read against another base go wrong in any way at all: the base decides which it was.
    if (found == PatchDamaged) {
        PatchFault base = CheckBase(r);
        if (base != PatchSound) found = base;
    }
    return found;
}

// ReadPatchHeader, in line where the updater calls it.
inline __attribute__((always_inline)) int ReadHeader(const unsigned char* patch, uint32_t patchSize,
                                                     PatchHeader* header) {
    if (!patch || patchSize < PatchHeaderSize) return 0;
    // Compared as one word, which the compiler does in one instruction rather than a call of memcmp.
    uint32_t magic, expected;
    memcpy(&magic, patch, sizeof magic);
    memcpy(&expected, PatchMagic, sizeof expected);
    if (magic != expected) return 0;
    memcpy(header, patch + PatchBaseSizeAt, PatchHeaderSize - PatchBaseSizeAt);
    return 1;
}

// A file opened for reading (shared with other readers) or writing (by this program alone).
__attribute__((noinline)) HANDLE OpenFile(const char* path, DWORD access, DWORD disposition) {
    return CreateFileA(path, access, access == GENERIC_READ ? FILE_SHARE_READ : 0, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

const uint32_t PatchApplyMemory = sizeof(PatchRun);

int ReadPatchHeader(const unsigned char* patch, uint32_t patchSize, PatchHeader* header) {
    return ReadHeader(patch, patchSize, header);
}

int ApplyPatch(const char* oldPath, const unsigned char* patch, uint32_t patchSize, const char* newPath,
               PatchFault* fault) {
    PatchHeader header;
    PatchFault found = PatchDamaged;
    if (ReadHeader(patch, patchSize, &header)) {
        found = PatchBaseMissing;
        HANDLE base = OpenFile(oldPath, GENERIC_READ, OPEN_EXISTING);
        if (base != INVALID_HANDLE_VALUE) {
            // A size that cannot be had tells nothing of the release: the base is unreadable, not another.
            DWORD high = 0;
            DWORD low = GetFileSize(base, &high);
            PatchRun* r;
            if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) {
            } else if ((uint64_t(high) << 32 | low) != header.baseSize) {
                found = PatchBaseMismatch;
            } else if (!(r = static_cast<PatchRun*>(GlobalAlloc(GPTR, sizeof(PatchRun))))) {
                found = PatchNoMemory;
            } else {
                r->header = header;
                r->baseFile = base;
                r->readBase = ReadBaseFile;
                r->writeResult = WriteResultFile;
                found = PatchWriteFailed;
                if (!newPath) {
                    found = CheckBase(*r);
                } else if ((r->resultFile = OpenFile(newPath, GENERIC_WRITE, CREATE_NEW)) !=
                           INVALID_HANDLE_VALUE) {
                    found = Apply(*r, patch, patchSize);
                    if (found == PatchSound && !FlushFileBuffers(r->resultFile)) found = PatchWriteFailed;
                    if (!CloseHandle(r->resultFile) && found == PatchSound) found = PatchWriteFailed;
                    if (found != PatchSound) DeleteFileA(newPath);
                }
                GlobalFree(r);
            }
            CloseHandle(base);
        }
    }
    *fault = found;
    return found == PatchSound;
}

int ApplyPatchInMemory(const unsigned char* base, uint64_t baseSize, const unsigned char* patch,
                       uint32_t patchSize, unsigned char* result, uint32_t resultCapacity,
                       PatchFault* fault) {
    PatchHeader header;
    PatchRun* r = nullptr;
    PatchFault found = PatchDamaged;
    if (!ReadPatchHeader(patch, patchSize, &header)) {
    } else if (baseSize != header.baseSize) {
        found = PatchBaseMismatch;
    } else if (!base && baseSize) {
        found = PatchBaseMissing;
    } else if (!(r = static_cast<PatchRun*>(GlobalAlloc(GPTR, sizeof(PatchRun))))) {
        found = PatchNoMemory;
    } else {
        r->header = header;
        // Buffers of no bytes, which may be null, are never read or written, but memcpy wants an address.
        static unsigned char nowhere[1];
        r->baseMemory = base ? base : nowhere;
        r->resultMemory = result ? result : nowhere;
        r->resultMemoryLeft = result ? resultCapacity : 0;
        r->readBase = ReadBaseMemory;
        r->writeResult = WriteResultMemory;
        found = Apply(*r, patch, patchSize);
        GlobalFree(r);
    }
    *fault = found;
    return found == PatchSound;
}
