// Encoder of the updater's patches (archive/patch_format.h, docs/patches.md), for the publisher's tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One instruction: move the base position by seek, take copy base bytes each with a difference added, then
// insert new bytes.
struct PatchInstruction {
    int64_t seek;
    uint64_t copy;
    uint64_t insert;
};

// The instructions that turn base into result: approximate matches found through a suffix array of the
// base, extended while at least half their bytes agree (the differences of code that moved are mostly zero),
// and the new bytes between them. 0 when no memory was to be had or the base is too large to index.
int FindPatchInstructions(const unsigned char* base, uint64_t baseSize, const unsigned char* result,
                          uint32_t resultSize, std::vector<PatchInstruction>& instructions);

// The patch of those instructions: the header naming base (by its size and baseDigest, its digest) and
// result, then the coded instructions. The instructions must stay inside the base and cover the result.
void WritePatch(const unsigned char* base, uint64_t baseSize, uint64_t baseDigest,
                const unsigned char* result, uint32_t resultSize,
                const std::vector<PatchInstruction>& instructions, std::vector<unsigned char>& patch);

// The digest of a base of any size, in pieces.
uint64_t DigestOfBase(const unsigned char* base, uint64_t baseSize);

// Both steps. 1, or 0 as FindPatchInstructions.
int EncodePatch(const unsigned char* base, uint64_t baseSize, const unsigned char* result,
                uint32_t resultSize, std::vector<unsigned char>& patch);

// Whether this build can make patches (it needs the suffix sorter, which the Windows build lacks).
extern const bool PatchEncoderAvailable;
