// The stream encoder against the decoder: exact bytes for the worked examples, round trips over varied
// data with the stream's length equal to what the decoder consumes, the output bound, and compression
// that actually finds the longest and the farthest matches.
#include "stream_builder.h"
#include "archive/stream_decoder.h"
#include "tools/packer/stream_encoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace {

std::vector<unsigned char> Compress(const std::vector<unsigned char>& data) {
    std::vector<unsigned char> stream(CompressBound(data.size()));
    size_t length =
        CompressBlock(data.empty() ? nullptr : data.data(), data.size(), stream.data(), stream.size());
    REQUIRE(length > 0);
    stream.resize(length);
    return stream;
}

// Compresses, decodes through both routes into a buffer of exactly the input's size, and checks the
// content and that the decoder consumed the whole stream. Returns the stream's length.
size_t RoundTrip(const std::vector<unsigned char>& data) {
    std::vector<unsigned char> stream = Compress(data);
    DecodeResult result = DecodeBoth(stream, static_cast<uint32_t>(data.size()));
    CHECK(result.ok == 1);
    CHECK(result.consumed == stream.size());
    CHECK(result.output == data);
    size_t referenceConsumed = 0;
    CHECK(ReferenceDecode(stream, &referenceConsumed) == data);
    CHECK(referenceConsumed == stream.size());
    return stream.size();
}

uint32_t Lcg(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

std::vector<unsigned char> RandomBytes(size_t size, uint32_t seed) {
    std::vector<unsigned char> data(size);
    for (auto& b : data)
        b = static_cast<unsigned char>(Lcg(seed));
    return data;
}

std::vector<unsigned char> SampleText(size_t size) {
    static const char* words[] = {"update",   "game",          "file",    "setup",       "the",
                                  "archive",  "install",       "version", "data",        "folder",
                                  "[UPDATE]", "UpdateFile00=", "\r\n",    "CompanyName", "."};
    std::vector<unsigned char> data;
    uint32_t seed = 3;
    while (data.size() < size) {
        const char* word = words[Lcg(seed) % (sizeof words / sizeof words[0])];
        data.insert(data.end(), word, word + strlen(word));
        data.push_back(' ');
    }
    data.resize(size);
    return data;
}

// Something like an executable: small integers, repeated instruction patterns, tables and zero runs.
std::vector<unsigned char> SampleBinary(size_t size) {
    std::vector<unsigned char> data;
    uint32_t seed = 11;
    while (data.size() < size) {
        switch (Lcg(seed) % 4) {
        case 0:
            data.insert(data.end(), Lcg(seed) % 300, 0);
            break;
        case 1:
            for (int i = 0; i < 64; ++i) {
                uint32_t v = Lcg(seed) % 1000;
                data.push_back(static_cast<unsigned char>(v)),
                    data.push_back(static_cast<unsigned char>(v >> 8));
                data.push_back(0), data.push_back(0);
            }
            break;
        case 2: {
            static const unsigned char code[] = {0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x10,
                                                 0x53, 0x56, 0x57, 0x8B, 0x45, 0x08};
            data.insert(data.end(), code, code + sizeof code);
            break;
        }
        default: {
            std::vector<unsigned char> noise = RandomBytes(Lcg(seed) % 200, Lcg(seed));
            data.insert(data.end(), noise.begin(), noise.end());
        }
        }
    }
    data.resize(size);
    return data;
}

} // namespace

TEST_CASE("the encoder writes the worked examples byte for byte") {
    struct Example {
        const char* input;
        std::vector<unsigned char> stream;
    };
    const Example examples[] = {
        {"", {0x00, 0x00, 0x00, 0x7C, 0xFF}},
        {"abc", {0x00, 0x00, 0x80, 0xEF, 0x61, 0x62, 0x63, 0xFF}},
        {"abcabcabc", {0x00, 0x80, 0x6F, 0xE4, 0x61, 0x62, 0x63, 0x01, 0xFF}},
    };
    for (const Example& example : examples) {
        CAPTURE(example.input);
        CHECK(Compress(std::vector<unsigned char>(example.input, example.input + strlen(example.input))) ==
              example.stream);
    }
}

