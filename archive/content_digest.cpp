// XXH64 (seed 0) over data that arrive in pieces of any size. Whole 32-byte stripes go straight from the
// caller's bytes into the four lanes; only a stripe cut between two calls is gathered in pending, which
// therefore holds the total's low five bits' worth of bytes.
//
// The updater is 32-bit code, where a 64-bit multiply or rotation is several instructions and a 64-bit
// constant takes eight bytes wherever it is used: the steps below are out of line and name their primes
// by a small index into one table, so that the digest takes little of the program's room.
#include "archive/content_digest.h"

#include <cstring>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the digest reads its words as the host stores them");

namespace {

const uint64_t Prime1 = 0x9E3779B185EBCA87ull;
const uint64_t Prime2 = 0xC2B2AE3D27D4EB4Full;
const uint64_t Prime3 = 0x165667B19E3779F9ull;
const uint64_t Prime4 = 0x85EBCA77C2B2AE63ull;
const uint64_t Prime5 = 0x27D4EB2F165667C5ull;

// What the steps name their factors and addends by: the primes, and 0 and 1 for a step that adds nothing or
// multiplies by nothing.
enum Factor { Zero, P1, P2, P3, P4, P5, One };
const uint64_t Factors[] = {0, Prime1, Prime2, Prime3, Prime4, Prime5, 1};

__attribute__((noinline)) uint64_t Times(uint64_t value, unsigned factor) {
    return value * Factors[factor];
}

// bits from 0 to 63.
__attribute__((noinline)) uint64_t Rotate(uint64_t value, unsigned bits) {
    return value << bits | value >> ((64 - bits) & 63);
}

// lane = (lane + word * Prime2) rotated by 31, times Prime1; the word is the 8 bytes at p. The stripes'
// step, where nearly all the time goes.
__attribute__((noinline)) void Round(uint64_t* lane, const unsigned char* p) {
    uint64_t word;
    memcpy(&word, p, 8);
    *lane = Times(Rotate(*lane + Times(word, P2), 31), P1);
}

// The steps of the finish, by what is left: a lane (32), then the pending bytes 8, 4 and 1 at a time. Each
// takes size bytes as a little-endian word, turns it into word * first rotated by turn, times second,
// and folds that into the hash: (hash ^ word) rotated by bits, times factor, plus addend.
struct FinishStep {
    unsigned char least, size, first, turn, second, bits, factor, addend;
};
const FinishStep FinishSteps[4] = {{32, 8, P2, 31, P1, 0, P1, P4},
                                   {8, 8, P2, 31, P1, 27, P1, P4},
                                   {4, 4, P1, 0, One, 23, P2, P3},
                                   {1, 1, P5, 0, One, 11, P1, Zero}};

// The step for left bytes at p (a lane: left 32), into the hash; the bytes taken.
__attribute__((noinline)) unsigned Merge(uint64_t* hash, const unsigned char* p, unsigned left) {
    const FinishStep* s = FinishSteps;
    while (left < s->least)
        ++s;
    uint64_t word = 0;
    memcpy(&word, p, s->size);
    word = Times(Rotate(Times(word, s->first), s->turn), s->second);
    *hash = Times(Rotate(*hash ^ word, s->bits), s->factor) + Factors[s->addend];
    return s->size;
}

void Stripe(uint64_t* lanes, const unsigned char* p) {
    for (int i = 0; i < 4; ++i)
        Round(lanes + i, p + 8 * i);
}

} // namespace

void StartDigest(ContentDigest* digest) {
    static const uint64_t Start[4] = {Prime1 + Prime2, Prime2, 0, 0 - Prime1};
    memcpy(digest->lanes, Start, sizeof Start);
    digest->total = 0;
}

void AddToDigest(ContentDigest* digest, const void* data, uint32_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (size) {
        uint32_t pending = static_cast<uint32_t>(digest->total) & 31;
        uint32_t taken = 32 - pending < size ? 32 - pending : size;
        const unsigned char* stripe = p;
        if (taken < 32) {
            memcpy(digest->pending + pending, p, taken);
            stripe = digest->pending;
        }
        digest->total += taken;
        p += taken;
        size -= taken;
        if (!(digest->total & 31)) Stripe(digest->lanes, stripe);
    }
}

uint64_t FinishDigest(const ContentDigest* digest) {
    const uint64_t* v = digest->lanes;
    uint64_t hash = Prime5;
    if (digest->total >> 5) {
        hash = 0;
        static const unsigned char Turns[4] = {1, 7, 12, 18};
        for (int i = 0; i < 4; ++i)
            hash += Rotate(v[i], Turns[i]);
        for (int i = 0; i < 4; ++i)
            Merge(&hash, reinterpret_cast<const unsigned char*>(v + i), 32);
    }
    hash += digest->total;
    const unsigned char* p = digest->pending;
    for (unsigned left = static_cast<unsigned>(digest->total) & 31, size; left; left -= size, p += size)
        size = Merge(&hash, p, left);
    hash = Times(hash ^ hash >> 33, P2);
    hash = Times(hash ^ hash >> 29, P3);
    return hash ^ hash >> 32;
}

uint64_t DigestOf(const void* data, uint32_t size) {
    ContentDigest digest;
    StartDigest(&digest);
    AddToDigest(&digest, data, size);
    return FinishDigest(&digest);
}
