// The patch encoder. Finding the instructions follows the classic suffix-array differ: at each position of
// the result the longest exact match in the base is found by binary search over the base's suffix array;
// a match is taken when it is longer by a margin than what the current alignment (the last match's offset
// carried on) already gives, and matches are extended forward and backward while at least half their
// bytes agree, so that a region of code in which only addresses changed becomes one instruction whose
// differences are mostly zero. Coding mirrors archive/patch_decoder.cpp decision for decision.
#include "tools/packer/patch_encoder.h"

#include "archive/content_digest.h"
#include "archive/patch_format.h"

#include <cstdlib>
#include <cstring>

#ifndef _WIN32
#include <divsufsort.h>
const bool PatchEncoderAvailable = true;
#else
const bool PatchEncoderAvailable = false;
#endif

namespace {

// The range encoder of the decoder's range decoder: low keeps the bits not yet settled, and a run of 0xFF
// bytes waits in cacheSize until a carry decides them.
struct RangeEncoder {
    std::vector<unsigned char>* out;
    uint64_t low;
    uint32_t range;
    unsigned char cache;
    uint64_t cacheSize;
};

void ShiftLow(RangeEncoder& e) {
    if (static_cast<uint32_t>(e.low) < 0xFF000000u || (e.low >> 32) != 0) {
        unsigned char carry = static_cast<unsigned char>(e.low >> 32);
        unsigned char byte = e.cache;
        do {
            e.out->push_back(static_cast<unsigned char>(byte + carry));
            byte = 0xFF;
        } while (--e.cacheSize);
        e.cache = static_cast<unsigned char>(e.low >> 24);
    }
    ++e.cacheSize;
    e.low = (e.low & 0x00FFFFFFu) << 8;
}

void EncodeBit(RangeEncoder& e, uint16_t* probability, unsigned bit) {
    uint32_t bound = (e.range >> PatchProbabilityBits) * *probability;
    if (!bit) {
        e.range = bound;
        *probability =
            static_cast<uint16_t>(*probability + ((PatchProbabilityOne - *probability) >> PatchAdaptShift));
    } else {
        e.low += bound;
        e.range -= bound;
        *probability = static_cast<uint16_t>(*probability - (*probability >> PatchAdaptShift));
    }
    while (e.range < PatchRangeTop) {
        e.range <<= 8;
        ShiftLow(e);
    }
}

void EncodeByte(RangeEncoder& e, uint16_t* tree, unsigned byte) {
    unsigned node = 1;
    for (int i = 7; i >= 0; --i) {
        unsigned bit = (byte >> i) & 1;
        EncodeBit(e, tree + node, bit);
        node = node << 1 | bit;
    }
}

void EncodeNumber(RangeEncoder& e, PatchNumberModel& model, uint64_t value) {
    unsigned width = 0;
    while (width < 64 && (value >> width) != 0)
        ++width;
    unsigned node = 1;
    for (int i = PatchNumberWidthBits - 1; i >= 0; --i) {
        unsigned bit = (width >> i) & 1;
        EncodeBit(e, model.width + node, bit);
        node = node << 1 | bit;
    }
    for (unsigned place = 1; place < width; ++place)
        EncodeBit(e, &model.mantissa[width][place < PatchNumberPlaces ? place : PatchNumberPlaces - 1],
                  (value >> (width - 1 - place)) & 1);
}

// A run of agreeing bytes, and what it tells about the next one.
void EncodeRun(RangeEncoder& e, PatchModels& m, unsigned& runContext, uint64_t run) {
    EncodeNumber(e, m.zeroRun[runContext], run);
    unsigned width = 0;
    while (width < 31 && (run >> width) != 0)
        ++width;
    runContext = width << 1 | (runContext & 1);
}

void Store64(unsigned char* p, uint64_t value) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<unsigned char>(value >> (8 * i));
}

#ifndef _WIN32
// How far the bytes at a and b agree, up to limit.
uint64_t CommonLength(const unsigned char* a, const unsigned char* b, uint64_t limit) {
    uint64_t length = 0;
    while (length + 8 <= limit) {
        uint64_t x, y;
        memcpy(&x, a + length, 8);
        memcpy(&y, b + length, 8);
        if (x != y) return length + static_cast<uint64_t>(__builtin_ctzll(x ^ y)) / 8;
        length += 8;
    }
    while (length < limit && a[length] == b[length])
        ++length;
    return length;
}

struct SuffixIndex {
    const unsigned char* base;
    int64_t size;
    const int32_t* order; // the base's suffixes in sorted order
};

