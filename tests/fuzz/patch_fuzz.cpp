// libFuzzer target: the patch decoder against the tests' reference decoder. The first input byte chooses
// how the rest splits into a base (up to 255 bytes times four) and a patch, and whether the patch's base
// size is set to the base's, so that most inputs reach the instructions. Both decoders must give the same
// verdict and, when they apply it, the same result; the buffers are exactly as large as they claim, so a
// read or write past either end is caught by the address sanitizer.
#include "archive/patch_decoder.h"
#include "archive/patch_format.h"
#include "tests/archive/patch_reference.h"
#include "tests/fuzz/fuzz_scratch.h"

#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 0xFFFFFFFFu) return 0;
    size_t baseSize = size_t(data[1]) * 4;
    if (baseSize > size - 2) baseSize = size - 2;
    // Copies of their own, so that each ends where its allocation ends.
    std::vector<unsigned char> base(data + 2, data + 2 + baseSize);
    std::vector<unsigned char> patch(data + 2 + baseSize, data + size);
    if ((data[0] & 1) && patch.size() >= PatchHeaderSize) {
        for (int i = 0; i < 8; ++i)
            patch[PatchBaseSizeAt + i] = static_cast<unsigned char>(uint64_t(baseSize) >> (8 * i));
    }
    PatchHeader header;
    int isPatch = ReadPatchHeader(patch.data(), static_cast<uint32_t>(patch.size()), &header);
    // Results beyond 1 MiB get no room: the decoder must then fail its write, or find the damage first.
    uint32_t capacity = isPatch && header.resultSize <= (1u << 20) ? header.resultSize : 0;
    std::vector<unsigned char> result(capacity, 0xA5);
    PatchFault fault = PatchSound;
    int applied =
        ApplyPatchInMemory(base.data(), base.size(), patch.data(), static_cast<uint32_t>(patch.size()),
                           capacity ? result.data() : nullptr, capacity, &fault);
    FuzzCheck(applied == (fault == PatchSound), "the verdict and the fault disagree");
    FuzzCheck(isPatch || fault == PatchDamaged, "something that is no patch was not called damaged");
    if (!isPatch || (header.resultSize > capacity && fault == PatchWriteFailed)) return 0;
    std::vector<unsigned char> reference;
    ReferenceVerdict verdict = ReferenceApply(base, patch, reference);
    FuzzCheck((verdict == ReferenceApplied) == (applied == 1), "the decoders disagree about a patch");
    FuzzCheck(!applied || result == reference, "the decoders make different results");
    if (verdict == ReferenceWrongBaseSize)
        FuzzCheck(fault == PatchBaseMismatch, "a base of another size passed");
    return 0;
}
