// Encoder of the archive's compressed stream, for the publisher's tool. A lazy-matching LZ77 over hash
// chains: at each position it takes the match that saves the most bits over literals, unless the next
// position offers a better one. The writer mirrors the decoder's flag handling: a flag word is reserved
// at the current write position at the moment a control bit is needed and the previous word is full,
// which is exactly where the decoder will read it.
#include "tools/packer/stream_encoder.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

const size_t LongWindow = 8192;  // farthest distance of a long match
const size_t ShortWindow = 2303; // farthest distance of a short (2-byte) match
const size_t LongestMatch = 282;
const size_t ShortestLongMatch = 3;
const unsigned HashBits = 15;
const unsigned ChainDepth = 256; // candidates examined per position
const size_t NoPosition = 0;     // positions are kept plus one so that 0 means none

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

// Short match of 2 bytes; also the end marker with value 2303.
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

void PutLongMatch(StreamWriter& w, size_t distance, size_t length) {
    uint32_t code = static_cast<uint32_t>(distance - 1);
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
    uint32_t n = static_cast<uint32_t>(length);
    if (n == 3) {
        PutBit(w, 1);
    } else if (n == 4) {
        PutBits(w, 1, 2);
    } else if (n <= 6) {
        PutBits(w, 1, 3);
        PutBits(w, n - 5, 1);
    } else if (n <= 10) {
        PutBits(w, 1, 4);
        PutBits(w, n - 7, 2);
    } else if (n <= 26) {
        PutBits(w, 1, 5);
        PutBits(w, n - 11, 4);
    } else {
        PutBits(w, 0, 5);
        PutByte(w, n - 27);
    }
}

// Bits a token costs (data bytes counted as 8): what match choice weighs against 9 bits per literal.
int LongMatchBits(size_t distance, size_t length) {
    size_t code = distance - 1;
    int bits = 2;
    bits += code < 512 ? 10 : code < 1024 ? 11 : code < 2048 ? 13 : code < 4096 ? 15 : 16;
    bits += length == 3 ? 1 : length == 4 ? 2 : length <= 6 ? 4 : length <= 10 ? 6 : length <= 26 ? 9 : 13;
    return bits;
}

int ShortMatchBits(size_t distance) {
    return distance <= 256 ? 11 : 14;
}

struct Match {
    size_t length; // 0: none
    size_t distance;
    int saving; // bits saved over literals
};

struct MatchFinder {
    const unsigned char* data;
    size_t size;
    std::vector<size_t> head;     // by hash of three bytes: latest position + 1
    std::vector<size_t> previous; // by position modulo the window: the earlier position + 1 of the same hash
    std::vector<size_t> pairHead; // by two bytes: latest position + 1
    size_t inserted;              // positions below this are in the tables
};

inline unsigned HashOf(const unsigned char* p) {
    uint32_t key = static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
    return (key * 2654435761u) >> (32 - HashBits);
}

inline unsigned PairOf(const unsigned char* p) {
    return static_cast<unsigned>(p[0]) << 8 | p[1];
}

void InsertUpTo(MatchFinder& f, size_t end) {
    for (; f.inserted < end; ++f.inserted) {
        size_t at = f.inserted;
        if (at + 3 <= f.size) {
            unsigned hash = HashOf(f.data + at);
            f.previous[at % LongWindow] = f.head[hash];
            f.head[hash] = at + 1;
        }
        if (at + 2 <= f.size) f.pairHead[PairOf(f.data + at)] = at + 1;
    }
}

size_t CommonLength(const unsigned char* a, const unsigned char* b, size_t limit) {
    size_t n = 0;
    while (n < limit && a[n] == b[n])
        ++n;
    return n;
}

// The best match at position at, judged by bits saved; nearer candidates win ties.
Match FindMatch(MatchFinder& f, size_t at) {
    InsertUpTo(f, at);
    Match best = {0, 0, 0};
    size_t remaining = f.size - at;
    if (remaining < 2) return best;
    size_t limit = remaining < LongestMatch ? remaining : LongestMatch;
    const unsigned char* here = f.data + at;

    size_t pair = f.pairHead[PairOf(here)];
    if (pair != NoPosition && at - (pair - 1) <= ShortWindow) {
        size_t distance = at - (pair - 1);
        best = {2, distance, 18 - ShortMatchBits(distance)};
    }
    if (remaining < ShortestLongMatch) return best;

    size_t candidate = f.head[HashOf(here)];
    for (unsigned depth = 0; candidate != NoPosition && depth < ChainDepth; ++depth) {
        size_t position = candidate - 1;
        size_t distance = at - position;
        if (distance > LongWindow) break;
        const unsigned char* there = f.data + position;
        if (best.length < limit && there[best.length] == here[best.length]) {
            size_t length = CommonLength(here, there, limit);
            if (length >= ShortestLongMatch) {
                int saving = static_cast<int>(length) * 9 - LongMatchBits(distance, length);
                if (saving > best.saving) {
                    best = {length, distance, saving};
                    if (length == limit) break;
                }
            }
        }
        size_t next = f.previous[position % LongWindow];
        if (next >= candidate) break; // the slot was reused by a later position
        candidate = next;
    }
    return best;
}

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
    MatchFinder f;
    f.data = source;
    f.size = source ? size : 0;
    f.head.assign(size_t(1) << HashBits, NoPosition);
    f.previous.assign(LongWindow, NoPosition);
    f.pairHead.assign(65536, NoPosition);
    f.inserted = 0;

    size_t at = 0;
    Match current = FindMatch(f, at);
    while (at < f.size && !w.overflow) {
        if (current.saving <= 0) {
            PutLiteral(w, f.data[at]);
            ++at;
            current = FindMatch(f, at);
            continue;
        }
        // Lazy step: a literal now and a better match one byte on beats this match.
        Match next = at + 1 < f.size ? FindMatch(f, at + 1) : Match{0, 0, 0};
        if (next.saving > current.saving) {
            PutLiteral(w, f.data[at]);
            ++at;
            current = next;
            continue;
        }
        if (current.length == 2) {
            PutShortMatch(w, static_cast<uint32_t>(current.distance - 1));
        } else {
            PutLongMatch(w, current.distance, current.length);
        }
        at += current.length;
        current = FindMatch(f, at);
    }
    PutShortMatch(w, 2303);
    if (w.overflow) return 0;
    StoreFlags(w);
    return w.length;
}