// Matches are looked for up to this length. Without a limit every step of the binary search compares as
// far as the bytes agree, which in a base of long repeats (zero-filled regions, repeated records) is most of
// the file at every position: quadratic time. A longer match goes on under the alignment it sets.
const int64_t MatchSearchLimit = int64_t(1) << 16;

// The longest match of the size bytes at text in the base, up to MatchSearchLimit: its length, and its
// base position in *at.
int64_t LongestMatch(const SuffixIndex& index, const unsigned char* text, int64_t size, int64_t* at) {
    *at = 0;
    if (size > MatchSearchLimit) size = MatchSearchLimit;
    if (index.size == 0 || size == 0) return 0;
    int64_t low = 0, high = index.size - 1;
    while (high - low > 1) {
        int64_t middle = low + (high - low) / 2;
        int64_t position = index.order[middle];
        int64_t length = index.size - position < size ? index.size - position : size;
        if (memcmp(index.base + position, text, static_cast<size_t>(length)) < 0)
            low = middle;
        else
            high = middle;
    }
    int64_t best = -1;
    for (int64_t candidate : {low, high}) {
        int64_t position = index.order[candidate];
        int64_t limit = index.size - position < size ? index.size - position : size;
        int64_t length =
            static_cast<int64_t>(CommonLength(index.base + position, text, static_cast<uint64_t>(limit)));
        if (length > best) {
            best = length;
            *at = position;
        }
    }
    return best;
}

// A match is worth a new instruction only when it beats the current alignment by this many bytes.
const int64_t MatchMargin = 8;

void Scan(const SuffixIndex& index, const unsigned char* result, int64_t resultSize,
          std::vector<PatchInstruction>& instructions) {
    const unsigned char* base = index.base;
    const int64_t baseSize = index.size;
    int64_t scan = 0, length = 0, position = 0;
    int64_t lastScan = 0, lastPosition = 0, lastOffset = 0;
    int64_t basePosition = 0; // where the decoder's base position stands
    while (scan < resultSize) {
        int64_t aligned = 0; // bytes of the current match that the previous alignment also gives
        int64_t counted = scan += length;
        for (; scan < resultSize; ++scan) {
            length = LongestMatch(index, result + scan, resultSize - scan, &position);
            for (; counted < scan + length; ++counted)
                if (counted + lastOffset >= 0 && counted + lastOffset < baseSize &&
                    base[counted + lastOffset] == result[counted])
                    ++aligned;
            if ((length == aligned && length != 0) || length > aligned + MatchMargin) break;
            if (scan + lastOffset >= 0 && scan + lastOffset < baseSize &&
                base[scan + lastOffset] == result[scan])
                --aligned;
        }
        if (length == aligned && scan != resultSize) continue;

        // Forward from the last match: as far as agreeing bytes keep above half.
        int64_t forward = 0;
        {
            int64_t agree = 0, best = 0;
            for (int64_t i = 0; lastScan + i < scan && lastPosition + i < baseSize;) {
                if (base[lastPosition + i] == result[lastScan + i]) ++agree;
                ++i;
                if (agree * 2 - i > best * 2 - forward) {
                    best = agree;
                    forward = i;
                }
            }
        }
        // Backward from the new match, likewise.
        int64_t backward = 0;
        if (scan < resultSize) {
            int64_t agree = 0, best = 0;
            for (int64_t i = 1; scan >= lastScan + i && position >= i; ++i) {
                if (base[position - i] == result[scan - i]) ++agree;
                if (agree * 2 - i > best * 2 - backward) {
                    best = agree;
                    backward = i;
                }
            }
        }
        // Where the two overlap, the split that keeps the most agreeing bytes.
        if (lastScan + forward > scan - backward) {
            int64_t overlap = lastScan + forward - (scan - backward);
            int64_t balance = 0, best = 0, split = 0;
            for (int64_t i = 0; i < overlap; ++i) {
                if (result[lastScan + forward - overlap + i] == base[lastPosition + forward - overlap + i])
                    ++balance;
                if (result[scan - backward + i] == base[position - backward + i]) --balance;
                if (balance > best) {
                    best = balance;
                    split = i + 1;
                }
            }
            forward += split - overlap;
            backward -= split;
        }
        int64_t insert = (scan - backward) - (lastScan + forward);
        if (forward + insert > 0) {
            instructions.push_back(
                {lastPosition - basePosition, static_cast<uint64_t>(forward), static_cast<uint64_t>(insert)});
            basePosition = lastPosition + forward;
        }
        lastScan = scan - backward;
        lastPosition = position - backward;
        lastOffset = position - scan;
    }
}

#endif

} // namespace