TEST_CASE("the encoder places flag words as the test-side writer does") {
    // 33 literals without any repeat: pure literal tokens, the second word after the 32nd byte.
    std::vector<unsigned char> data;
    for (int i = 0; i < 33; ++i)
        data.push_back(static_cast<unsigned char>(i * 37 + 1));
    TestStream expected;
    for (unsigned char c : data)
        expected.Literal(c);
    expected.End();
    CHECK(Compress(data) == expected.bytes);
    // 29 distinct bytes then a run: the match's x bit falls into the next word after its byte.
    data.assign(29, 0);
    for (int i = 0; i < 29; ++i)
        data[i] = static_cast<unsigned char>(i + 1);
    data.insert(data.end(), 3, 29);
    expected = TestStream();
    for (int i = 0; i < 29; ++i)
        expected.Literal(i + 1);
    expected.Long(1, 3);
    expected.End();
    CHECK(Compress(data) == expected.bytes);
}

TEST_CASE("round trips over varied data") {
    struct Case {
        const char* name;
        std::vector<unsigned char> data;
    };
    std::vector<Case> cases;
    cases.push_back({"empty", {}});
    cases.push_back({"one byte", {0x42}});
    cases.push_back({"two bytes", {0xFF, 0xFF}});
    cases.push_back({"three equal", {7, 7, 7}});
    cases.push_back({"run of 1000 zeros", std::vector<unsigned char>(1000, 0)});
    cases.push_back({"run of 100000", std::vector<unsigned char>(100000, 0xEE)});
    std::vector<unsigned char> pairs;
    for (int i = 0; i < 5000; ++i)
        pairs.push_back(i % 2 ? 'x' : 'y');
    cases.push_back({"period 2", pairs});
    std::vector<unsigned char> triples;
    for (int i = 0; i < 5000; ++i)
        triples.push_back(static_cast<unsigned char>("abc"[i % 3]));
    cases.push_back({"period 3", triples});
    cases.push_back({"text", SampleText(200000)});
    cases.push_back({"binary", SampleBinary(200000)});
    cases.push_back({"random", RandomBytes(100000, 77)});
    for (size_t size = 1; size < 80; size += 7)
        cases.push_back({"small random", RandomBytes(size, 1000 + size)});
    for (const Case& c : cases) {
        CAPTURE(c.name);
        CAPTURE(c.data.size());
        RoundTrip(c.data);
    }
}

TEST_CASE("a few megabytes of mixed data round trip and compress") {
    std::vector<unsigned char> data = SampleText(1200000);
    std::vector<unsigned char> binary = SampleBinary(1200000);
    std::vector<unsigned char> noise = RandomBytes(400000, 4242);
    data.insert(data.end(), binary.begin(), binary.end());
    data.insert(data.end(), noise.begin(), noise.end());
    size_t length = RoundTrip(data);
    // The random part cannot shrink; the text and the binary parts must.
    CHECK(length < data.size() * 2 / 3);
}

TEST_CASE("compression finds what the format allows") {
    SUBCASE("runs take the longest match") {
        // 282 per long match of about 3 bytes.
        size_t length = RoundTrip(std::vector<unsigned char>(282 * 100 + 1, 'r'));
        CHECK(length < 400);
    }
    SUBCASE("the densest stream stays within the bound every reader refuses damage by") {
        // A run is the densest input there is: one long match of the greatest length per 25 bits. The
        // updater and the tool refuse a claimed size beyond MostDecodedPerStreamByte per stream byte.
        std::vector<unsigned char> zeros(4 << 20, 0);
        size_t length = RoundTrip(zeros);
        CHECK(zeros.size() <= uint64_t(length) * MostDecodedPerStreamByte);
        CHECK(zeros.size() > uint64_t(length) * (MostDecodedPerStreamByte - 1));
    }
    SUBCASE("a block repeated at the farthest distance is matched, not stored again") {
        std::vector<unsigned char> data = RandomBytes(8192, 5);
        data.resize(2 * 8192);
        memcpy(data.data() + 8192, data.data(), 8192);
        size_t length = RoundTrip(data);
        CHECK(length < 8192 + 8192 / 8 + 200);
    }
    SUBCASE("one byte past the farthest distance cannot be matched") {
        std::vector<unsigned char> block = RandomBytes(1000, 6);
        std::vector<unsigned char> data(block);
        std::vector<unsigned char> gap = RandomBytes(8193 - 1000, 8);
        data.insert(data.end(), gap.begin(), gap.end());
        data.insert(data.end(), block.begin(), block.end());
        RoundTrip(data);
    }
    SUBCASE("text shrinks to well under half") {
        std::vector<unsigned char> text = SampleText(100000);
        CHECK(RoundTrip(text) < text.size() / 2);
    }
    SUBCASE("random data stays within the bound") {
        std::vector<unsigned char> noise = RandomBytes(50000, 9);
        CHECK(RoundTrip(noise) <= CompressBound(noise.size()));
    }
}

