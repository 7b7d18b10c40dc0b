// Applying a patch. One block holds the whole state: the probabilities of the coding, a window on the base
// (refilled from wherever the instructions point, so that the many short moves of a program's patch are
// mostly served without a read) and the result's buffer, written out in order as it fills and digested on
// the way. Every count the patch gives is held against what is left of the result and of the base before
// anything is copied, and the range decoder reads no byte past the patch: a read beyond it counts as damage.
#include "archive/patch_decoder.h"
#include "archive/content_digest.h"
#include "archive/patch_format.h"

#include <cstring>

namespace {

const uint32_t WindowCapacity = 64 * 1024;
const uint32_t ResultCapacity = 64 * 1024;

// Where the base comes from and the result goes: memory (the tool and the tests) or files (the updater).
// failed records the first fault of either.
struct PatchIo {
    const unsigned char* baseMemory; // null: the base is baseFile
    HANDLE baseFile;
    unsigned char* resultMemory; // null: the result goes to resultFile
    uint32_t resultMemoryUsed;
    uint32_t resultMemoryCapacity;
    HANDLE resultFile;
    PatchFault failed;
};

struct RangeDecoder {
    const unsigned char* next;
    const unsigned char* end;
    uint32_t range;
    uint32_t code;
    uint32_t overrun; // bytes wanted past the end of the patch: any is damage
};

// The small fields come first: the updater is 32-bit code, where a field near the start of the block takes
// a byte to address and one past the buffers four.
struct PatchRun {
    RangeDecoder coder;
    PatchIo* io;
    uint32_t windowSize;
    uint32_t resultUsed;
    uint64_t baseSize;
    uint64_t windowStart;
    ContentDigest digest;
    unsigned char window[WindowCapacity]; // base bytes from windowStart
    unsigned char result[ResultCapacity]; // result bytes not yet written
    PatchModels models;
};

// Little-endian fields of count bytes (up to 8). Out of line, as the coding's steps below: the updater
// keeps this decoder small rather than fast where little time is spent.
__attribute__((noinline)) uint64_t LoadField(const unsigned char* p, int count) {
    uint64_t value = 0;
    while (count--)
        value = value << 8 | p[count];
    return value;
}

inline unsigned char NextByte(RangeDecoder& d) {
    if (d.next < d.end) return *d.next++;
    ++d.overrun;
    return 0;
}

inline unsigned DecodeBit(RangeDecoder& d, uint16_t* probability) {
    uint32_t bound = (d.range >> PatchProbabilityBits) * *probability;
    unsigned bit;
    if (d.code < bound) {
        d.range = bound;
        *probability =
            static_cast<uint16_t>(*probability + ((PatchProbabilityOne - *probability) >> PatchAdaptShift));
        bit = 0;
    } else {
        d.range -= bound;
        d.code -= bound;
        *probability = static_cast<uint16_t>(*probability - (*probability >> PatchAdaptShift));
        bit = 1;
    }
    if (d.range < PatchRangeTop) {
        d.range <<= 8;
        d.code = d.code << 8 | NextByte(d);
    }
    return bit;
}

// A byte through a bit tree of 255 probabilities (index 1 to 255; 0 unused).
__attribute__((noinline)) unsigned DecodeByte(RangeDecoder& d, uint16_t* tree) {
    unsigned node = 1;
    while (node < 256)
        node = node << 1 | DecodeBit(d, tree + node);
    return node & 255;
}

uint64_t DecodeNumber(RangeDecoder& d, PatchNumberModel& model) {
    unsigned width = 1;
    while (width < PatchNumberWidths)
        width = width << 1 | DecodeBit(d, model.width + width);
    width -= PatchNumberWidths;
    if (width == 0) return 0;
    uint64_t value = 1;
    for (unsigned place = 1; place < width; ++place)
        value =
            value << 1 |
            DecodeBit(d, &model.mantissa[width][place < PatchNumberPlaces ? place : PatchNumberPlaces - 1]);
    return value;
}

// A count of result bytes, which must not pass limit. 1, or 0 when it does.
int DecodeCount(RangeDecoder& d, PatchNumberModel& model, uint32_t limit, uint32_t* count) {
    uint64_t value = DecodeNumber(d, model);
    *count = static_cast<uint32_t>(value);
    return value <= limit;
}

int ReadExactly(HANDLE file, void* buffer, uint32_t size) {
    DWORD read = 0;
    return ReadFile(file, buffer, size, &read, nullptr) && read == size;
}

int ReadBase(PatchIo* io, uint64_t position, unsigned char* buffer, uint32_t size) {
    if (io->baseMemory) {
        memcpy(buffer, io->baseMemory + position, size);
        return 1;
    }
    // The window is refilled only where the instructions leave it, so every read may as well seek.
    LONG high = static_cast<LONG>(position >> 32);
    DWORD low = SetFilePointer(io->baseFile, static_cast<LONG>(position), &high, FILE_BEGIN);
    return low == static_cast<DWORD>(position) &&
           static_cast<DWORD>(high) == static_cast<DWORD>(position >> 32) &&
           ReadExactly(io->baseFile, buffer, size);
}

int WriteResult(PatchIo* io, const unsigned char* data, uint32_t size) {
    if (io->resultMemory) {
        if (size > io->resultMemoryCapacity - io->resultMemoryUsed) return 0;
        memcpy(io->resultMemory + io->resultMemoryUsed, data, size);
        io->resultMemoryUsed += size;
        return 1;
    }
    DWORD written = 0;
    return WriteFile(io->resultFile, data, size, &written, nullptr) && written == size;
}

int FlushResult(PatchRun& r) {
    AddToDigest(&r.digest, r.result, r.resultUsed);
    int written = WriteResult(r.io, r.result, r.resultUsed);
    r.resultUsed = 0;
    if (!written) r.io->failed = PatchWriteFailed;
    return written;
}

inline int EmitByte(PatchRun& r, unsigned byte) {
    r.result[r.resultUsed++] = static_cast<unsigned char>(byte);
    return r.resultUsed < ResultCapacity || FlushResult(r);
}

// Brings the base byte at position (inside the base) into the window; 1 or 0 after a failed read.
int Reach(PatchRun& r, uint64_t position) {
    if (position - r.windowStart < r.windowSize) return 1;
    uint64_t left = r.baseSize - position;
    r.windowStart = position;
    r.windowSize = left < WindowCapacity ? static_cast<uint32_t>(left) : WindowCapacity;
    if (ReadBase(r.io, position, r.window, r.windowSize)) return 1;
    r.windowSize = 0;
    r.io->failed = PatchBaseMissing;
    return 0;
}

// Appends count base bytes from position as they are; the caller has checked that they lie in the base.
int CopyBase(PatchRun& r, uint64_t position, uint32_t count) {
    while (count) {
        if (!Reach(r, position)) return 0;
        uint32_t offset = static_cast<uint32_t>(position - r.windowStart);
        uint32_t chunk = r.windowSize - offset;
        if (chunk > ResultCapacity - r.resultUsed) chunk = ResultCapacity - r.resultUsed;
        if (chunk > count) chunk = count;
        memcpy(r.result + r.resultUsed, r.window + offset, chunk);
        r.resultUsed += chunk;
        position += chunk;
        count -= chunk;
        if (r.resultUsed == ResultCapacity && !FlushResult(r)) return 0;
    }
    return 1;
}

// Runs the instructions, each a move of the base position, base bytes taken with differences, and new
// bytes inserted; PatchSound when the result has its size, whatever its digest.
PatchFault RunInstructions(PatchRun& r, const unsigned char* patch, uint32_t patchSize,
                           const PatchHeader& header) {
    uint16_t* probabilities = reinterpret_cast<uint16_t*>(&r.models);
    for (size_t i = 0; i < sizeof r.models / sizeof(uint16_t); ++i)
        probabilities[i] = PatchProbabilityOne / 2;
    RangeDecoder& d = r.coder;
    d.next = patch + PatchHeaderSize;
    d.end = patch + patchSize;
    d.range = 0xFFFFFFFFu;
    for (int i = 0; i < 5; ++i)
        d.code = d.code << 8 | NextByte(d);
    StartDigest(&r.digest);

    PatchModels& m = r.models;
    uint64_t basePosition = 0;         // never beyond baseSize
    uint32_t left = header.resultSize; // result bytes still to come
    unsigned previous = 0;             // the last result byte
    unsigned difference = 0;           // the last difference byte
    unsigned runContext = 0;           // what the runs and differences before say about the next run
    while (left && !d.overrun) {
        unsigned backward = DecodeBit(d, &m.seekBackward);
        uint64_t distance = DecodeNumber(d, m.seekDistance);
        if (backward ? distance > basePosition : distance > r.baseSize - basePosition) return PatchDamaged;
        basePosition = backward ? basePosition - distance : basePosition + distance;
        uint64_t baseLeft = r.baseSize - basePosition;
        uint32_t copy, insert;
        if (!DecodeCount(d, m.copyLength, baseLeft < left ? static_cast<uint32_t>(baseLeft) : left, &copy) ||
            !DecodeCount(d, m.insertLength, left - copy, &insert) || copy + insert == 0)
            return PatchDamaged;
        left -= copy + insert;
        while (copy) {
            uint32_t run;
            if (!DecodeCount(d, m.zeroRun[runContext], copy, &run) || d.overrun) return PatchDamaged;
            unsigned width = run ? 32 - static_cast<unsigned>(__builtin_clz(run)) : 0;
            runContext = (width < 31 ? width : 31) << 1 | (runContext & 1);
            if (run) {
                if (!CopyBase(r, basePosition, run)) return r.io->failed;
                basePosition += run;
                copy -= run;
                previous = r.window[basePosition - 1 - r.windowStart];
                if (!copy) break;
            }
            if (!Reach(r, basePosition)) return r.io->failed;
            difference = DecodeByte(d, m.difference[difference | (run == 0) << 8]);
            runContext = (runContext & ~1u) | (difference < 0x80);
            previous = (r.window[basePosition - r.windowStart] + difference) & 255;
            if (!EmitByte(r, previous)) return r.io->failed;
            ++basePosition;
            --copy;
        }
        // Past the patch's end the coder would go on making bytes of nothing: as many as a damaged count
        // says.
        for (; insert; --insert) {
            previous = DecodeByte(d, m.literal[previous]);
            if (d.overrun) return PatchDamaged;
            if (!EmitByte(r, previous)) return r.io->failed;
        }
    }
    if (d.overrun) return PatchDamaged;
    if (r.resultUsed && !FlushResult(r)) return r.io->failed;
    return PatchSound;
}

// Whether the base is the one the header names, by the digest of the whole base read through the window:
// PatchSound, PatchBaseMismatch, or PatchBaseMissing when it cannot be read.
PatchFault CheckBase(PatchRun& r, const PatchHeader& header) {
    ContentDigest whole;
    StartDigest(&whole);
    for (uint64_t position = 0; position < r.baseSize; position += r.windowSize) {
        r.windowSize = 0;
        if (!Reach(r, position)) return PatchBaseMissing;
        AddToDigest(&whole, r.window, r.windowSize);
    }
    return FinishDigest(&whole) != header.baseDigest ? PatchBaseMismatch : PatchSound;
}

// The result through the block r (zero-filled, its io and base size set), then its verdict.
int Apply(PatchRun& r, const unsigned char* patch, uint32_t patchSize, const PatchHeader& header,
          PatchFault* fault) {
    PatchFault found = RunInstructions(r, patch, patchSize, header);
    if (found == PatchSound && FinishDigest(&r.digest) != header.resultDigest) found = PatchDamaged;
    // Instructions read against another base go wrong in any way at all: the base decides which it was.
    if (found == PatchDamaged) {
        PatchFault base = CheckBase(r, header);
        if (base != PatchSound) found = base;
    }
    *fault = found;
    return found == PatchSound;
}

// The block of one application, zero-filled, for io and the base the header names; null without memory.
PatchRun* StartRun(PatchIo* io, const PatchHeader& header, PatchFault* fault) {
    PatchRun* r = static_cast<PatchRun*>(GlobalAlloc(GPTR, sizeof(PatchRun)));
    *fault = PatchNoMemory;
    if (r) {
        r->io = io;
        r->baseSize = header.baseSize;
    }
    return r;
}

// The base at oldPath opened for reading, when its size is the patch's; INVALID_HANDLE_VALUE with the fault.
HANDLE OpenBase(const char* oldPath, const PatchHeader& header, PatchFault* fault) {
    HANDLE file = CreateFileA(oldPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *fault = PatchBaseMissing;
        return file;
    }
    // A size that cannot be had tells nothing of the release: the base is unreadable, not another one.
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    int unread = low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS;
    if (unread || (uint64_t(high) << 32 | low) != header.baseSize) {
        CloseHandle(file);
        *fault = unread ? PatchBaseMissing : PatchBaseMismatch;
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

// What CheckPatchBase (newPath null) and ApplyPatch share: the header, the base opened and its size
// checked, the block allocated; then the base's digest, or the result built into newPath.
int UseBase(const char* oldPath, const unsigned char* patch, uint32_t patchSize, const char* newPath,
            PatchFault* fault) {
    PatchHeader header;
    if (!ReadPatchHeader(patch, patchSize, &header)) {
        *fault = PatchDamaged;
        return 0;
    }
    PatchIo io;
    memset(&io, 0, sizeof io);
    io.baseFile = OpenBase(oldPath, header, fault);
    if (io.baseFile == INVALID_HANDLE_VALUE) return 0;
    int done = 0;
    PatchRun* r = StartRun(&io, header, fault);
    if (r && !newPath) {
        *fault = CheckBase(*r, header);
        done = *fault == PatchSound;
    } else if (r) {
        io.resultFile =
            CreateFileA(newPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        *fault = PatchWriteFailed;
        if (io.resultFile != INVALID_HANDLE_VALUE) {
            done = Apply(*r, patch, patchSize, header, fault);
            int flushed = done && FlushFileBuffers(io.resultFile);
            int closed = CloseHandle(io.resultFile);
            if (done && (!flushed || !closed)) {
                *fault = PatchWriteFailed;
                done = 0;
            }
            if (!done) DeleteFileA(newPath);
        }
    }
    if (r) GlobalFree(r);
    CloseHandle(io.baseFile);
    return done;
}

} // namespace

const uint32_t PatchApplyMemory = sizeof(PatchRun);

int ReadPatchHeader(const unsigned char* patch, uint32_t patchSize, PatchHeader* header) {
    if (!patch || patchSize < PatchHeaderSize || memcmp(patch, PatchMagic, sizeof PatchMagic) != 0) return 0;
    header->baseSize = LoadField(patch + PatchBaseSizeAt, 8);
    header->baseDigest = LoadField(patch + PatchBaseDigestAt, 8);
    header->resultSize = static_cast<uint32_t>(LoadField(patch + PatchResultSizeAt, 4));
    header->resultDigest = LoadField(patch + PatchResultDigestAt, 8);
    return 1;
}

int CheckPatchBase(const char* oldPath, const unsigned char* patch, uint32_t patchSize, PatchFault* fault) {
    return UseBase(oldPath, patch, patchSize, nullptr, fault);
}

int ApplyPatch(const char* oldPath, const unsigned char* patch, uint32_t patchSize, const char* newPath,
               PatchFault* fault) {
    return UseBase(oldPath, patch, patchSize, newPath, fault);
}

int ApplyPatchInMemory(const unsigned char* base, uint64_t baseSize, const unsigned char* patch,
                       uint32_t patchSize, unsigned char* result, uint32_t resultCapacity,
                       PatchFault* fault) {
    PatchHeader header;
    if (!ReadPatchHeader(patch, patchSize, &header)) {
        *fault = PatchDamaged;
        return 0;
    }
    if (baseSize != header.baseSize) {
        *fault = PatchBaseMismatch;
        return 0;
    }
    if (!base && baseSize) {
        *fault = PatchBaseMissing;
        return 0;
    }
    PatchIo io;
    memset(&io, 0, sizeof io);
    static const unsigned char empty[1] = {0};
    io.baseMemory = base ? base : empty;
    static unsigned char nowhere[1];
    io.resultMemory = result ? result : nowhere;
    io.resultMemoryCapacity = result ? resultCapacity : 0;
    PatchRun* r = StartRun(&io, header, fault);
    int done = r && Apply(*r, patch, patchSize, header, fault);
    if (r) GlobalFree(r);
    return done;
}
