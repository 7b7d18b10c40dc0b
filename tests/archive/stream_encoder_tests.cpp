// The stream encoder against the decoder: exact bytes for the worked examples, round trips over varied
// data with the stream's length equal to what the decoder consumes, the output bound, and compression
// that actually finds the longest and the farthest matches.
#include "stream_builder.h"
#include "tools/packer/stream_encoder.h"

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
