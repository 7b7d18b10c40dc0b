// Encoder of the archive's compressed stream, for the publisher's tool. It writes the parse with the
// fewest bits the format allows: every token has a fixed cost in control bits and data bytes, so a
// dynamic program over positions finds the minimum exactly, given at every position every token the
// format could use there. A binary tree over the window lists, for each match length, the nearest
// distance that reaches it; since a distance's cost only grows with the distance, the nearest one is the
// cheapest for that length, and no other match can do better.
//
// What is minimised: a stream of D data bytes and B control bits is D + 4 * ceil(B / 32) bytes long,
// because the decoder reads a 4-byte flag word exactly when it needs a bit and has none left, wherever
// that falls. The encoder minimises 8 * D + B, the stream's bits without the unused tail of its last
// flag word; the byte length it gives is therefore at most 3 bytes above the shortest possible, and the
// tests hold both figures against an exhaustive search.
//
// The writer mirrors the decoder's flag handling: a flag word is reserved at the current write position
// at the moment a control bit is needed and the previous word is full, which is where the decoder reads it.
#include "tools/packer/stream_encoder.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const uint32_t Window = 8192;         // farthest distance of a long match
const uint32_t ShortWindow = 2303;    // farthest distance of a short (2-byte) match
const uint32_t NearShortWindow = 256; // short matches up to this distance spend no x bits
const uint32_t LongestMatch = 282;
const uint32_t ShortestLongMatch = 3;
const uint32_t EndMarkerValue = 2303;

// The tree's nodes live in a ring of twice the window, so that a node within the window is never
// overwritten by a later position, and a link to a node beyond it is recognised by its distance.
const uint32_t RingSize = 2 * Window;
const uint32_t NoNode = UINT32_MAX;

// Costs in bits, data bytes counted as 8.
const uint32_t LiteralBits = 1 + 8;

inline uint32_t ShortMatchBits(uint32_t distance) {
    return distance <= NearShortWindow ? 3 + 8 : 3 + 8 + 3;
}

inline uint32_t DistanceBits(uint32_t distance) {
    uint32_t code = distance - 1;
    return code < 512    ? 1 + 8 + 1
           : code < 1024 ? 2 + 8 + 1
           : code < 2048 ? 3 + 8 + 2
           : code < 4096 ? 4 + 8 + 3
                         : 4 + 8 + 4;
}

constexpr uint32_t LengthBits(uint32_t length) {
    return length == 3    ? 1
           : length == 4  ? 2
           : length <= 6  ? 3 + 1
           : length <= 10 ? 4 + 2
           : length <= 26 ? 5 + 4
                          : 5 + 8;
}

struct LengthCostTable {
    unsigned char bits[LongestMatch + 1];
    constexpr LengthCostTable() : bits() {
        for (uint32_t length = ShortestLongMatch; length <= LongestMatch; ++length)
            bits[length] = static_cast<unsigned char>(LengthBits(length));
    }
};
constexpr LengthCostTable LengthCosts;

// The output under construction. flagAt is where the current flag word will be stored; flagsUsed counts its
// bits (32 means none left, so the next bit reserves a new word).
struct StreamWriter {
    unsigned char* out;
    size_t capacity;
    size_t length;
    size_t flagAt;
    uint32_t flags;
    unsigned flagsUsed;
    bool overflow;
};

void StoreFlags(StreamWriter& w) {
    if (w.flagAt == SIZE_MAX) return;
    w.out[w.flagAt] = static_cast<unsigned char>(w.flags);
    w.out[w.flagAt + 1] = static_cast<unsigned char>(w.flags >> 8);
    w.out[w.flagAt + 2] = static_cast<unsigned char>(w.flags >> 16);
    w.out[w.flagAt + 3] = static_cast<unsigned char>(w.flags >> 24);
}

void PutBit(StreamWriter& w, unsigned bit) {
    if (w.overflow) return;
    if (w.flagsUsed == 32) {
        StoreFlags(w);
        if (w.capacity - w.length < 4) {
            w.overflow = true;
            return;
        }
        w.flagAt = w.length;
        w.length += 4;
        w.flags = 0;
        w.flagsUsed = 0;
    }
    w.flags |= static_cast<uint32_t>(bit & 1) << (31 - w.flagsUsed);
    ++w.flagsUsed;
}

void PutBits(StreamWriter& w, uint32_t value, unsigned count) {
    while (count--)
        PutBit(w, (value >> count) & 1);
}

void PutByte(StreamWriter& w, unsigned byte) {
    if (w.overflow) return;
    if (w.length >= w.capacity) {
        w.overflow = true;
        return;
    }
    w.out[w.length++] = static_cast<unsigned char>(byte);
}

void PutLiteral(StreamWriter& w, unsigned char byte) {
    PutBit(w, 1);
    PutByte(w, byte);
}

// Short match of 2 bytes by its value (the distance less one); also the end marker with value 2303.
void PutShortMatch(StreamWriter& w, uint32_t value) {
    PutBit(w, 0);
    PutBit(w, 1);
    if (value < 256) {
        PutBit(w, 0);
        PutByte(w, value);
    } else {
        PutBit(w, 1);
        PutByte(w, (value - 256) >> 3);
        PutBits(w, (value - 256) & 7, 3);
    }
}

