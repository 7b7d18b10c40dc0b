// The stream codec beside zlib level 9 and LZ4 (HC level 12), file by file and over the whole corpus, in
// one process: stream sizes, encode speed, and decode speed with memcpy as the ceiling. Every codec works
// on the same bytes, each file on its own as an archive entry would be. Decoding is timed in interleaved
// rounds (each round runs every codec on every file, starting with a different codec each time) and the
// median round is reported; encoding likewise, over fewer rounds. Times are the thread's processor time;
// speeds are MB (10^6 bytes) of uncompressed data per second. benchmarks/codec-benchmark.sh builds the corpus and runs this.
// Usage: codec_benchmark [--rounds N] [--encode-rounds N] FILE...
//        codec_benchmark --write-image PATH   (the corpus's generated 640x480 picture, as a 24-bit BMP)
#include "archive/stream_decoder.h"
#include "tools/packer/stream_encoder.h"

#include <lz4.h>
#include <lz4hc.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

enum Codec { Ours, Zlib, Lz4, Memcpy, CodecCount };
const char* const CodecNames[CodecCount] = {"ours", "zlib", "lz4", "memcpy"};

struct Sample {
    std::string name;
    Bytes data;
    Bytes stream[CodecCount]; // Memcpy: unused
    std::vector<double> encodeSeconds[CodecCount];
    std::vector<double> decodeSeconds[CodecCount];
};

// The thread's processor time: on a shared machine, time spent waiting for a processor is not the
// codec's, and wall-clock medians still carry it.
double Now() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

uint32_t Next(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// A picture of the kind a game update carries: a sky gradient, flat-coloured shapes with hard edges, a
// tiled pattern, text-like strokes and a photographic patch with noise. Fixed seed: the same bytes always.
Bytes Picture() {
    const int width = 640, height = 480;
    Bytes bmp(54 + width * height * 3, 0);
    auto put16 = [&](size_t at, uint32_t v) { bmp[at] = v & 255, bmp[at + 1] = v >> 8 & 255; };
    auto put32 = [&](size_t at, uint32_t v) { put16(at, v & 0xFFFF), put16(at + 2, v >> 16); };
    bmp[0] = 'B', bmp[1] = 'M';
    put32(2, static_cast<uint32_t>(bmp.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, width);
    put32(22, height);
    put16(26, 1);
    put16(28, 24);
    put32(34, width * height * 3);
    put32(38, 2835);
    put32(42, 2835);
    uint32_t seed = 20260101;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int r = 40 + y * 120 / height, g = 90 + y * 100 / height, b = 200 - y * 60 / height;
            int dx = x - 460, dy = y - 300;
            if (dx * dx + dy * dy < 90 * 90) r = 230, g = 190, b = 40;
            if (x > 60 && x < 300 && y > 40 && y < 200) r = 120, g = 60, b = 30;
            if (y < 80 && ((x / 16 + y / 16) % 2)) r = 200, g = 200, b = 210;
            if (x > 80 && x < 280 && y > 220 && y < 260 && (x % 12 < 2 || (y % 9 == 0 && x % 12 < 8)))
                r = g = b = 250;
            if (x > 340 && x < 620 && y > 20 && y < 160) {
                int noise = static_cast<int>(Next(seed) % 48) - 24;
                r = 90 + (x - 340) / 3 + noise, g = 120 + (y - 20) / 2 + noise / 2, b = 70 + noise;
            }
            // BMP rows run bottom-up, pixels blue first.
            unsigned char* pixel = &bmp[54 + ((height - 1 - y) * width + x) * 3];
            pixel[0] = static_cast<unsigned char>(std::min(255, std::max(0, b)));
            pixel[1] = static_cast<unsigned char>(std::min(255, std::max(0, g)));
            pixel[2] = static_cast<unsigned char>(std::min(255, std::max(0, r)));
        }
    }
    return bmp;
}

bool ReadFile(const char* path, Bytes& data) {
    FILE* f = fopen(path, "rb");
    if (!f) return false;
    unsigned char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, f)) > 0)
        data.insert(data.end(), buffer, buffer + got);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

