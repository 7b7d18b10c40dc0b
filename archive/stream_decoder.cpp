// Decoder of the archive's compressed stream. Two routes over one state: a fast loop that runs while at
// least one whole token of input and the longest match of output remain, checking its bounds once per
// token, and a careful route that checks every bit and byte where it is taken. The fast loop hands over
// to the careful route at the token where it would need a check it does not make (near an end, a match
// reaching before the start, the end marker), so both routes give the same bytes and the same verdict.
#include "archive/stream_decoder.h"
#include "archive/stream_decoder_internal.h"

#include <cstddef>
#include <cstring>

namespace {

// Everything a token can take from the source: a refilled flag word and two data bytes (the distance
// byte and the longest length code's byte); a token needs at most 19 control bits (0 0, a four-zero
// distance prefix with 4 x bits, the length code 0 0 0 0 1 with 4 x bits), so one refill.
const uint32_t LongestTokenBytes = 6;
const uint32_t LongestMatch = 282;
const uint32_t EndMarkerValue = 2303;

// Long-match distance codes by the number of 0 bits before the first 1 (4: no 1 within four bits).
const uint32_t DistanceBase[5] = {0, 512, 1024, 2048, 4096};
const uint32_t DistanceExtraBits[5] = {1, 1, 2, 3, 4};
// Long-match length codes by the number of 0 bits before the first 1 (5: five 0 bits, then a byte).
const uint32_t LengthBase[6] = {3, 4, 5, 7, 11, 27};
const uint32_t LengthExtraBits[6] = {0, 0, 1, 2, 4, 0};

// The whole decoder state. flags holds the bits not yet read at its top; flagsLeft counts them (0 means a
// new word is read from `in` when the next bit is needed).
struct DecoderState {
    const unsigned char* source;
    uint32_t sourceLength;
    uint32_t in; // read position in source
    unsigned char* destination;
    uint32_t destinationSize;
    uint32_t out; // bytes written
    uint32_t flags;
    uint32_t flagsLeft;
};

inline uint32_t Load32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Appends length bytes, each equal to the one distance bytes before it. The caller has checked that the
// match starts inside the output and ends inside the capacity.
inline void CopyMatch(unsigned char* to, uint32_t distance, uint32_t length) {
    const unsigned char* from = to - distance;
    if (distance >= 4) {
        // Each 4-byte unit reads only bytes already written, and the tail stops at the match's last byte.
        while (length >= 4) {
            memcpy(to, from, 4);
            to += 4;
            from += 4;
            length -= 4;
        }
        while (length--)
            *to++ = *from++;
    } else if (distance == 1) {
        memset(to, to[-1], length);
    } else {
        for (uint32_t i = 0; i < length; ++i)
            to[i] = from[i];
    }
}

// Careful route: -1 when the source has run out.
int CarefulBit(DecoderState& s) {
    if (s.flagsLeft == 0) {
        if (s.sourceLength - s.in < 4) return -1;
        s.flags = Load32(s.source + s.in);
        s.in += 4;
        s.flagsLeft = 32;
    }
    int bit = static_cast<int>(s.flags >> 31);
    s.flags <<= 1;
    --s.flagsLeft;
    return bit;
}

int CarefulBits(DecoderState& s, uint32_t count) {
    int value = 0;
    for (uint32_t i = 0; i < count; ++i) {
        int bit = CarefulBit(s);
        if (bit < 0) return -1;
        value = value << 1 | bit;
    }
    return value;
}

int CarefulByte(DecoderState& s) {
    if (s.in >= s.sourceLength) return -1;
    return s.source[s.in++];
}

// Counts 0 bits before a 1, reading at most limit bits; -1 when the source runs out.
int CarefulZeros(DecoderState& s, int limit) {
    int zeros = 0;
    while (zeros < limit) {
        int bit = CarefulBit(s);
        if (bit < 0) return -1;
        if (bit) break;
        ++zeros;
    }
    return zeros;
}

int RunCareful(DecoderState& s) {
    for (;;) {
        int bit = CarefulBit(s);
        if (bit < 0) return 0;
        if (bit) {
            int literal = CarefulByte(s);
            if (literal < 0 || s.out >= s.destinationSize) return 0;
            s.destination[s.out++] = static_cast<unsigned char>(literal);
            continue;
        }
        bit = CarefulBit(s);
        if (bit < 0) return 0;
        uint32_t distance, length;
        if (bit) {
            int selector = CarefulBit(s);
            if (selector < 0) return 0;
            int byte = CarefulByte(s);
            if (byte < 0) return 0;
            uint32_t value = static_cast<uint32_t>(byte);
            if (selector) {
                int extra = CarefulBits(s, 3);
                if (extra < 0) return 0;
                value = 256 + value * 8 + static_cast<uint32_t>(extra);
                if (value >= EndMarkerValue) return s.out == s.destinationSize;
            }
            distance = value + 1;
            length = 2;
        } else {
            int prefix = CarefulZeros(s, 4);
            if (prefix < 0) return 0;
            int byte = CarefulByte(s);
            if (byte < 0) return 0;
            int extra = CarefulBits(s, DistanceExtraBits[prefix]);
            if (extra < 0) return 0;
            distance = DistanceBase[prefix] + (static_cast<uint32_t>(byte) << DistanceExtraBits[prefix]) +
                       static_cast<uint32_t>(extra) + 1;
            int code = CarefulZeros(s, 5);
            if (code < 0) return 0;
            if (code == 5) {
                extra = CarefulByte(s);
            } else {
                extra = CarefulBits(s, LengthExtraBits[code]);
            }
            if (extra < 0) return 0;
            length = LengthBase[code] + static_cast<uint32_t>(extra);
        }
        if (distance > s.out || length > s.destinationSize - s.out) return 0;
        CopyMatch(s.destination + s.out, distance, length);
        s.out += length;
    }
}

// Fast route: the loop condition guarantees the source holds a whole token, so bits and bytes are taken
// unchecked.
inline uint32_t FastBit(DecoderState& s) {
    if (s.flagsLeft == 0) {
        s.flags = Load32(s.source + s.in);
        s.in += 4;
        s.flagsLeft = 32;
    }
    uint32_t bit = s.flags >> 31;
    s.flags <<= 1;
    --s.flagsLeft;
    return bit;
}

inline uint32_t FastBits(DecoderState& s, uint32_t count) {
    if (count == 0) return 0;
    if (s.flagsLeft >= count) {
        uint32_t value = s.flags >> (32 - count);
        s.flags <<= count;
        s.flagsLeft -= count;
        return value;
    }
    uint32_t value = 0;
    for (uint32_t i = 0; i < count; ++i)
        value = value << 1 | FastBit(s);
    return value;
}

inline uint32_t FastZeros(DecoderState& s, uint32_t limit) {
    if (s.flagsLeft >= limit) {
        // The whole code lies in this word: count its 0 bits at once (bits past the valid ones are 0, but a
        // 1 found before limit is always a valid bit).
        uint32_t zeros = s.flags ? static_cast<uint32_t>(__builtin_clz(s.flags)) : 32;
        uint32_t used = zeros < limit ? zeros + 1 : limit;
        if (zeros > limit) zeros = limit;
        s.flags = used == 32 ? 0 : s.flags << used;
        s.flagsLeft -= used;
        return zeros;
    }
    uint32_t zeros = 0;
    while (zeros < limit && !FastBit(s))
        ++zeros;
    return zeros;
}

void RunFast(DecoderState& s) {
    while (s.sourceLength - s.in >= LongestTokenBytes && s.destinationSize - s.out >= LongestMatch) {
        DecoderState tokenStart = s;
        if (s.flagsLeft == 0) {
            s.flags = Load32(s.source + s.in);
            s.in += 4;
            s.flagsLeft = 32;
        }
        if (s.flags & 0x80000000u) {
            // A run of literals: as many as the leading 1 bits, which never exceed the bits left because
            // the used bits were shifted out as zeros.
            uint32_t inverted = ~s.flags;
            uint32_t run = inverted ? static_cast<uint32_t>(__builtin_clz(inverted)) : 32;
            if (run > s.sourceLength - s.in) run = s.sourceLength - s.in;
            memcpy(s.destination + s.out, s.source + s.in, run);
            s.out += run;
            s.in += run;
            s.flags = run == 32 ? 0 : s.flags << run;
            s.flagsLeft -= run;
            continue;
        }
        s.flags <<= 1;
        --s.flagsLeft;
        uint32_t distance, length;
        if (FastBit(s)) {
            uint32_t selector = FastBit(s);
            uint32_t value = s.source[s.in++];
            if (selector) {
                value = 256 + value * 8 + FastBits(s, 3);
                if (value >= EndMarkerValue) {
                    s = tokenStart;
                    break;
                }
            }
            distance = value + 1;
            if (distance > s.out) {
                s = tokenStart;
                break;
            }
            unsigned char* to = s.destination + s.out;
            to[0] = to[-static_cast<ptrdiff_t>(distance)];
            to[1] = to[1 - static_cast<ptrdiff_t>(distance)];
            s.out += 2;
            continue;
        }
        uint32_t prefix = FastZeros(s, 4);
        uint32_t byte = s.source[s.in++];
        distance = DistanceBase[prefix] + (byte << DistanceExtraBits[prefix]) +
                   FastBits(s, DistanceExtraBits[prefix]) + 1;
        uint32_t code = FastZeros(s, 5);
        length = LengthBase[code] + (code == 5 ? s.source[s.in++] : FastBits(s, LengthExtraBits[code]));
        if (distance > s.out) {
            s = tokenStart;
            break;
        }
        CopyMatch(s.destination + s.out, distance, length);
        s.out += length;
    }
}

void StartState(DecoderState& s, unsigned char* destination, uint32_t destinationSize,
                const unsigned char* source, uint32_t sourceLength) {
    s.source = source;
    s.sourceLength = source ? sourceLength : 0;
    s.in = 0;
    s.destination = destination;
    s.destinationSize = destination ? destinationSize : 0;
    s.out = 0;
    s.flags = 0;
    s.flagsLeft = 0;
}

} // namespace

int DecompressBlock(unsigned char* destination, uint32_t destinationSize, const unsigned char* source,
                    uint32_t sourceLength, uint32_t* consumed) {
    DecoderState s;
    StartState(s, destination, destinationSize, source, sourceLength);
    RunFast(s);
    int result = RunCareful(s);
    if (consumed) *consumed = s.in;
    return result;
}

int DecompressBlockCareful(unsigned char* destination, uint32_t destinationSize, const unsigned char* source,
                           uint32_t sourceLength, uint32_t* consumed) {
    DecoderState s;
    StartState(s, destination, destinationSize, source, sourceLength);
    int result = RunCareful(s);
    if (consumed) *consumed = s.in;
    return result;
}