void PutLongMatch(StreamWriter& w, uint32_t distance, uint32_t length) {
    uint32_t code = distance - 1;
    PutBit(w, 0);
    PutBit(w, 0);
    if (code < 512) {
        PutBit(w, 1);
        PutByte(w, code >> 1);
        PutBits(w, code & 1, 1);
    } else if (code < 1024) {
        PutBits(w, 1, 2);
        PutByte(w, (code - 512) >> 1);
        PutBits(w, code & 1, 1);
    } else if (code < 2048) {
        PutBits(w, 1, 3);
        PutByte(w, (code - 1024) >> 2);
        PutBits(w, code & 3, 2);
    } else if (code < 4096) {
        PutBits(w, 1, 4);
        PutByte(w, (code - 2048) >> 3);
        PutBits(w, code & 7, 3);
    } else {
        PutBits(w, 0, 4);
        PutByte(w, (code - 4096) >> 4);
        PutBits(w, code & 15, 4);
    }
    if (length == 3) {
        PutBit(w, 1);
    } else if (length == 4) {
        PutBits(w, 1, 2);
    } else if (length <= 6) {
        PutBits(w, 1, 3);
        PutBits(w, length - 5, 1);
    } else if (length <= 10) {
        PutBits(w, 1, 4);
        PutBits(w, length - 7, 2);
    } else if (length <= 26) {
        PutBits(w, 1, 5);
        PutBits(w, length - 11, 4);
    } else {
        PutBits(w, 0, 5);
        PutByte(w, length - 27);
    }
}

// Binary search trees of the positions in the window, one per hash of the first three bytes, ordered by
// the bytes (compared up to the longest match) and heap-ordered by position: the root is the latest
// position and every child is older than its parent. Searching for the current position walks from the
// root and re-roots the tree at it. All positions that share three bytes or more with the current one are
// in its tree; the latest of those sharing a given prefix lies on the walk, and the walk meets positions
// from the latest back, so the first node found to match at least L bytes is the nearest that does.
// Two-byte matches come from the latest position of each byte pair, which is the nearest.
const unsigned TreeHashBits = 16;

struct MatchTree {
    const unsigned char* data;
    uint32_t size;
    std::vector<uint32_t> root;       // by hash of three bytes: the latest position, or NoNode
    std::vector<uint32_t> latestPair; // by byte pair: the latest position, or NoNode
    std::vector<uint32_t> smaller;    // by position in the ring: the subtree of lesser suffixes
    std::vector<uint32_t> larger;     // by position in the ring: the subtree of greater suffixes
};

// How far the bytes at a and b agree, from known up to limit, 8 at a time while 8 remain before limit.
inline uint32_t CommonLength(const unsigned char* a, const unsigned char* b, uint32_t known, uint32_t limit) {
    uint32_t length = known;
    while (length + 8 <= limit) {
        uint64_t x, y;
        memcpy(&x, a + length, 8);
        memcpy(&y, b + length, 8);
        if (x != y) return length + static_cast<uint32_t>(__builtin_ctzll(x ^ y)) / 8;
        length += 8;
    }
    while (length < limit && a[length] == b[length])
        ++length;
    return length;
}

// A match: the nearest distance at which length bytes repeat.
struct Match {
    uint32_t length;
    uint32_t distance;
};

// Inserts position at and lists, by increasing length, the nearest distance for each length that a
// nearer position does not reach; returns their number. Lengths start from 2.
uint32_t FindMatches(MatchTree& t, uint32_t at, Match* matches) {
    uint32_t limit = t.size - at < LongestMatch ? t.size - at : LongestMatch;
    if (limit < 2) return 0;
    const unsigned char* here = t.data + at;
    uint32_t pair = static_cast<uint32_t>(here[0]) << 8 | here[1];
    uint32_t nearest = t.latestPair[pair];
    t.latestPair[pair] = at;
    uint32_t count = 0;
    // Without the pair within the window no longer match can be there either, but the position still
    // joins its tree for the positions after it.
    if (nearest != NoNode && at - nearest <= Window) matches[count++] = {2, at - nearest};
    if (limit < 3) return count;
    uint32_t key = (pair << 8 | here[2]) * 2654435761u >> (32 - TreeHashBits);
    uint32_t candidate = t.root[key];
    t.root[key] = at;
    uint32_t* smallerLink = &t.smaller[at % RingSize];
    uint32_t* largerLink = &t.larger[at % RingSize];
    // The lengths matched on the two sides of the walk bound what the next node shares with the current
    // position (a tree also holds positions whose three bytes only hash alike).
    uint32_t smallerLength = 0, largerLength = 0;
    uint32_t longest = 2;
    while (candidate != NoNode && at - candidate <= Window) {
        const unsigned char* there = t.data + candidate;
        uint32_t length = smallerLength < largerLength ? smallerLength : largerLength;
        length = CommonLength(here, there, length, limit);
        if (length > longest) {
            longest = length;
            matches[count++] = {length, at - candidate};
            if (length == limit) {
                // The node repeats the current position as far as any match can look: the current one takes
                // its place and its subtrees, and the older copy leaves the tree.
                *smallerLink = t.smaller[candidate % RingSize];
                *largerLink = t.larger[candidate % RingSize];
                return count;
            }
        }
        if (there[length] < here[length]) {
            *smallerLink = candidate;
            smallerLink = &t.larger[candidate % RingSize];
            candidate = *smallerLink;
            smallerLength = length;
        } else {
            *largerLink = candidate;
            largerLink = &t.smaller[candidate % RingSize];
            candidate = *largerLink;
            largerLength = length;
        }
    }
    *smallerLink = NoNode;
    *largerLink = NoNode;
    return count;
}

