// Test-side writer of hand-made streams, token by token, kept apart from the encoder so that it can check
// the encoder and be checked against the decoder. Also decodes through both decoder routes at once.
#pragma once

#include "archive/stream_decoder.h"
#include "archive/stream_decoder_internal.h"

#include <doctest/doctest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

struct TestStream {
    std::vector<unsigned char> bytes;
    size_t flagAt = 0;
    unsigned used = 32;

    void Bit(unsigned bit) {
        if (used == 32) {
            flagAt = bytes.size();
            bytes.insert(bytes.end(), 4, 0);
            used = 0;
        }
        if (bit) bytes[flagAt + 3 - used / 8] |= static_cast<unsigned char>(0x80u >> (used % 8));
        ++used;
    }
    void Bits(uint32_t value, unsigned count) {
        while (count--)
            Bit((value >> count) & 1);
    }
    void Byte(unsigned value) { bytes.push_back(static_cast<unsigned char>(value)); }
    void Literal(unsigned value) {
        Bit(1);
        Byte(value);
    }
    // Short match by its value V (distance V + 1); 2303 is the end marker.
    void Short(uint32_t value) {
        Bits(1, 2);
        if (value < 256) {
            Bit(0);
            Byte(value);
        } else {
            Bit(1);
            Byte((value - 256) >> 3);
            Bits((value - 256) & 7, 3);
        }
    }
    void End() { Short(2303); }
    void Long(uint32_t distance, uint32_t length) {
        uint32_t d = distance - 1;
        Bits(0, 2);
        if (d < 512) {
            Bit(1), Byte(d >> 1), Bits(d & 1, 1);
        } else if (d < 1024) {
            Bits(1, 2), Byte((d - 512) >> 1), Bits(d & 1, 1);
        } else if (d < 2048) {
            Bits(1, 3), Byte((d - 1024) >> 2), Bits(d & 3, 2);
        } else if (d < 4096) {
            Bits(1, 4), Byte((d - 2048) >> 3), Bits(d & 7, 3);
        } else {
            Bits(0, 4), Byte((d - 4096) >> 4), Bits(d & 15, 4);
        }
        if (length == 3) {
            Bit(1);
        } else if (length == 4) {
            Bits(1, 2);
        } else if (length <= 6) {
            Bits(1, 3), Bits(length - 5, 1);
        } else if (length <= 10) {
            Bits(1, 4), Bits(length - 7, 2);
        } else if (length <= 26) {
            Bits(1, 5), Bits(length - 11, 4);
        } else {
            Bits(0, 5), Byte(length - 27);
        }
    }
};

struct DecodeResult {
    int ok;
    uint32_t consumed;
    std::vector<unsigned char> output;
};

// Decodes through the fast and the careful route, checks that they agree on everything, and returns the
// result. The source is copied into a buffer of exactly its length so that the sanitizer sees any read
// past it.
inline DecodeResult DecodeBoth(const std::vector<unsigned char>& stream, uint32_t capacity) {
    std::vector<unsigned char> source(stream);
    DecodeResult fast{0, 0, std::vector<unsigned char>(capacity, 0xCD)};
    DecodeResult careful{0, 0, std::vector<unsigned char>(capacity, 0xCD)};
    const unsigned char* in = source.empty() ? nullptr : source.data();
    fast.ok = DecompressBlock(capacity ? fast.output.data() : nullptr, capacity, in,
                              static_cast<uint32_t>(source.size()), &fast.consumed);
    careful.ok = DecompressBlockCareful(capacity ? careful.output.data() : nullptr, capacity, in,
                                        static_cast<uint32_t>(source.size()), &careful.consumed);
    CHECK(fast.ok == careful.ok);
    CHECK(fast.consumed == careful.consumed);
    CHECK(fast.consumed <= source.size());
    CHECK(fast.output == careful.output);
    return fast;
}
