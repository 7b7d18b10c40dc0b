// Decoder of the archive's compressed stream. Two routes over one state: a fast loop that runs while the
// input and output left exceed what one token can touch, checking only a match's distance per token, and
// a careful route that checks every bit and byte where it is taken. The fast loop hands over to the
// careful route at the start of a token it does not finish (near an end, a match reaching before the
// start, the end marker), so both routes give the same verdict, the same consumed count and the same
// output. The fast loop copies in wide units and may write scratch bytes past a match's end inside the
// capacity; later tokens overwrite them before the stream can succeed.
#include "archive/stream_decoder.h"
#include "archive/stream_decoder_internal.h"

#include <cstddef>
#include <cstring>

namespace {

const uint32_t LongestMatch = 282;
const uint32_t EndMarkerValue = 2303;

// Long-match distance codes by the number of 0 bits before the first 1 (4: no 1 within four bits).
constexpr uint32_t DistanceBase[5] = {0, 512, 1024, 2048, 4096};
constexpr uint32_t DistanceExtraBits[5] = {1, 1, 2, 3, 4};
// Long-match length codes by the number of 0 bits before the first 1 (5: five 0 bits, then a byte).
constexpr uint32_t LengthBase[6] = {3, 4, 5, 7, 11, 27};
constexpr uint32_t LengthExtraBits[6] = {0, 0, 1, 2, 4, 0};

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

// Fast route. The bit buffer holds the unread bits of the current flag word at its top and zeros below
// them; count says how many there are (at most 32 between tokens). A group of control bits with no data
// byte inside it (the bits before a token's first byte, or those after it) may run past the current
// word: the decoder then reads the next word at exactly this read position, so the buffer is extended
// by the 4 bytes at `in` before the group is decoded, and `in` steps over them only when the group
// really used more bits than the word had left.
typedef uint64_t BitBuffer;

const unsigned BufferBits = 64;
// Bits of the longest group before a token's first byte (0 0 and a four-zero distance prefix) and after
// it (4 distance x bits, the length code 0 0 0 0 1 and its 4 x bits).
const unsigned LeadingGroupBits = 6;
const unsigned TrailingGroupBits = 13;
// One pass of the fast loop decodes a literal run, when the flag word starts with one, and the match
// that follows it, when the run ended on a 0 bit inside the word.
// Input it can touch, from the read position where it starts: a refilled word (4), the run's 32 bytes
// copied whole (to 36; a run that a match follows is at most 31 bytes long, so the match starts by 35);
// the match reads the next word ahead before its leading bits (to 39) and takes at most one word and
// two bytes, and reads the next word ahead once more after its first byte, at most at 40 (to 44).
const uint32_t FastInputMargin = 44;
// Output it can touch, from the write position where it starts: the run's 32 bytes copied whole (of
// which at most 31 stay when a match follows), then the match, which writes at most 32 bytes or its length
// and 15 more (below); 31 + 282 + 15 = 328.
const uint32_t FastOutputMargin = 31 + LongestMatch + 15;

// For distances 2 to 7: the smallest multiple of the distance that is at least 8, so that a pattern
// copied from that far back moves in 8-byte units.
const unsigned char PatternStep[8] = {0, 8, 8, 9, 8, 10, 12, 14};

// What the bits that follow a token's leading 0 say, looked up by the next five: the short match of each
// width, or the long match's distance prefix. used counts the bits of the group including the leading 0;
// the distance is distancePlusOne + (byte << extraBits) + the extraBits x bits read after the byte.
enum TokenKind : unsigned char { NearShortMatch, FarShortMatch, LongMatch };
struct LeadCode {
    unsigned char kind;
    unsigned char used;
    unsigned char extraBits;
    uint16_t distancePlusOne;
};

struct LeadCodeTable {
    LeadCode codes[32];
    constexpr LeadCodeTable() : codes() {
        for (unsigned index = 0; index < 32; ++index) {
            LeadCode& code = codes[index];
            if (index & 16) {
                bool far = (index & 8) != 0;
                code = {far ? FarShortMatch : NearShortMatch, 3, static_cast<unsigned char>(far ? 3 : 0),
                        static_cast<uint16_t>(far ? 257 : 1)};
            } else {
                unsigned zeros = 0;
                while (zeros < 4 && !(index & (8u >> zeros)))
                    ++zeros;
                code = {LongMatch, static_cast<unsigned char>(zeros == 4 ? 6 : 3 + zeros),
                        static_cast<unsigned char>(DistanceExtraBits[zeros]),
                        static_cast<uint16_t>(DistanceBase[zeros] + 1)};
            }
        }
    }
};
constexpr LeadCodeTable LeadCodes;

// A long match's length code looked up by its next nine bits: the length in the high bits, the bits used
// in the low four. Five 0 bits (the only code of 5 bits) mean 27 plus the byte that follows.
const unsigned ByteLengthCodeBits = 5;
struct LengthCodeTable {
    uint16_t codes[512];
    constexpr LengthCodeTable() : codes() {
        for (unsigned index = 0; index < 512; ++index) {
            unsigned zeros = 0;
            while (zeros < 5 && !(index & (256u >> zeros)))
                ++zeros;
            unsigned used = zeros == 5 ? ByteLengthCodeBits : zeros + 1 + LengthExtraBits[zeros];
            unsigned extra = zeros == 5 ? 0 : (index >> (9 - used)) & ((1u << LengthExtraBits[zeros]) - 1);
            codes[index] = static_cast<uint16_t>((LengthBase[zeros] + extra) << 4 | used);
        }
    }
};
constexpr LengthCodeTable LengthCodes;

inline BitBuffer WithNextWord(BitBuffer bits, unsigned count, const unsigned char* in) {
    return bits | static_cast<BitBuffer>(Load32(in)) << (BufferBits - 32 - count);
}

// Takes `used` bits of a group decoded from `ahead` (the buffer extended by the next word). When the group
// used more bits than the word had left, the next word was read here and its bytes are stepped over.
inline void TakeGroup(BitBuffer& bits, unsigned& count, const unsigned char*& in, BitBuffer ahead,
                      unsigned used) {
    if (used > count) {
        in += 4;
        bits = ahead << used;
        count += 32 - used;
    } else {
        bits <<= used;
        count -= used;
    }
}

// Appends a match whose distance and length were checked against the output written and the fast loop's
// margin: wide units where source and destination cannot overlap within a unit, a pattern otherwise.
// Writes at most 32 bytes or the match's length and 15 more.
inline void CopyMatchFast(unsigned char* to, uint32_t distance, uint32_t length) {
    const unsigned char* from = to - distance;
    unsigned char* end = to + length;
    if (distance >= 16) {
        // Each 16-byte unit reads bytes at least 16 back, all written by the time it is read.
        memcpy(to, from, 16);
        memcpy(to + 16, from + 16, 16);
        for (to += 32, from += 32; to < end; to += 16, from += 16)
            memcpy(to, from, 16);
    } else if (distance >= 8) {
        memcpy(to, from, 8);
        memcpy(to + 8, from + 8, 8);
        for (to += 16, from += 16; to < end; to += 8, from += 8)
            memcpy(to, from, 8);
    } else if (distance == 1) {
        memset(to, to[-1], length);
    } else {
        // The output from distance back is periodic with this distance, so it is also periodic with any
        // multiple of it: after one step of single bytes, 8-byte units from step back read written bytes.
        unsigned step = PatternStep[distance];
        for (unsigned i = 0; i < step; ++i)
            to[i] = from[i];
        for (to += step; to < end; to += 8)
            memcpy(to, to - step, 8);
    }
}

void RunFast(DecoderState& s) {
    // The loop runs while a whole token's input and output (the margins above) remain, and hands over to
    // the careful route at the start of any token it does not finish itself, with the state as it was
    // before that token: the end marker and matches reaching before the start of the output.
    if (s.sourceLength - s.in < FastInputMargin || s.destinationSize - s.out < FastOutputMargin) return;
    const unsigned char* in = s.source + s.in;
    const unsigned char* const inLast = s.source + (s.sourceLength - FastInputMargin);
    unsigned char* out = s.destination + s.out;
    unsigned char* const outLast = s.destination + (s.destinationSize - FastOutputMargin);
    unsigned char* const outStart = s.destination;
    BitBuffer bits = static_cast<BitBuffer>(s.flags) << 32;
    unsigned count = s.flagsLeft;

    while (in <= inLast && out <= outLast) {
        if (count == 0) {
            bits = static_cast<BitBuffer>(Load32(in)) << 32;
            in += 4;
            count = 32;
        }
        {
            // A run of literals, as many as the leading 1 bits of the word, none when it starts with a 0
            // (the zeros below the unread bits end the run within them). Taken without a branch: whether a
            // token is a literal or a match is the least predictable thing in the stream.
            unsigned run = static_cast<unsigned>(__builtin_clzll(~bits));
            memcpy(out, in, 32);
            in += run;
            out += run;
            bits <<= run;
            count -= run;
            // The word is used up: the next token's first bit needs a new one, which the next pass reads.
            if (count == 0) continue;
        }
        // A pass that hands over restores the state from before its match. The careful route, given a word
        // this pass read for the match's first bit, has no other use for those bytes: the same state.
        const unsigned char* const tokenIn = in;
        const BitBuffer tokenBits = bits;
        const unsigned tokenCount = count;
        // A group of bits that may run past the word is decoded from the buffer extended by the word at the
        // read position, which is then the next flag word; count + 32 bits always hold the longest group.
        BitBuffer ahead = count < LeadingGroupBits ? WithNextWord(bits, count, in) : bits;
        const LeadCode lead = LeadCodes.codes[ahead >> (BufferBits - 6) & 31];
        TakeGroup(bits, count, in, ahead, lead.used);
        uint32_t distance = *in++;
        uint32_t length = 2;
        if (lead.kind != NearShortMatch) {
            ahead = count < TrailingGroupBits ? WithNextWord(bits, count, in) : bits;
            unsigned extraBits = lead.extraBits;
            distance = lead.distancePlusOne + (distance << extraBits) +
                       static_cast<uint32_t>(ahead >> (BufferBits - extraBits));
            if (lead.kind == FarShortMatch) {
                TakeGroup(bits, count, in, ahead, 3);
                if (distance > EndMarkerValue) goto handOver;
            } else {
                unsigned code = LengthCodes.codes[(ahead << extraBits) >> (BufferBits - 9)];
                unsigned used = code & 15;
                length = code >> 4;
                TakeGroup(bits, count, in, ahead, extraBits + used);
                if (used == ByteLengthCodeBits) length += *in++;
            }
        } else {
            distance += 1;
        }
        if (distance > static_cast<uint32_t>(out - outStart)) goto handOver;
        if (length == 2) {
            out[0] = out[-static_cast<ptrdiff_t>(distance)];
            out[1] = out[1 - static_cast<ptrdiff_t>(distance)];
            out += 2;
            continue;
        }
        CopyMatchFast(out, distance, length);
        out += length;
        continue;
    handOver:
        in = tokenIn;
        bits = tokenBits;
        count = tokenCount;
        break;
    }
    s.in = static_cast<uint32_t>(in - s.source);
    s.out = static_cast<uint32_t>(out - s.destination);
    s.flags = static_cast<uint32_t>(bits >> 32);
    s.flagsLeft = count;
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

int DecodeStreamRoute(StreamRoute route, unsigned char* destination, uint32_t destinationSize,
                      const unsigned char* source, uint32_t sourceLength, uint32_t* consumed,
                      uint32_t* produced) {
    DecoderState s;
    StartState(s, destination, destinationSize, source, sourceLength);
    if (route == FastAndCarefulRoute) RunFast(s);
    int result = RunCareful(s);
    if (consumed) *consumed = s.in;
    if (produced) *produced = s.out;
    return result;
}

int DecompressBlock(unsigned char* destination, uint32_t destinationSize, const unsigned char* source,
                    uint32_t sourceLength, uint32_t* consumed) {
    return DecodeStreamRoute(FastAndCarefulRoute, destination, destinationSize, source, sourceLength,
                             consumed, nullptr);
}

int DecompressBlockCareful(unsigned char* destination, uint32_t destinationSize, const unsigned char* source,
                           uint32_t sourceLength, uint32_t* consumed) {
    return DecodeStreamRoute(CarefulRoute, destination, destinationSize, source, sourceLength, consumed,
                             nullptr);
}