bool Encode(Codec codec, const Bytes& data, Bytes& stream) {
    if (codec == Ours) {
        stream.resize(CompressBound(data.size()));
        size_t length = CompressBlock(data.data(), data.size(), stream.data(), stream.size());
        stream.resize(length);
        return length > 0;
    }
    if (codec == Zlib) {
        uLongf length = compressBound(data.size());
        stream.resize(length);
        bool ok = compress2(stream.data(), &length, data.data(), data.size(), 9) == Z_OK;
        stream.resize(length);
        return ok;
    }
    if (codec == Lz4) {
        stream.resize(LZ4_compressBound(static_cast<int>(data.size())));
        int length = LZ4_compress_HC(reinterpret_cast<const char*>(data.data()),
                                     reinterpret_cast<char*>(stream.data()), static_cast<int>(data.size()),
                                     static_cast<int>(stream.size()), 12);
        stream.resize(length > 0 ? length : 0);
        return length > 0;
    }
    return true;
}

bool Decode(Codec codec, const Sample& sample, Bytes& out) {
    const Bytes& stream = sample.stream[codec];
    if (codec == Ours) {
        return DecompressBlock(out.data(), static_cast<uint32_t>(out.size()), stream.data(),
                               static_cast<uint32_t>(stream.size()), nullptr) == 1;
    }
    if (codec == Zlib) {
        uLongf length = out.size();
        return uncompress(out.data(), &length, stream.data(), stream.size()) == Z_OK && length == out.size();
    }
    if (codec == Lz4) {
        return LZ4_decompress_safe(reinterpret_cast<const char*>(stream.data()),
                                   reinterpret_cast<char*>(out.data()), static_cast<int>(stream.size()),
                                   static_cast<int>(out.size())) == static_cast<int>(out.size());
    }
    memcpy(out.data(), sample.data.data(), out.size());
    return true;
}

double Speed(size_t bytes, double seconds) {
    return seconds > 0 ? bytes / seconds / 1e6 : 0;
}

void PrintRow(const char* name, size_t size, const size_t streams[CodecCount],
              const double encode[CodecCount], const double decode[CodecCount]) {
    printf("%-16s %10zu  %6.2f %6.2f %6.2f   %6.1f %6.1f %6.1f   %6.0f %6.0f %6.0f %6.0f   %5.2f\n", name,
           size, 100.0 * streams[Ours] / size, 100.0 * streams[Zlib] / size, 100.0 * streams[Lz4] / size,
           Speed(size, encode[Ours]), Speed(size, encode[Zlib]), Speed(size, encode[Lz4]),
           Speed(size, decode[Ours]), Speed(size, decode[Zlib]), Speed(size, decode[Lz4]),
           Speed(size, decode[Memcpy]), decode[Zlib] / decode[Ours]);
}

} // namespace