// How the cheapest parse reaches a position: the token that ends there (length 1: a literal).
struct Step {
    uint16_t length;
    uint16_t distance;
};

} // namespace

size_t CompressBound(size_t size) {
    // Every byte as a literal: one control bit and one byte each, a flag word per 32 bits, and the end
    // marker's byte and seven bits.
    size_t words = size / 32 + 2;
    if (size > (SIZE_MAX - 16) / 2) return SIZE_MAX;
    return size + words * 4 + 1;
}

size_t CompressBlock(const unsigned char* source, size_t size, unsigned char* destination, size_t capacity) {
    StreamWriter w = {destination, destination ? capacity : 0, 0, SIZE_MAX, 0, 32, false};
    if (size > UINT32_MAX - LongestMatch) return 0;
    uint32_t n = source ? static_cast<uint32_t>(size) : 0;

    MatchTree tree;
    tree.data = source;
    tree.size = n;
    tree.root.assign(size_t(1) << TreeHashBits, NoNode);
    tree.latestPair.assign(65536, NoNode);
    tree.smaller.assign(RingSize, NoNode);
    tree.larger.assign(RingSize, NoNode);

    // cost[p]: the fewest bits that encode the first p bytes; way[p]: the last token of that parse. Eight
    // bytes per input byte: a failed allocation is reported like a destination that is too small.
    uint32_t* cost = static_cast<uint32_t*>(malloc((size_t(n) + 1) * sizeof(uint32_t)));
    Step* way = static_cast<Step*>(malloc((size_t(n) + 1) * sizeof(Step)));
    if (!cost || !way) {
        free(cost);
        free(way);
        return 0;
    }
    for (size_t p = 0; p <= n; ++p)
        cost[p] = UINT32_MAX;
    cost[0] = 0;
    way[0] = Step{0, 0};
    Match matches[LongestMatch];
    for (uint32_t at = 0; at < n; ++at) {
        uint32_t base = cost[at];
        uint32_t* reach = &cost[at];
        Step* how = &way[at];
        if (base + LiteralBits < reach[1]) {
            reach[1] = base + LiteralBits;
            how[1] = {1, 0};
        }
        uint32_t count = FindMatches(tree, at, matches);
        if (count == 0) continue;
        // No position before this one can reach the next, so its cost is final here. When it is no higher
        // than this one's, the next position offers every long match from here of 4 bytes or more at no
        // more cost: the same distance repeats one byte shorter from there, the nearest distance for that
        // length is no farther, and a length one shorter costs no more bits. Only lengths 2 and 3 remain.
        uint32_t longest = cost[at + 1] <= base ? ShortestLongMatch : LongestMatch;
        if (matches[0].distance <= ShortWindow) {
            uint32_t bits = base + ShortMatchBits(matches[0].distance);
            if (bits < reach[2]) {
                reach[2] = bits;
                how[2] = {2, static_cast<uint16_t>(matches[0].distance)};
            }
        }
        // Every length from 3 to the longest, each from the nearest distance that reaches it.
        uint32_t length = ShortestLongMatch;
        for (uint32_t i = 0; i < count && length <= longest; ++i) {
            uint32_t distance = matches[i].distance;
            uint32_t distanceBase = base + 2 + DistanceBits(distance);
            uint32_t last = matches[i].length < longest ? matches[i].length : longest;
            for (; length <= last; ++length) {
                uint32_t bits = distanceBase + LengthCosts.bits[length];
                if (bits < reach[length]) {
                    reach[length] = bits;
                    how[length] = {static_cast<uint16_t>(length), static_cast<uint16_t>(distance)};
                }
            }
        }
    }

    // The parse, read back from the end: cost[p] becomes the position after the token that starts at p.
    for (uint32_t p = n; p > 0; p -= way[p].length)
        cost[p - way[p].length] = p;
    for (uint32_t at = 0; at < n && !w.overflow; at = cost[at]) {
        const Step& token = way[cost[at]];
        if (token.length == 1) {
            PutLiteral(w, source[at]);
        } else if (token.length == 2) {
            PutShortMatch(w, token.distance - 1u);
        } else {
            PutLongMatch(w, token.distance, token.length);
        }
    }
    free(cost);
    free(way);
    PutShortMatch(w, EndMarkerValue);
    if (w.overflow) return 0;
    StoreFlags(w);
    return w.length;
}
