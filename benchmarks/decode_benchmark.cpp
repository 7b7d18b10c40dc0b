// Measures the stream decoder's throughput (fast and careful routes) and the encoder's compressed size on
// a few megabytes of mixed data, beside zlib's inflate and deflate level 9 when zlib is present.
// Usage: decode_benchmark [FILE] [--write PATH]   (without FILE: 4 MiB of generated mixed data; --write
// saves the data measured, so that gzip can be timed on the same bytes).
#include "archive/stream_decoder.h"
#include "archive/stream_decoder_internal.h"
#include "tools/packer/stream_encoder.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef BENCHMARK_WITH_ZLIB
#include <zlib.h>
#endif

namespace {

uint32_t Next(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// A quarter each of text, executable-like structure, runs with small tables, and noise, interleaved in
// blocks so that matches cross kinds as in a real archive.
std::vector<unsigned char> MixedData(size_t size) {
    static const char* words[] = {"update",   "game",          "file",    "setup",       "the",
                                  "archive",  "install",       "version", "data",        "folder",
                                  "[UPDATE]", "UpdateFile00=", "\r\n",    "CompanyName", "."};
    std::vector<unsigned char> data;
    uint32_t seed = 1;
    while (data.size() < size) {
        switch (Next(seed) % 4) {
        case 0:
            for (int i = 0; i < 400; ++i) {
                const char* word = words[Next(seed) % 15];
                data.insert(data.end(), word, word + strlen(word));
                data.push_back(' ');
            }
            break;
        case 1:
            for (int i = 0; i < 500; ++i) {
                static const unsigned char code[] = {0x55, 0x8B, 0xEC, 0x83, 0xEC,
                                                     0x10, 0x8B, 0x45, 0x08, 0xE8};
                data.insert(data.end(), code, code + 3 + Next(seed) % 7);
                uint32_t v = Next(seed) % 4096;
                data.push_back(static_cast<unsigned char>(v));
                data.push_back(static_cast<unsigned char>(v >> 8));
                data.push_back(0);
                data.push_back(0);
            }
            break;
        case 2:
            data.insert(data.end(), Next(seed) % 2000, static_cast<unsigned char>(Next(seed) % 3 ? 0 : 0xFF));
            for (int i = 0; i < 256; ++i)
                data.push_back(static_cast<unsigned char>(i * 3 + 1));
            break;
        default:
            for (int i = 0; i < 1500; ++i)
                data.push_back(static_cast<unsigned char>(Next(seed)));
        }
    }
    data.resize(size);
    return data;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

typedef int (*Decoder)(unsigned char*, uint32_t, const unsigned char*, uint32_t, uint32_t*);

// Best of several rounds, in MB/s of decoded output (1 MB = 10^6 bytes).
double DecodeSpeed(Decoder decoder, const std::vector<unsigned char>& stream,
                   std::vector<unsigned char>& out) {
    double best = 1e30;
    for (int round = 0; round < 7; ++round) {
        auto start = std::chrono::steady_clock::now();
        if (!decoder(out.data(), static_cast<uint32_t>(out.size()), stream.data(),
                     static_cast<uint32_t>(stream.size()), nullptr)) {
            fprintf(stderr, "decode failed\n");
            return 0;
        }
        double took = Seconds(start);
        if (took < best) best = took;
    }
    return out.size() / best / 1e6;
}

} // namespace

int main(int argc, char** argv) {
#if defined(__SANITIZE_ADDRESS__)
    fprintf(stderr, "warning: built with AddressSanitizer; figures are not meaningful\n");
#endif
    std::vector<unsigned char> data;
    const char* writePath = nullptr;
    const char* readPath = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--write") && i + 1 < argc) {
            writePath = argv[++i];
        } else {
            readPath = argv[i];
        }
    }
    if (readPath) {
        FILE* f = fopen(readPath, "rb");
        if (!f) {
            fprintf(stderr, "cannot open %s\n", readPath);
            return 2;
        }
        unsigned char buffer[65536];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, f)) > 0)
            data.insert(data.end(), buffer, buffer + got);
        fclose(f);
    } else {
        data = MixedData(4u << 20);
    }
    if (writePath) {
        FILE* f = fopen(writePath, "wb");
        if (!f || fwrite(data.data(), 1, data.size(), f) != data.size()) return 2;
        fclose(f);
    }

    std::vector<unsigned char> stream(CompressBound(data.size()));
    auto start = std::chrono::steady_clock::now();
    size_t length = CompressBlock(data.data(), data.size(), stream.data(), stream.size());
    double encodeSeconds = Seconds(start);
    stream.resize(length);
    std::vector<unsigned char> out(data.size());
    double fast = DecodeSpeed(DecompressBlock, stream, out);
    bool same = out == data;
    double careful = DecodeSpeed(DecompressBlockCareful, stream, out);
    same = same && out == data;

    printf("input                 %zu bytes (%s)\n", data.size(),
           readPath ? readPath : "generated mixed data");
    printf("stream                %zu bytes (%.1f%%), encoded in %.2f s%s\n", length,
           100.0 * length / data.size(), encodeSeconds, same ? "" : "  ROUND TRIP FAILED");
    printf("decode, fast route    %.0f MB/s\n", fast);
    printf("decode, careful route %.0f MB/s\n", careful);
#ifdef BENCHMARK_WITH_ZLIB
    uLongf deflated = compressBound(data.size());
    std::vector<unsigned char> z(deflated);
    compress2(z.data(), &deflated, data.data(), data.size(), 9);
    z.resize(deflated);
    double best = 1e30;
    for (int round = 0; round < 7; ++round) {
        uLongf inflated = out.size();
        start = std::chrono::steady_clock::now();
        uncompress(out.data(), &inflated, z.data(), z.size());
        double took = Seconds(start);
        if (took < best) best = took;
    }
    printf("zlib level 9          %zu bytes (%.1f%%)\n", z.size(), 100.0 * z.size() / data.size());
    printf("zlib inflate          %.0f MB/s\n", out.size() / best / 1e6);
#endif
    return same ? 0 : 1;
}