TEST_CASE("the encoder refuses a destination that is too small and never writes past it") {
    std::vector<unsigned char> data = SampleText(5000);
    std::vector<unsigned char> stream = Compress(data);
    std::vector<unsigned char> exact(stream.size());
    CHECK(CompressBlock(data.data(), data.size(), exact.data(), exact.size()) == stream.size());
    CHECK(exact == stream);
    for (size_t capacity : {size_t(0), size_t(3), size_t(4), stream.size() / 2, stream.size() - 1}) {
        CAPTURE(capacity);
        std::vector<unsigned char> small(capacity + 1, 0x5A);
        CHECK(CompressBlock(data.data(), data.size(), capacity ? small.data() : nullptr, capacity) == 0);
        CHECK(small[capacity] == 0x5A);
    }
    // Incompressible input needs the bound and fits in it.
    std::vector<unsigned char> noise = RandomBytes(4097, 10);
    std::vector<unsigned char> bounded(CompressBound(noise.size()));
    CHECK(CompressBlock(noise.data(), noise.size(), bounded.data(), bounded.size()) > noise.size());
}

namespace {

// The cheapest parse found without the encoder's match search: every token the format has, at every
// position, with every distance and every length that repeats there. Token costs add up token by token, so
// the minimum over all parses is exactly what a dynamic program over positions finds. Besides the least
// 8 * data bytes + control bits, it finds the shortest stream in bytes, whose flag words cost 4 bytes for
// each 32 control bits begun: for that the program runs over positions and control bits modulo 32 at once.
struct ExhaustiveMinimum {
    uint64_t bits;        // least 8 * data bytes + control bits, end marker included
    uint64_t streamBytes; // least data bytes + 4 * flag words
};

struct TokenCost {
    unsigned control, bytes;
};

TokenCost LongMatchCost(size_t distance, size_t length) {
    size_t d = distance - 1;
    TokenCost t{2, 1};
    t.control += d < 512 ? 2 : d < 1024 ? 3 : d < 2048 ? 5 : d < 4096 ? 7 : 8;
    if (length <= 26) {
        t.control += length == 3 ? 1 : length == 4 ? 2 : length <= 6 ? 4 : length <= 10 ? 6 : 9;
    } else {
        t.control += 5, t.bytes += 1;
    }
    return t;
}

ExhaustiveMinimum ExhaustiveSearch(const std::vector<unsigned char>& data) {
    const size_t n = data.size();
    const uint64_t none = UINT64_MAX / 4;
    // bits[p]: least 8 * bytes + control bits for the first p bytes. length[p][r]: least 32 * flag words +
    // 8 * data bytes for the first p bytes among parses whose control bits are r modulo 32.
    std::vector<uint64_t> bits(n + 1, none);
    std::vector<std::array<uint64_t, 32>> length(n + 1);
    for (auto& row : length)
        row.fill(none);
    bits[0] = 0;
    length[0][0] = 0;
    auto wordsBegun = [](unsigned used, unsigned control) {
        return (used + control + 31) / 32 - (used + 31) / 32;
    };
    auto relax = [&](size_t from, size_t to, TokenCost t) {
        bits[to] = std::min(bits[to], bits[from] + 8 * t.bytes + t.control);
        for (unsigned r = 0; r < 32; ++r) {
            if (length[from][r] == none) continue;
            unsigned after = (r + t.control) % 32;
            length[to][after] =
                std::min(length[to][after], length[from][r] + 32 * wordsBegun(r, t.control) + 8 * t.bytes);
        }
    };
    // Earlier positions by their byte: a distance whose first byte differs repeats nothing. Distances of
    // one cost class are interchangeable, so each length is taken once per class (and the short match
    // once per width): the nearest distance of the class that reaches it stands for all of them.
    std::vector<size_t> byByte[256];
    for (size_t p = 0; p < n; ++p) {
        relax(p, p + 1, TokenCost{1, 1});
        size_t longestInClass[5] = {2, 2, 2, 2, 2};
        bool shortDone[2] = {false, false};
        const std::vector<size_t>& same = byByte[data[p]];
        for (size_t i = same.size(); i-- > 0 && p - same[i] <= 8192;) {
            size_t distance = p - same[i];
            size_t common = 0;
            while (p + common < n && common < 282 && data[p + common] == data[p + common - distance])
                ++common;
            bool near = distance <= 256;
            if (common >= 2 && distance <= 2303 && !shortDone[near]) {
                relax(p, p + 2, TokenCost{near ? 3u : 6u, 1});
                shortDone[near] = true;
            }
            size_t d = distance - 1;
            size_t& done = longestInClass[d < 512 ? 0 : d < 1024 ? 1 : d < 2048 ? 2 : d < 4096 ? 3 : 4];
            for (; done < common; ++done)
                relax(p, p + done + 1, LongMatchCost(distance, done + 1));
        }
        byByte[data[p]].push_back(p);
    }
    // The end marker: 0 1 1, byte FF, 1 1 1.
    ExhaustiveMinimum result{bits[n] + 8 + 6, none};
    for (unsigned r = 0; r < 32; ++r) {
        if (length[n][r] != none)
            result.streamBytes = std::min(result.streamBytes, (length[n][r] + 32 * wordsBegun(r, 6) + 8) / 8);
    }
    return result;
}

// The stream's cost in bits (8 * data bytes + control bits), counted by reading it with the test-side
// decoder's rules: flag words are the 4-byte groups the decoder reads, everything else is data.
uint64_t StreamBits(const std::vector<unsigned char>& stream) {
    size_t consumed = 0;
    ReferenceDecode(stream, &consumed);
    REQUIRE(consumed == stream.size());
    // Walk the stream again, counting control bits: re-decode with a counter.
    size_t in = 0, control = 0, dataBytes = 0;
    unsigned left = 0;
    uint32_t word = 0;
    auto bit = [&]() -> uint32_t {
        if (left == 0) {
            word = uint32_t(stream[in]) | uint32_t(stream[in + 1]) << 8 | uint32_t(stream[in + 2]) << 16 |
                   uint32_t(stream[in + 3]) << 24;
            in += 4, left = 32;
        }
        ++control;
        return word >> --left & 1;
    };
    auto bits = [&](unsigned count) {
        uint32_t v = 0;
        while (count--)
            v = v << 1 | bit();
        return v;
    };
    auto byte = [&]() -> uint32_t { return ++dataBytes, stream[in++]; };
    for (;;) {
        if (bit()) {
            byte();
        } else if (bit()) {
            uint32_t value = bit() ? 256 + byte() * 8 + bits(3) : byte();
            if (value == 2303) break;
        } else {
            static const unsigned extra[5] = {1, 1, 2, 3, 4};
            unsigned zeros = 0;
            while (zeros < 4 && !bit())
                ++zeros;
            byte(), bits(extra[zeros]);
            unsigned code = 0;
            while (code < 5 && !bit())
                ++code;
            static const unsigned lengthExtra[5] = {0, 0, 1, 2, 4};
            if (code == 5) {
                byte();
            } else {
                bits(lengthExtra[code]);
            }
        }
    }
    return 8 * dataBytes + control;
}

// Inputs where the choice between tokens is close: few letters, planted repeats at the edges of the
// distance classes and of the length codes.
std::vector<unsigned char> SmallAlphabet(size_t size, unsigned letters, uint32_t seed) {
    std::vector<unsigned char> data(size);
    for (auto& b : data)
        b = static_cast<unsigned char>('a' + Lcg(seed) % letters);
    return data;
}

void CheckOptimal(const std::vector<unsigned char>& data, int* bytesAboveShortest) {
    std::vector<unsigned char> stream = Compress(data);
    size_t consumed = 0;
    CHECK(ReferenceDecode(stream, &consumed) == data);
    CHECK(consumed == stream.size());
    DecodeResult decoded = DecodeBoth(stream, static_cast<uint32_t>(data.size()));
    CHECK(decoded.ok == 1);
    CHECK(decoded.output == data);
    ExhaustiveMinimum best = ExhaustiveSearch(data);
    CHECK(StreamBits(stream) == best.bits);
    CHECK(stream.size() >= best.streamBytes);
    CHECK(stream.size() <= best.streamBytes + 3);
    if (bytesAboveShortest) *bytesAboveShortest += static_cast<int>(stream.size() - best.streamBytes);
}

} // namespace

