// The stream decoder: the format's worked examples, where flag words stand inside tokens, every kind of
// match at its limits, and damaged or hostile streams. Every decode runs through both routes, which must
// agree (DecodeBoth).
#include "stream_builder.h"

#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>

namespace {

std::vector<unsigned char> Bytes(std::initializer_list<int> values) {
    std::vector<unsigned char> result;
    for (int v : values)
        result.push_back(static_cast<unsigned char>(v));
    return result;
}

std::vector<unsigned char> Text(const char* text) {
    return std::vector<unsigned char>(text, text + strlen(text));
}

// Appends length bytes from distance back, one at a time: the meaning every route must reproduce.
void ReferenceCopy(std::vector<unsigned char>& output, size_t distance, size_t length) {
    for (size_t i = 0; i < length; ++i)
        output.push_back(output[output.size() - distance]);
}

uint32_t Lcg(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

} // namespace

TEST_CASE("worked examples decode to their output and consume the whole stream") {
    struct Example {
        std::vector<unsigned char> stream;
        const char* output;
    };
    const Example examples[] = {
        {Bytes({0x00, 0x00, 0x00, 0x7C, 0xFF}), ""},
        {Bytes({0x00, 0x00, 0x80, 0xEF, 0x61, 0x62, 0x63, 0xFF}), "abc"},
        {Bytes({0x00, 0x80, 0x6F, 0xE4, 0x61, 0x62, 0x63, 0x01, 0xFF}), "abcabcabc"},
    };
    for (const Example& example : examples) {
        CAPTURE(example.output);
        uint32_t size = static_cast<uint32_t>(strlen(example.output));
        DecodeResult result = DecodeBoth(example.stream, size);
        CHECK(result.ok == 1);
        CHECK(result.consumed == example.stream.size());
        CHECK(result.output == Text(example.output));
        // The same stream with trailing bytes stops at its end marker.
        std::vector<unsigned char> padded(example.stream);
        padded.insert(padded.end(), 7, 0xAA);
        DecodeResult again = DecodeBoth(padded, size);
        CHECK(again.ok == 1);
        CHECK(again.consumed == example.stream.size());
    }
}

TEST_CASE("flag words stand where the decoder runs out of control bits") {
    SUBCASE("33 literals: the second word between the 32nd and the 33rd literal byte") {
        std::vector<unsigned char> stream = Bytes({0xFF, 0xFF, 0xFF, 0xFF});
        std::vector<unsigned char> expected;
        for (int i = 0; i < 32; ++i)
            stream.push_back(static_cast<unsigned char>('A' + i)), expected.push_back('A' + i);
        // literal bit, then the end marker 0 1 1, FF, 1 1 1
        stream.insert(stream.end(), {0x00, 0x00, 0x00, 0xBE, 'z', 0xFF});
        expected.push_back('z');
        DecodeResult result = DecodeBoth(stream, 33);
        CHECK(result.ok == 1);
        CHECK(result.consumed == stream.size());
        CHECK(result.output == expected);
    }
    SUBCASE("a selector bit that opens a new word: the word precedes the token's byte") {
        // 30 literals and 0 1 fill the first word; the selector 0 opens the second, then byte 00.
        std::vector<unsigned char> stream = Bytes({0xFD, 0xFF, 0xFF, 0xFF});
        std::vector<unsigned char> expected;
        for (int i = 0; i < 30; ++i)
            stream.push_back(static_cast<unsigned char>(i)), expected.push_back(i);
        stream.insert(stream.end(), {0x00, 0x00, 0x00, 0x3E, 0x00, 0xFF});
        expected.push_back(29), expected.push_back(29);
        DecodeResult result = DecodeBoth(stream, 32);
        CHECK(result.ok == 1);
        CHECK(result.consumed == stream.size());
        CHECK(result.output == expected);
    }
    SUBCASE("x bits that need a new word: the word follows the token's byte") {
        // 29 literals and 0 0 1 fill the first word; distance byte 00, then the word with x = 0 and
        // length code 1 (3 bytes from distance 1), then the end marker.
        std::vector<unsigned char> stream = Bytes({0xF9, 0xFF, 0xFF, 0xFF});
        std::vector<unsigned char> expected;
        for (int i = 0; i < 29; ++i)
            stream.push_back(static_cast<unsigned char>(i + 1)), expected.push_back(i + 1);
        stream.insert(stream.end(), {0x00, 0x00, 0x00, 0x00, 0x5F, 0xFF});
        expected.insert(expected.end(), 3, 29);
        DecodeResult result = DecodeBoth(stream, 32);
        CHECK(result.ok == 1);
        CHECK(result.consumed == stream.size());
        CHECK(result.output == expected);
    }
    SUBCASE("the end marker's last bits in a word of their own") {
        // 29 literals and 0 1 1 fill the first word; FF; then 1 1 1 need a new word that ends the stream.
        std::vector<unsigned char> stream = Bytes({0xFB, 0xFF, 0xFF, 0xFF});
        for (int i = 0; i < 29; ++i)
            stream.push_back('q');
        stream.insert(stream.end(), {0xFF, 0x00, 0x00, 0x00, 0xE0});
        DecodeResult result = DecodeBoth(stream, 29);
        CHECK(result.ok == 1);
        CHECK(result.consumed == stream.size());
        CHECK(result.output == std::vector<unsigned char>(29, 'q'));
    }
}

TEST_CASE("short matches over their whole range of values") {
    std::vector<unsigned char> prefix;
    uint32_t seed = 7;
    for (int i = 0; i < 2400; ++i)
        prefix.push_back(static_cast<unsigned char>(Lcg(seed)));
    const uint32_t values[] = {0, 1, 2, 255, 256, 257, 1000, 2301, 2302};
    for (uint32_t value : values) {
        CAPTURE(value);
        TestStream s;
        for (unsigned char c : prefix)
            s.Literal(c);
        s.Short(value);
        s.End();
        std::vector<unsigned char> expected(prefix);
        ReferenceCopy(expected, value + 1, 2);
        DecodeResult result = DecodeBoth(s.bytes, static_cast<uint32_t>(expected.size()));
        CHECK(result.ok == 1);
        CHECK(result.consumed == s.bytes.size());
        CHECK(result.output == expected);
    }
}

TEST_CASE("long matches of distance 1 to 3 repeat their pattern on the right phase, at every length") {
    for (uint32_t distance = 1; distance <= 3; ++distance) {
        for (uint32_t length = 3; length <= 282; ++length) {
            TestStream s;
            s.Literal('a'), s.Literal('b'), s.Literal('c');
            s.Long(distance, length);
            s.Literal('!');
            s.End();
            std::vector<unsigned char> expected = Text("abc");
            ReferenceCopy(expected, distance, length);
            expected.push_back('!');
            DecodeResult result = DecodeBoth(s.bytes, static_cast<uint32_t>(expected.size()));
            if (result.ok != 1 || result.output != expected) {
                FAIL("distance " << distance << " length " << length);
            }
        }
    }
    TestStream s;
    s.Literal('a'), s.Literal('b'), s.Literal('c');
    s.Long(3, 4);
    s.End();
    CHECK(DecodeBoth(s.bytes, 7).output == Text("abcabca"));
}

TEST_CASE("long matches at every distance code and length code boundary, the longest and the farthest") {
    std::vector<unsigned char> prefix;
    uint32_t seed = 99;
    for (int i = 0; i < 8300; ++i)
        prefix.push_back(static_cast<unsigned char>(Lcg(seed) & 0x3F));
    const uint32_t distances[] = {1,    4,    5,    511,  512,  513,  1023, 1024, 1025,
                                  2047, 2048, 2049, 4095, 4096, 4097, 8191, 8192};
    const uint32_t lengths[] = {3, 4, 5, 6, 7, 10, 11, 26, 27, 28, 100, 281, 282};
    for (uint32_t distance : distances) {
        for (uint32_t length : lengths) {
            TestStream s;
            for (unsigned char c : prefix)
                s.Literal(c);
            s.Long(distance, length);
            s.Long(distance, length); // a second one, now from bytes the first match wrote
            s.End();
            std::vector<unsigned char> expected(prefix);
            ReferenceCopy(expected, distance, length);
            ReferenceCopy(expected, distance, length);
            DecodeResult result = DecodeBoth(s.bytes, static_cast<uint32_t>(expected.size()));
            if (result.ok != 1 || result.consumed != s.bytes.size() || result.output != expected) {
                FAIL("distance " << distance << " length " << length);
            }
        }
    }
    // The farthest and longest codes spelled out: prefix 0 0 0 0, byte FF, x 1111; 0 0 0 0 0, byte FF.
    TestStream s;
    for (unsigned char c : prefix)
        s.Literal(c);
    size_t before = s.bytes.size();
    s.Long(8192, 282);
    CHECK(s.bytes.size() - before >= 2);
    CHECK(s.bytes[s.bytes.size() - 1] == 0xFF);
}

TEST_CASE("damaged streams are refused without reading or writing outside the buffers") {
    // A sound stream with every kind of token, then every cut of it.
    TestStream s;
    for (int i = 0; i < 40; ++i)
        s.Literal(i * 7);
    s.Short(3);
    s.Long(20, 30);
    s.Long(1, 282);
    s.Short(300);
    s.Long(2, 5);
    s.End();
    uint32_t size = 40 + 2 + 30 + 282 + 2 + 5;
    DecodeResult whole = DecodeBoth(s.bytes, size);
    REQUIRE(whole.ok == 1);
    REQUIRE(whole.consumed == s.bytes.size());

    SUBCASE("truncated at every length") {
        for (size_t cut = 0; cut < s.bytes.size(); ++cut) {
            std::vector<unsigned char> part(s.bytes.begin(), s.bytes.begin() + cut);
            DecodeResult result = DecodeBoth(part, size);
            if (result.ok != 0) FAIL("cut at " << cut);
        }
    }
    SUBCASE("output capacity one short, one over, and none") {
        CHECK(DecodeBoth(s.bytes, size - 1).ok == 0);
        CHECK(DecodeBoth(s.bytes, size + 1).ok == 0);
        CHECK(DecodeBoth(s.bytes, 0).ok == 0);
        // One short stops before the last match (5 bytes), having produced everything before it.
        DecodeResult result = DecodeBoth(s.bytes, size - 1);
        CHECK(result.produced == size - 5);
        CHECK(
            std::equal(result.output.begin(), result.output.begin() + result.produced, whole.output.begin()));
    }
    SUBCASE("matches reaching before the start of the output") {
        TestStream early;
        early.Literal('x'), early.Literal('y');
        early.Long(3, 3);
        early.End();
        CHECK(DecodeBoth(early.bytes, 5).ok == 0);
        TestStream first;
        first.Short(0);
        first.End();
        CHECK(DecodeBoth(first.bytes, 2).ok == 0);
        TestStream far;
        for (int i = 0; i < 400; ++i)
            far.Literal(i);
        far.Long(8192, 282);
        far.End();
        CHECK(DecodeBoth(far.bytes, 400 + 282).ok == 0);
    }
    SUBCASE("no source at all") {
        CHECK(DecompressBlock(nullptr, 0, nullptr, 0, nullptr) == 0);
        unsigned char out[4];
        CHECK(DecompressBlock(out, sizeof out, nullptr, 0, nullptr) == 0);
    }
}

TEST_CASE("random and mutated streams: both routes agree and stay inside their buffers") {
    uint32_t seed = 12345;
    for (int round = 0; round < 1500; ++round) {
        size_t length = Lcg(seed) % 700;
        std::vector<unsigned char> stream(length);
        // Mostly-ones flag words make long literal runs and far-reaching matches both likely.
        for (size_t i = 0; i < length; ++i)
            stream[i] = static_cast<unsigned char>(Lcg(seed));
        uint32_t capacity = Lcg(seed) % 2000;
        DecodeResult result = DecodeBoth(stream, capacity);
        (void)result;
    }
    // Mutations of a sound stream that leave most of it decodable.
    TestStream s;
    uint32_t textSeed = 5;
    for (int i = 0; i < 600; ++i)
        s.Literal('a' + Lcg(textSeed) % 4);
    for (int i = 0; i < 60; ++i)
        s.Long(1 + Lcg(textSeed) % 600, 3 + Lcg(textSeed) % 280);
    s.End();
    for (int round = 0; round < 400; ++round) {
        std::vector<unsigned char> mutated(s.bytes);
        for (int flips = 0; flips < 3; ++flips)
            mutated[Lcg(seed) % mutated.size()] ^= 1u << (Lcg(seed) % 8);
        DecodeBoth(mutated, 600 + 60 * 282);
    }
}

namespace {

// A sound stream of random tokens of every kind over a random prefix, long enough that the fast loop
// decodes most of it: literal runs of every length, short matches at both widths, long matches in every
// distance class with every length code, distances 1 to 15 (the pattern copies) among them.
TestStream RandomTokens(uint32_t seed, size_t outputSize, size_t* produced) {
    TestStream s;
    size_t out = 0;
    while (out < outputSize) {
        uint32_t kind = Lcg(seed) % 10;
        if (out < 16 || kind < 3) {
            for (uint32_t run = 1 + Lcg(seed) % 40; run > 0; --run, ++out)
                s.Literal(Lcg(seed));
        } else if (kind < 5) {
            uint32_t value = Lcg(seed) % (out < 2303 ? out : 2303);
            if (Lcg(seed) % 2) value %= 256;
            s.Short(value);
            out += 2;
        } else {
            uint32_t most = out < 8192 ? static_cast<uint32_t>(out) : 8192;
            uint32_t distance = kind < 7 ? 1 + Lcg(seed) % (most < 15 ? most : 15) : 1 + Lcg(seed) % most;
            static const uint32_t lengths[] = {3, 4, 5, 6, 7, 10, 11, 26, 27, 282};
            uint32_t length = Lcg(seed) % 3 ? lengths[Lcg(seed) % 10] : 3 + Lcg(seed) % 280;
            s.Long(distance, length);
            out += length;
        }
    }
    s.End();
    *produced = out;
    return s;
}

} // namespace

TEST_CASE("random sound streams, then every kind of damage: both routes agree with the reference") {
    uint32_t seed = 2024;
    for (int round = 0; round < 40; ++round) {
        size_t size = 0;
        TestStream s = RandomTokens(seed + round, 1000 + Lcg(seed) % 20000, &size);
        size_t referenceConsumed = 0;
        std::vector<unsigned char> expected = ReferenceDecode(s.bytes, &referenceConsumed);
        REQUIRE(expected.size() == size);
        REQUIRE(referenceConsumed == s.bytes.size());
        DecodeResult whole = DecodeBoth(s.bytes, static_cast<uint32_t>(size));
        REQUIRE(whole.ok == 1);
        CHECK(whole.consumed == s.bytes.size());
        CHECK(whole.output == expected);
        // Capacities around the right one, and cuts anywhere, most of them near the end where the fast loop
        // hands over.
        for (uint32_t capacity :
             {uint32_t(size - 1), uint32_t(size + 1), uint32_t(size + 300), uint32_t(size / 2)})
            CHECK(DecodeBoth(s.bytes, capacity).ok == 0);
        for (int cut = 0; cut < 30; ++cut) {
            size_t keep = cut < 15 ? s.bytes.size() - 1 - cut : Lcg(seed) % s.bytes.size();
            std::vector<unsigned char> part(s.bytes.begin(), s.bytes.begin() + keep);
            CHECK(DecodeBoth(part, static_cast<uint32_t>(size)).ok == 0);
        }
        // Flipped bits and overwritten bytes: any verdict, but the same through both routes.
        for (int mutation = 0; mutation < 40; ++mutation) {
            std::vector<unsigned char> mutated(s.bytes);
            if (mutation % 2) {
                mutated[Lcg(seed) % mutated.size()] ^= static_cast<unsigned char>(1u << (Lcg(seed) % 8));
            } else {
                mutated[Lcg(seed) % mutated.size()] = static_cast<unsigned char>(Lcg(seed));
            }
            DecodeBoth(mutated, static_cast<uint32_t>(size + mutation % 3));
        }
    }
}
