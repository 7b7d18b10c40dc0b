// Test-side writer of hand-made streams, token by token, kept apart from the encoder so that it can check
// the encoder and be checked against the decoder. Also decodes through both decoder routes at once.
#pragma once

#include "archive/stream_decoder.h"
#include "archive/stream_decoder_internal.h"

#include <doctest/doctest.h>

#include <algorithm>
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
    uint32_t produced;
    std::vector<unsigned char> output;
};

// The format read straight from its description, one bit and one byte at a time, written apart from the
// product's decoder: what both of its routes are held against. Returns the output, or fails the test when
// the stream is not sound (truncated, a match before the start, no end marker).
inline std::vector<unsigned char> ReferenceDecode(const std::vector<unsigned char>& stream,
                                                  size_t* consumed) {
    std::vector<unsigned char> output;
    size_t in = 0;
    uint32_t word = 0;
    unsigned left = 0;
    bool broken = false;
    auto bit = [&]() -> uint32_t {
        if (left == 0) {
            if (stream.size() - in < 4) {
                broken = true;
                return 0;
            }
            word = uint32_t(stream[in]) | uint32_t(stream[in + 1]) << 8 | uint32_t(stream[in + 2]) << 16 |
                   uint32_t(stream[in + 3]) << 24;
            in += 4;
            left = 32;
        }
        --left;
        return word >> left & 1;
    };
    auto bits = [&](unsigned count) {
        uint32_t value = 0;
        while (count--)
            value = value << 1 | bit();
        return value;
    };
    auto byte = [&]() -> uint32_t {
        if (in >= stream.size()) {
            broken = true;
            return 0;
        }
        return stream[in++];
    };
    auto copy = [&](uint32_t distance, uint32_t length) {
        if (distance > output.size()) {
            broken = true;
            return;
        }
        for (uint32_t i = 0; i < length; ++i)
            output.push_back(output[output.size() - distance]);
    };
    while (!broken) {
        if (bit()) {
            uint32_t literal = byte();
            if (!broken) output.push_back(static_cast<unsigned char>(literal));
        } else if (bit()) {
            uint32_t value = bit() ? 256 + byte() * 8 : byte();
            if (value >= 256) value += bits(3);
            if (broken || value == 2303) break;
            copy(value + 1, 2);
        } else {
            static const uint32_t base[5] = {0, 512, 1024, 2048, 4096};
            static const unsigned extra[5] = {1, 1, 2, 3, 4};
            unsigned zeros = 0;
            while (zeros < 4 && !bit())
                ++zeros;
            uint32_t value = byte() << extra[zeros];
            uint32_t distance = base[zeros] + value + bits(extra[zeros]) + 1;
            uint32_t length;
            if (bit()) {
                length = 3;
            } else if (bit()) {
                length = 4;
            } else if (bit()) {
                length = 5 + bits(1);
            } else if (bit()) {
                length = 7 + bits(2);
            } else if (bit()) {
                length = 11 + bits(4);
            } else {
                length = 27 + byte();
            }
            if (!broken) copy(distance, length);
        }
    }
    REQUIRE_MESSAGE(!broken, "the reference decoder found the stream unsound");
    if (consumed) *consumed = in;
    return output;
}

// Decodes through the fast and the careful route, checks that they agree on the verdict, the bytes read
// and written and the bytes written, and returns the result. On failure the fast route may leave scratch
// bytes past what it produced, so only the produced bytes are compared then. The source is copied into a
// buffer of exactly its length so that the sanitizer sees any read past it.
inline DecodeResult DecodeBoth(const std::vector<unsigned char>& stream, uint32_t capacity) {
    std::vector<unsigned char> source(stream);
    DecodeResult fast{0, 0, 0, std::vector<unsigned char>(capacity, 0xCD)};
    DecodeResult careful{0, 0, 0, std::vector<unsigned char>(capacity, 0xCD)};
    const unsigned char* in = source.empty() ? nullptr : source.data();
    fast.ok = DecodeStreamRoute(FastAndCarefulRoute, capacity ? fast.output.data() : nullptr, capacity, in,
                                static_cast<uint32_t>(source.size()), &fast.consumed, &fast.produced);
    careful.ok =
        DecodeStreamRoute(CarefulRoute, capacity ? careful.output.data() : nullptr, capacity, in,
                          static_cast<uint32_t>(source.size()), &careful.consumed, &careful.produced);
    uint32_t publicConsumed = 0;
    std::vector<unsigned char> again(capacity);
    CHECK(DecompressBlock(capacity ? again.data() : nullptr, capacity, in,
                          static_cast<uint32_t>(source.size()), &publicConsumed) == fast.ok);
    CHECK(publicConsumed == fast.consumed);
    CHECK(fast.ok == careful.ok);
    CHECK(fast.consumed == careful.consumed);
    CHECK(fast.produced == careful.produced);
    CHECK(fast.consumed <= source.size());
    CHECK(fast.produced <= capacity);
    CHECK(std::equal(fast.output.begin(), fast.output.begin() + fast.produced, careful.output.begin()));
    if (fast.ok) CHECK(fast.output == careful.output);
    return fast;
}