TEST_CASE("the encoder's streams have the fewest bits of all parses, found by exhaustive search") {
    int above = 0, inputs = 0;
    SUBCASE("small random inputs over few letters") {
        uint32_t seed = 404;
        for (int round = 0; round < 300; ++round, ++inputs) {
            size_t size = Lcg(seed) % 120;
            CAPTURE(round);
            CheckOptimal(SmallAlphabet(size, 1 + Lcg(seed) % 4, Lcg(seed)), &above);
        }
    }
    SUBCASE("runs and periods at every length code boundary") {
        for (size_t length :
             {2, 3, 4, 5, 6, 7, 10, 11, 12, 26, 27, 28, 29, 282, 283, 284, 285, 286, 564, 565}) {
            for (size_t period : {1, 2, 3, 5}) {
                CAPTURE(length);
                CAPTURE(period);
                std::vector<unsigned char> data;
                for (size_t i = 0; i < period; ++i)
                    data.push_back(static_cast<unsigned char>('p' + i));
                for (size_t i = 0; i < length; ++i)
                    data.push_back(data[data.size() - period]);
                data.push_back('#');
                CheckOptimal(data, &above);
                ++inputs;
            }
        }
    }
    SUBCASE("the end marker's bits on either side of a flag word's end") {
        // Distinct bytes are literals only: 24 to 40 of them put the end marker's six control bits
        // anywhere around the end of the first or the second word.
        for (size_t size = 24; size <= 40; ++size, ++inputs) {
            CAPTURE(size);
            std::vector<unsigned char> data;
            for (size_t i = 0; i < size; ++i)
                data.push_back(static_cast<unsigned char>(i * 7 + 3));
            CheckOptimal(data, &above);
        }
    }
    SUBCASE("repeats at every distance class boundary and at the window's edge") {
        uint32_t seed = 77;
        for (size_t distance : {255,  256,  257,  258,  511,  512,  513,  1023, 1024, 1025, 2047, 2048,
                                2049, 2302, 2303, 2304, 4095, 4096, 4097, 8191, 8192, 8193, 8194}) {
            for (size_t length : {2, 3, 4, 7, 30}) {
                CAPTURE(distance);
                CAPTURE(length);
                // Distinct bytes between the copies, so that only the planted repeat is cheap.
                std::vector<unsigned char> data = RandomBytes(distance, Lcg(seed));
                data.insert(data.end(), data.begin(), data.begin() + length);
                std::vector<unsigned char> tail = SmallAlphabet(20, 3, Lcg(seed));
                data.insert(data.end(), tail.begin(), tail.end());
                CheckOptimal(data, &above);
                ++inputs;
            }
        }
    }
    MESSAGE(inputs << " inputs; bytes above the shortest stream, in total: " << above);
}
