// libFuzzer target: the stream decoder's two routes on the same bytes. The first two input bytes choose
// the output capacity (0 to 65535 bytes, within what the stream could fill), the rest is the stream. Both
// routes must give the same verdict, the same consumed count and, for a stream they accept, the same
// output bytes; the buffers are exactly as large as they claim, so a read or write past either end is
// caught by the address sanitizer.
#include "archive/stream_decoder.h"
#include "archive/stream_decoder_internal.h"
#include "tests/fuzz/fuzz_scratch.h"

#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size - 2 > 0xFFFFFFFFu) return 0;
    uint32_t streamLength = static_cast<uint32_t>(size - 2);
    // Every capacity beyond the most the stream can decode to (a 282-byte match costs two bytes) is
    // refused alike, so larger choices fold back into that range instead of costing time.
    uint32_t capacity = static_cast<uint32_t>((uint32_t(data[0]) << 8 | data[1]) %
                                              (uint64_t(streamLength) * MostDecodedPerStreamByte + 2));
    // A copy of its own, so that the stream ends where its allocation ends.
    std::vector<unsigned char> stream(data + 2, data + size);
    std::vector<unsigned char> fast(capacity, 0xA5), careful(capacity, 0xA5);
    uint32_t fastConsumed = 0xFFFFFFFFu, carefulConsumed = 0xFFFFFFFFu;
    uint32_t fastProduced = 0xFFFFFFFFu, carefulProduced = 0xFFFFFFFFu;
    int fastResult = DecodeStreamRoute(FastAndCarefulRoute, fast.data(), capacity, stream.data(),
                                       streamLength, &fastConsumed, &fastProduced);
    int carefulResult = DecodeStreamRoute(CarefulRoute, careful.data(), capacity, stream.data(), streamLength,
                                          &carefulConsumed, &carefulProduced);
    FuzzCheck(fastResult == 0 || fastResult == 1, "the fast route gives a verdict other than 0 or 1");
    FuzzCheck(fastResult == carefulResult, "the two routes give different verdicts");
    FuzzCheck(fastConsumed == carefulConsumed, "the two routes consume different byte counts");
    FuzzCheck(fastConsumed <= streamLength, "a route consumes more than the stream holds");
    FuzzCheck(fastProduced == carefulProduced && fastProduced <= capacity,
              "the two routes write different byte counts");
    // Past the bytes produced a refused stream may leave the fast route's scratch bytes, which every
    // caller discards; the bytes produced must agree whatever the verdict.
    FuzzCheck(fastProduced == 0 || memcmp(fast.data(), careful.data(), fastProduced) == 0,
              "the two routes decode different bytes");
    FuzzCheck(fastResult == 0 || fast == careful, "the two routes decode different bytes");
    // DecompressBlock is the fast route with the careful one near the ends.
    std::vector<unsigned char> block(capacity, 0xA5);
    uint32_t blockConsumed = 0xFFFFFFFFu;
    FuzzCheck(DecompressBlock(block.data(), capacity, stream.data(), streamLength, &blockConsumed) ==
                      fastResult &&
                  blockConsumed == fastConsumed,
              "DecompressBlock differs from its route");
    // Without the consumed count the verdict and the output stay the same.
    std::vector<unsigned char> again(capacity, 0xA5);
    FuzzCheck(DecompressBlock(again.data(), capacity, stream.data(), streamLength, nullptr) == fastResult &&
                  (fastResult == 0 || again == fast),
              "the fast route decodes differently without a consumed count");
    return 0;
}
