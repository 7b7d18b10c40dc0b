// Applying a patch (patch_format.h, docs/patches.md): the result is built by streaming, from the base
// read where the instructions point (at 64-bit positions) and the patch in memory, written in order, and
// its digest checked before success is reported. Memory stays PatchApplyMemory bytes whatever the sizes.
// Nothing here shows a message: the caller says what a fault means to the user.
#pragma once

#include "platform/win32.h"

#include <cstdint>

// Why a patch was not applied, or whether its base is there.
enum PatchFault {
    PatchSound = 0,    // applied, or the base is the one the patch names
    PatchBaseMissing,  // the installed file is missing or cannot be read
    PatchBaseMismatch, // the installed file is not the base: another size or another digest
    PatchDamaged,      // the patch is not one this decoder reads, or its instructions are unsound
    PatchWriteFailed,  // the new file could not be created, written, flushed or stamped
    PatchNoMemory,     // the decoder's block could not be allocated
};

// Laid out as the patch's header from the base's size on, which is read into it as it is.
#pragma pack(push, 4)
struct PatchHeader {
    uint64_t baseSize;
    uint64_t baseDigest;
    uint32_t resultSize;
    uint64_t resultDigest;
};
#pragma pack(pop)

// The header of the patch's size bytes; 0 when they are too few or not a patch of this format.
int ReadPatchHeader(const unsigned char* patch, uint32_t patchSize, PatchHeader* header);

// The memory one application takes (one block, released before returning): the coding's probabilities,
// a window on the base and a buffer for the result.
extern const uint32_t PatchApplyMemory;

// Builds the patch's result from the base at oldPath into a new file at newPath (created: an existing file
// there is a write failure), flushed to the disk; StampFileTimes (whole_file.h) gives it its times. 1 when
// the result's digest is the one the patch names; otherwise 0 with the fault, and no file at newPath. The
// base's size is checked first; its digest only when the result comes out wrong, to tell a wrong base
// from a damaged patch (CheckPatchBase checks it beforehand, at the cost of reading the whole base).
// Without newPath, CheckPatchBase.
int ApplyPatch(const char* oldPath, const unsigned char* patch, uint32_t patchSize, const char* newPath,
               PatchFault* fault);

// Whether the file at oldPath is the patch's base: its size, then its digest. 1 when it is; 0 with the
// fault (base missing, base mismatch, damaged patch, no memory).
inline int CheckPatchBase(const char* oldPath, const unsigned char* patch, uint32_t patchSize,
                          PatchFault* fault) {
    return ApplyPatch(oldPath, patch, patchSize, nullptr, fault);
}

// The same over a base in memory into a buffer of resultCapacity bytes (the result's size, from the header,
// for a result to come out), for the publisher's tool and the tests. 1, or 0 with the fault: a write
// failure once the result would pass the buffer.
int ApplyPatchInMemory(const unsigned char* base, uint64_t baseSize, const unsigned char* patch,
                       uint32_t patchSize, unsigned char* result, uint32_t resultCapacity, PatchFault* fault);