int main(int argc, char** argv) {
#if defined(__SANITIZE_ADDRESS__)
    fprintf(stderr, "warning: built with AddressSanitizer; figures are not meaningful\n");
#endif
    int rounds = 21, encodeRounds = 3;
    std::vector<Sample> samples;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--rounds") && i + 1 < argc) {
            rounds = std::max(1, atoi(argv[++i]));
        } else if (!strcmp(argv[i], "--encode-rounds") && i + 1 < argc) {
            encodeRounds = std::max(1, atoi(argv[++i]));
        } else if (!strcmp(argv[i], "--write-image") && i + 1 < argc) {
            Bytes picture = Picture();
            FILE* f = fopen(argv[++i], "wb");
            bool ok = f && fwrite(picture.data(), 1, picture.size(), f) == picture.size();
            if (f) ok = fclose(f) == 0 && ok;
            return ok ? 0 : 2;
        } else {
            Sample sample;
            const char* slash = strrchr(argv[i], '/');
            sample.name = slash ? slash + 1 : argv[i];
            if (!ReadFile(argv[i], sample.data) || sample.data.empty() || sample.data.size() > 0x7FFF0000u) {
                fprintf(stderr, "cannot read %s (or it is empty or too large)\n", argv[i]);
                return 2;
            }
            samples.push_back(std::move(sample));
        }
    }
    if (samples.empty()) {
        fprintf(stderr, "usage: codec_benchmark [--rounds N] [--encode-rounds N] FILE...\n");
        return 2;
    }

    int failures = 0;
    for (int round = 0; round < encodeRounds; ++round) {
        for (Sample& sample : samples) {
            for (int k = 0; k < 3; ++k) {
                Codec codec = static_cast<Codec>((round + k) % 3);
                double start = Now();
                bool ok = Encode(codec, sample.data, sample.stream[codec]);
                sample.encodeSeconds[codec].push_back(Now() - start);
                if (!ok)
                    ++failures,
                        fprintf(stderr, "%s: %s failed to encode\n", sample.name.c_str(), CodecNames[codec]);
            }
        }
    }
    std::vector<double> roundTotals[CodecCount];
    for (int round = 0; round < rounds; ++round) {
        double total[CodecCount] = {0, 0, 0, 0};
        for (Sample& sample : samples) {
            Bytes out(sample.data.size());
            for (int k = 0; k < CodecCount; ++k) {
                Codec codec = static_cast<Codec>((round + k) % CodecCount);
                memset(out.data(), 0, out.size());
                double start = Now();
                bool ok = Decode(codec, sample, out);
                double took = Now() - start;
                sample.decodeSeconds[codec].push_back(took);
                total[codec] += took;
                if (!ok || out != sample.data) {
                    ++failures;
                    fprintf(stderr, "%s: %s did not give the original bytes back\n", sample.name.c_str(),
                            CodecNames[codec]);
                }
            }
        }
        for (int codec = 0; codec < CodecCount; ++codec)
            roundTotals[codec].push_back(total[codec]);
    }

    printf("%d decode rounds, %d encode rounds, medians; sizes in %% of the input, speeds in MB/s of input\n",
           rounds, encodeRounds);
    printf("%-16s %10s  %-20s   %-20s   %-27s   %s\n", "", "", "stream size %", "encode MB/s", "decode MB/s",
           "decode");
    printf("%-16s %10s  %6s %6s %6s   %6s %6s %6s   %6s %6s %6s %6s   %5s\n", "file", "bytes", "ours",
           "zlib9", "lz4hc", "ours", "zlib9", "lz4hc", "ours", "inflat", "lz4", "memcpy", "ours/inflate");
    size_t totalSize = 0, totalStreams[CodecCount] = {0, 0, 0, 0};
    std::vector<double> encodeTotals[CodecCount];
    for (int codec = 0; codec < CodecCount; ++codec)
        encodeTotals[codec].assign(encodeRounds, 0);
    for (const Sample& sample : samples) {
        size_t streams[CodecCount];
        double encode[CodecCount], decode[CodecCount];
        for (int codec = 0; codec < CodecCount; ++codec) {
            streams[codec] = sample.stream[codec].size();
            encode[codec] = Median(sample.encodeSeconds[codec]);
            decode[codec] = Median(sample.decodeSeconds[codec]);
            totalStreams[codec] += streams[codec];
            for (int round = 0; round < encodeRounds && codec < Memcpy; ++round)
                encodeTotals[codec][round] += sample.encodeSeconds[codec][round];
        }
        totalSize += sample.data.size();
        PrintRow(sample.name.c_str(), sample.data.size(), streams, encode, decode);
    }
    double encode[CodecCount], decode[CodecCount];
    for (int codec = 0; codec < CodecCount; ++codec) {
        encode[codec] = Median(encodeTotals[codec]);
        decode[codec] = Median(roundTotals[codec]);
    }
    PrintRow("whole corpus", totalSize, totalStreams, encode, decode);
    printf("stream bytes, whole corpus: ours %zu, zlib -9 %zu, lz4hc -12 %zu\n", totalStreams[Ours],
           totalStreams[Zlib], totalStreams[Lz4]);
    if (failures) printf("%d FAILURES\n", failures);
    return failures ? 1 : 0;
}
