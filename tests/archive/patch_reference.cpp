// The tests' own reading of the patch format: a plain interpreter of docs/patches.md.
#include "tests/archive/patch_reference.h"

#include <cstddef>

namespace {

uint64_t Little(const std::vector<unsigned char>& bytes, size_t at, int count) {
    uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value * 256 + bytes[at + static_cast<size_t>(i)];
    return value;
}

uint64_t RotateLeft(uint64_t value, int bits) {
    return (value << bits) | (value >> (64 - bits));
}

// One adaptive probability: the chance of a 0 in 2048ths.
struct Probability {
    unsigned value = 1024;
};

class Decoder {
  public:
    Decoder(const std::vector<unsigned char>& patch, size_t start) : bytes(patch), at(start) {
        for (int i = 0; i < 5; ++i)
            code = (code << 8) | Next();
    }

    bool RanOut() const { return ranOut; }

    unsigned Bit(Probability& p) {
        uint32_t bound = (range >> 11) * p.value;
        unsigned bit;
        if (code < bound) {
            range = bound;
            p.value += (2048 - p.value) / 32;
            bit = 0;
        } else {
            range -= bound;
            code -= bound;
            p.value -= p.value / 32;
            bit = 1;
        }
        if (range < (1u << 24)) {
            range <<= 8;
            code = (code << 8) | Next();
        }
        return bit;
    }

    // A value of `bits` bits, most significant first, through a tree of probabilities (index 1 up) that
    // starts at first in the table.
    unsigned Tree(std::vector<Probability>& table, size_t first, int bits) {
        unsigned node = 1;
        for (int i = 0; i < bits; ++i)
            node = node * 2 + Bit(table[first + node]);
        return node - (1u << bits);
    }

  private:
    unsigned Next() {
        if (at < bytes.size()) return bytes[at++];
        ranOut = true;
        return 0;
    }

    const std::vector<unsigned char>& bytes;
    size_t at;
    uint32_t range = 0xFFFFFFFFu;
    uint32_t code = 0;
    bool ranOut = false;
};

struct Number {
    std::vector<Probability> width = std::vector<Probability>(64);
    std::vector<Probability> mantissa = std::vector<Probability>(64 * 16); // by width, then place

    uint64_t Read(Decoder& d) {
        unsigned bits = d.Tree(width, 0, 6);
        if (bits == 0) return 0;
        uint64_t value = 1;
        for (unsigned place = 1; place < bits; ++place)
            value = value * 2 + d.Bit(mantissa[bits * 16 + (place < 15 ? place : 15)]);
        return value;
    }
};

unsigned WidthOf(uint64_t value) {
    unsigned width = 0;
    while (value) {
        ++width;
        value >>= 1;
    }
    return width;
}

} // namespace

uint64_t ReferenceDigest(const std::vector<unsigned char>& bytes) {
    const uint64_t p1 = 11400714785074694791ull, p2 = 14029467366897019727ull, p3 = 1609587929392839161ull,
                   p4 = 9650029242287828579ull, p5 = 2870177450012600261ull;
    auto round = [&](uint64_t lane, uint64_t word) { return RotateLeft(lane + word * p2, 31) * p1; };
    size_t n = bytes.size(), at = 0;
    uint64_t hash;
    if (n >= 32) {
        uint64_t lane[4] = {p1 + p2, p2, 0, 0 - p1};
        for (; at + 32 <= n; at += 32)
            for (int i = 0; i < 4; ++i)
                lane[i] = round(lane[i], Little(bytes, at + 8 * static_cast<size_t>(i), 8));
        hash = RotateLeft(lane[0], 1) + RotateLeft(lane[1], 7) + RotateLeft(lane[2], 12) +
               RotateLeft(lane[3], 18);
        for (int i = 0; i < 4; ++i)
            hash = (hash ^ round(0, lane[i])) * p1 + p4;
    } else {
        hash = p5;
    }
    hash += n;
    for (; at + 8 <= n; at += 8)
        hash = RotateLeft(hash ^ round(0, Little(bytes, at, 8)), 27) * p1 + p4;
    if (at + 4 <= n) {
        hash = RotateLeft(hash ^ (Little(bytes, at, 4) * p1), 23) * p2 + p3;
        at += 4;
    }
    for (; at < n; ++at)
        hash = RotateLeft(hash ^ (bytes[at] * p5), 11) * p1;
    hash = (hash ^ (hash >> 33)) * p2;
    hash = (hash ^ (hash >> 29)) * p3;
    return hash ^ (hash >> 32);
}

ReferenceVerdict ReferenceApply(const std::vector<unsigned char>& base,
                                const std::vector<unsigned char>& patch, std::vector<unsigned char>& result) {
    result.clear();
    if (patch.size() < 32 || patch[0] != 'K' || patch[1] != 'T' || patch[2] != 'P' || patch[3] != '1')
        return ReferenceNotAPatch;
    uint64_t baseSize = Little(patch, 4, 8);
    uint64_t resultSize = Little(patch, 20, 4);
    uint64_t resultDigest = Little(patch, 24, 8);
    if (baseSize != base.size()) return ReferenceWrongBaseSize;

    Decoder d(patch, 32);
    Number seek, copyLength, insertLength;
    std::vector<Number> runs(64);
    Probability backward;
    std::vector<Probability> differences(512 * 256), literals(256 * 256); // trees by their context
    int64_t position = 0;
    unsigned lastDifference = 0, lastRunWidth = 0, lastWasAddition = 0;
    while (result.size() < resultSize) {
        if (d.RanOut()) return ReferenceUnsound;
        bool back = d.Bit(backward) == 1;
        uint64_t distance = seek.Read(d);
        if (back ? distance > static_cast<uint64_t>(position)
                 : distance > base.size() - static_cast<uint64_t>(position))
            return ReferenceUnsound;
        position =
            back ? position - static_cast<int64_t>(distance) : position + static_cast<int64_t>(distance);
        uint64_t copy = copyLength.Read(d);
        uint64_t insert = insertLength.Read(d);
        if (copy == 0 && insert == 0) return ReferenceUnsound;
        if (copy > resultSize - result.size() || insert > resultSize - result.size() - copy)
            return ReferenceUnsound;
        if (copy > base.size() - static_cast<uint64_t>(position)) return ReferenceUnsound;
        while (copy > 0) {
            uint64_t run = runs[lastRunWidth * 2 + lastWasAddition].Read(d);
            if (run > copy || d.RanOut()) return ReferenceUnsound;
            lastRunWidth = WidthOf(run) < 31 ? WidthOf(run) : 31;
            for (uint64_t i = 0; i < run; ++i)
                result.push_back(base[static_cast<size_t>(position++)]);
            copy -= run;
            if (copy == 0) break;
            unsigned context = lastDifference + (run == 0 ? 256 : 0);
            lastDifference = d.Tree(differences, context * 256, 8);
            lastWasAddition = lastDifference < 128 ? 1 : 0;
            result.push_back(
                static_cast<unsigned char>(base[static_cast<size_t>(position++)] + lastDifference));
            --copy;
        }
        for (uint64_t i = 0; i < insert; ++i) {
            unsigned before = result.empty() ? 0 : result.back();
            result.push_back(static_cast<unsigned char>(d.Tree(literals, before * 256, 8)));
            if (d.RanOut()) return ReferenceUnsound;
        }
    }
    if (d.RanOut()) return ReferenceUnsound;
    return ReferenceDigest(result) == resultDigest ? ReferenceApplied : ReferenceWrongDigest;
}
