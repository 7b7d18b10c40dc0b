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

// The 32-bit updater passes these their arguments in registers, which takes fewer bytes at every call
// than the stack does there (the other builds pass them in registers anyway).
#if defined(__i386__)
#define DIGEST_CALL __attribute__((regparm(3)))
#else
#define DIGEST_CALL
#endif

DIGEST_CALL void StartDigest(ContentDigest* digest);
DIGEST_CALL void AddToDigest(ContentDigest* digest, const void* data, uint32_t size);
// The digest of everything added; the state is left as it was.
DIGEST_CALL uint64_t FinishDigest(const ContentDigest* digest);

// The digest of size bytes in one call.
uint64_t DigestOf(const void* data, uint32_t size);
