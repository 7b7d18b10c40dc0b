// The layout and the coding of a patch, shared by the updater's decoder and the publisher's encoder. A
// patch turns one release of a file (its base) into the next (its result): a 32-byte header naming both by
// size and digest (content_digest.h), then one stream of an adaptive binary range coder holding the
// instructions. docs/patches.md describes the format in full.
#pragma once

#include <cstdint>

enum : uint32_t {
    PatchHeaderSize = 32,
    // Header fields, little-endian: magic "KTP1", the base's size (u64) and digest (u64), the result's size
    // (u32) and digest (u64).
    PatchBaseSizeAt = 4,
    PatchBaseDigestAt = 12,
    PatchResultSizeAt = 20,
    PatchResultDigestAt = 24,
};
const unsigned char PatchMagic[4] = {'K', 'T', 'P', '1'};

// Probabilities are 11-bit (the chance of a 0 bit, out of 2048), and move a 32nd of the way to each bit
// seen. The range is renormalised a byte at a time whenever it falls below 2^24.
enum : uint32_t {
    PatchProbabilityBits = 11,
    PatchProbabilityOne = 1u << PatchProbabilityBits,
    PatchAdaptShift = 5,
    PatchRangeTop = 1u << 24,
};

// A number (a length, a run or a distance) is its bit width in a 6-bit tree, then the bits below its
// leading 1, each with a probability of its own for its width and place (places from 15 on share one).
enum : uint32_t {
    PatchNumberWidthBits = 6,
    PatchNumberWidths = 1u << PatchNumberWidthBits,
    PatchNumberPlaces = 16,
};
struct PatchNumberModel {
    uint16_t width[PatchNumberWidths];
    uint16_t mantissa[PatchNumberWidths][PatchNumberPlaces];
};

// The run of agreeing bytes before a difference is coded by what came before it: the width of the run
// before (up to 31) and whether the difference after that was below 0x80 (an addition rather than a
// subtraction). A difference byte is coded by the difference before it and whether it follows that one
// directly: moved code changes the same bytes of each address in the same way.
enum : uint32_t { PatchRunContexts = 64, PatchDifferenceContexts = 512 };

// Every probability of a patch's coding; all start at one half.
struct PatchModels {
    PatchNumberModel seekDistance;              // how far the base position moves before an instruction
    PatchNumberModel copyLength;                // base bytes taken, with differences, by an instruction
    PatchNumberModel insertLength;              // new bytes inserted by an instruction
    PatchNumberModel zeroRun[PatchRunContexts]; // base bytes taken unchanged before the next difference
    uint16_t seekBackward;                      // the direction of the move
    uint16_t difference[PatchDifferenceContexts][256]; // a difference byte (a bit tree)
    uint16_t literal[256][256]; // an inserted byte, by the result byte before it (a bit tree)
};
