// XXH64 (seed 0) over data that arrive in pieces of any size. Whole 32-byte stripes go straight from the
// caller's bytes into the four lanes; only a stripe cut between two calls is gathered in pending.
#include "archive/content_digest.h"

#include <cstring>

namespace {

const uint64_t Prime1 = 0x9E3779B185EBCA87ull;
const uint64_t Prime2 = 0xC2B2AE3D27D4EB4Full;
const uint64_t Prime3 = 0x165667B19E3779F9ull;
const uint64_t Prime4 = 0x85EBCA77C2B2AE63ull;
const uint64_t Prime5 = 0x27D4EB2F165667C5ull;

inline uint64_t Rotate(uint64_t value, unsigned bits) {
    return bits ? value << bits | value >> (64 - bits) : value;
}

// The digest is defined on little-endian words, whatever the host.
__attribute__((noinline)) uint64_t Load64(const unsigned char* p) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

inline uint32_t Load32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Out of line, as the steps below: a 64-bit multiply is several instructions in the 32-bit updater, and
// the digest must take little of its room.
__attribute__((noinline)) uint64_t Round(uint64_t lane, uint64_t word) {
    return Rotate(lane + word * Prime2, 31) * Prime1;
}

// hash rotated by bits, times factor, plus addend: the step of every part of the finish.
__attribute__((noinline)) uint64_t Step(uint64_t hash, unsigned bits, uint64_t factor, uint64_t addend) {
    return Rotate(hash, bits) * factor + addend;
}

// The finish's mixing: the hash shifted right and folded into itself, times factor.
__attribute__((noinline)) uint64_t Fold(uint64_t hash, unsigned bits, uint64_t factor) {
    return (hash ^ hash >> bits) * factor;
}

const unsigned char* Stripes(uint64_t* lanes, const unsigned char* p, const unsigned char* end) {
    while (end - p >= 32) {
        for (int i = 0; i < 4; ++i)
            lanes[i] = Round(lanes[i], Load64(p + 8 * i));
        p += 32;
    }
    return p;
}

} // namespace

void StartDigest(ContentDigest* digest) {
    memset(digest, 0, sizeof *digest);
    digest->lanes[0] = Prime1 + Prime2;
    digest->lanes[1] = Prime2;
    digest->lanes[3] = 0 - Prime1;
}

void AddToDigest(ContentDigest* digest, const void* data, uint32_t size) {
    if (!size) return; // nothing to add, perhaps from no buffer at all
    const unsigned char* p = static_cast<const unsigned char*>(data);
    const unsigned char* end = p + size;
    digest->total += size;
    if (digest->pendingSize) {
        uint32_t taken = 32 - digest->pendingSize;
        if (taken > size) taken = size;
        memcpy(digest->pending + digest->pendingSize, p, taken);
        digest->pendingSize += taken;
        p += taken;
        if (digest->pendingSize < 32) return;
        Stripes(digest->lanes, digest->pending, digest->pending + 32);
        digest->pendingSize = 0;
    }
    p = Stripes(digest->lanes, p, end);
    digest->pendingSize = static_cast<uint32_t>(end - p);
    memcpy(digest->pending, p, digest->pendingSize);
}

uint64_t FinishDigest(const ContentDigest* digest) {
    const uint64_t* v = digest->lanes;
    uint64_t hash;
    if (digest->total >= 32) {
        static const unsigned char Turns[4] = {1, 7, 12, 18};
        hash = 0;
        for (int i = 0; i < 4; ++i)
            hash = Step(v[i], Turns[i], 1, hash);
        for (int i = 0; i < 4; ++i)
            hash = Step(hash ^ Round(0, v[i]), 0, Prime1, Prime4);
    } else {
        hash = Prime5;
    }
    hash += digest->total;
    const unsigned char* p = digest->pending;
    const unsigned char* end = p + digest->pendingSize;
    for (; end - p >= 8; p += 8)
        hash = Step(hash ^ Round(0, Load64(p)), 27, Prime1, Prime4);
    if (end - p >= 4) {
        hash = Step(hash ^ Step(Load32(p), 0, Prime1, 0), 23, Prime2, Prime3);
        p += 4;
    }
    for (; p < end; ++p)
        hash = Step(hash ^ Step(*p, 0, Prime5, 0), 11, Prime1, 0);
    return Fold(Fold(Fold(hash, 33, Prime2), 29, Prime3), 32, 1);
}

uint64_t DigestOf(const void* data, uint32_t size) {
    ContentDigest digest;
    StartDigest(&digest);
    AddToDigest(&digest, data, size);
    return FinishDigest(&digest);
}
