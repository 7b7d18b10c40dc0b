// The digest that names a patch's base and result: XXH64 with seed 0, a well-known non-cryptographic hash
// of 64 bits that runs at several GB/s. It tells releases of a file apart; authenticity is the signature's.
#pragma once

#include <cstdint>

// A digest under way: the four lanes of the 32-byte stripes, the bytes of a stripe not yet complete (as
// many as the count's low five bits say), and the count of every byte added.
struct ContentDigest {
    uint64_t lanes[4];
    unsigned char pending[32];
    uint64_t total;
};

// The 32-bit updater passes the arguments of these, and of the patch decoder's routes, in registers, which
// takes fewer bytes at every call than the stack does there (the 64-bit builds pass them so anyway).
#if defined(__i386__)
#define REGISTER_ARGUMENTS __attribute__((regparm(3)))
#else
#define REGISTER_ARGUMENTS
#endif

REGISTER_ARGUMENTS void StartDigest(ContentDigest* digest);
REGISTER_ARGUMENTS void AddToDigest(ContentDigest* digest, const void* data, uint32_t size);
// The digest of everything added; the state is left as it was.
REGISTER_ARGUMENTS uint64_t FinishDigest(const ContentDigest* digest);

// The digest of size bytes in one call.
uint64_t DigestOf(const void* data, uint32_t size);