int FindPatchInstructions(const unsigned char* base, uint64_t baseSize, const unsigned char* result,
                          uint32_t resultSize, std::vector<PatchInstruction>& instructions) {
    instructions.clear();
#ifdef _WIN32
    (void)base;
    (void)baseSize;
    (void)result;
    (void)resultSize;
    return 0;
#else
    if (baseSize >= (uint64_t(1) << 31)) return 0;
    int32_t* order = nullptr;
    if (baseSize) {
        order = static_cast<int32_t*>(malloc(static_cast<size_t>(baseSize) * sizeof(int32_t)));
        if (!order || divsufsort(base, order, static_cast<int32_t>(baseSize)) != 0) {
            free(order);
            return 0;
        }
    }
    SuffixIndex index = {base, static_cast<int64_t>(baseSize), order};
    Scan(index, result, resultSize, instructions);
    free(order);
    return 1;
#endif
}

uint64_t DigestOfBase(const unsigned char* base, uint64_t baseSize) {
    ContentDigest digest;
    StartDigest(&digest);
    for (uint64_t at = 0; at < baseSize; at += uint64_t(1) << 30) {
        uint64_t piece = baseSize - at < (uint64_t(1) << 30) ? baseSize - at : uint64_t(1) << 30;
        AddToDigest(&digest, base + at, static_cast<uint32_t>(piece));
    }
    return FinishDigest(&digest);
}

void WritePatch(const unsigned char* base, uint64_t baseSize, uint64_t baseDigest,
                const unsigned char* result, uint32_t resultSize,
                const std::vector<PatchInstruction>& instructions, std::vector<unsigned char>& patch) {
    patch.assign(PatchHeaderSize, 0);
    memcpy(patch.data(), PatchMagic, sizeof PatchMagic);
    Store64(patch.data() + PatchBaseSizeAt, baseSize);
    Store64(patch.data() + PatchBaseDigestAt, baseDigest);
    for (int i = 0; i < 4; ++i)
        patch[PatchResultSizeAt + i] = static_cast<unsigned char>(resultSize >> (8 * i));
    Store64(patch.data() + PatchResultDigestAt, DigestOf(result, resultSize));

    // Every model is 16-bit probabilities through and through, all starting at one half.
    std::vector<uint16_t> probabilities(sizeof(PatchModels) / sizeof(uint16_t), PatchProbabilityOne / 2);
    PatchModels& m = *reinterpret_cast<PatchModels*>(probabilities.data());
    RangeEncoder e = {&patch, 0, 0xFFFFFFFFu, 0, 1};
    uint64_t basePosition = 0, produced = 0;
    unsigned previous = 0, difference = 0, runContext = 0;
    for (const PatchInstruction& instruction : instructions) {
        EncodeBit(e, &m.seekBackward, instruction.seek < 0);
        EncodeNumber(e, m.seekDistance,
                     instruction.seek < 0 ? 0 - static_cast<uint64_t>(instruction.seek)
                                          : static_cast<uint64_t>(instruction.seek));
        basePosition += static_cast<uint64_t>(instruction.seek);
        EncodeNumber(e, m.copyLength, instruction.copy);
        EncodeNumber(e, m.insertLength, instruction.insert);
        uint64_t run = 0;
        for (uint64_t i = 0; i < instruction.copy; ++i) {
            unsigned old = base[basePosition + i];
            unsigned change = (result[produced + i] - old) & 255;
            if (!change) {
                ++run;
                continue;
            }
            EncodeRun(e, m, runContext, run);
            EncodeByte(e, m.difference[difference | (run == 0) << 8], change);
            difference = change;
            runContext = (runContext & ~1u) | (difference < 0x80);
            run = 0;
        }
        // A difference that ends the copy leaves no run after it; trailing agreeing bytes are one.
        if (run) EncodeRun(e, m, runContext, run);
        produced += instruction.copy;
        basePosition += instruction.copy;
        if (instruction.copy) previous = result[produced - 1];
        for (uint64_t i = 0; i < instruction.insert; ++i) {
            EncodeByte(e, m.literal[previous], result[produced + i]);
            previous = result[produced + i];
        }
        produced += instruction.insert;
    }
    for (int i = 0; i < 5; ++i)
        ShiftLow(e);
}

int EncodePatch(const unsigned char* base, uint64_t baseSize, const unsigned char* result,
                uint32_t resultSize, std::vector<unsigned char>& patch) {
    std::vector<PatchInstruction> instructions;
    if (!FindPatchInstructions(base, baseSize, result, resultSize, instructions)) return 0;
    WritePatch(base, baseSize, DigestOfBase(base, baseSize), result, resultSize, instructions, patch);
    return 1;
}
