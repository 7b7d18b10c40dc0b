// A second decoder of the patch format, for the tests only, written from docs/patches.md rather than from
// archive/patch_decoder.cpp: the whole base and result in memory, one byte at a time, no window and no
// buffer, every bound checked where it is crossed. The shipped decoder must agree with it on every patch.
#pragma once

#include <cstdint>
#include <vector>

enum ReferenceVerdict {
    ReferenceApplied,   // the result has its size and digest
    ReferenceNotAPatch, // too short for the header, or another magic
    ReferenceWrongBaseSize,
    ReferenceUnsound,     // the instructions leave the base or the result, or the coding runs out of bytes
    ReferenceWrongDigest, // the result came out with its size but another digest
};

ReferenceVerdict ReferenceApply(const std::vector<unsigned char>& base,
                                const std::vector<unsigned char>& patch, std::vector<unsigned char>& result);

// XXH64 of the bytes, computed the long way (for the digest's own tests).
uint64_t ReferenceDigest(const std::vector<unsigned char>& bytes);
