// Measures one pair of files: the patch from OLD to NEW (its size, the time to make it), the whole file
// compressed as the archive stores it, applying the patch natively through the updater's file route (old
// file read at its positions, new file written and flushed) against writing the whole file from its
// compressed entry, and the digest's speed. With a third argument, writes the patch there. Prints one line
// of key=value pairs for patch-benchmark.sh. Peak memory comes from the script (/usr/bin/time).
#include "archive/content_digest.h"
#include "archive/patch_decoder.h"
#include "archive/stream_decoder.h"
#include "tools/packer/patch_encoder.h"
#include "tools/packer/stream_encoder.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::vector<unsigned char> ReadAll(const char* path) {
    std::vector<unsigned char> bytes;
    FILE* file = fopen(path, "rb");
    if (!file) {
        fprintf(stderr, "patch_benchmark: cannot read %s\n", path);
        exit(1);
    }
    unsigned char buffer[1 << 16];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    fclose(file);
    return bytes;
}

// Writes the whole file from its compressed entry as the updater does: decode into a block, one write,
// flushed.
double WholeWrite(const std::vector<unsigned char>& stream, uint32_t size, const char* path) {
    double start = Now();
    unsigned char* content = static_cast<unsigned char*>(malloc(size ? size : 1));
    if (!DecompressBlock(content, size, stream.data(), static_cast<uint32_t>(stream.size()), nullptr)) {
        fprintf(stderr, "patch_benchmark: the whole stream does not decode\n");
        exit(1);
    }
    FILE* file = fopen(path, "wb");
    fwrite(content, 1, size, file);
    fflush(file);
    fsync(fileno(file));
    fclose(file);
    free(content);
    return Now() - start;
}

void PutNumber(std::vector<unsigned char>& out, uint64_t value) {
    do {
        out.push_back(static_cast<unsigned char>((value & 127) | (value > 127 ? 128 : 0)));
        value >>= 7;
    } while (value);
}

size_t LzBlocks(const std::vector<unsigned char>& stream, size_t block) {
    size_t total = 0;
    for (size_t at = 0; at < stream.size(); at += block) {
        size_t size = stream.size() - at < block ? stream.size() - at : block;
        std::vector<unsigned char> out(CompressBound(size));
        size_t length = CompressBlock(stream.data() + at, size, out.data(), out.size());
        total += length && length < size ? length : size;
    }
    return total;
}

// What the patch's layout costs: the one adaptive stream against the same coding restarted every block of
// result (independent blocks), and against the archive's LZ stream over the three plain streams of the
// same instructions (numbers, differences with their zeros, inserted bytes), whole (what a resumable
// decoder over its 8 KiB window would read) and in independent blocks of 64 KiB.
void Layouts(const std::vector<unsigned char>& base, const std::vector<unsigned char>& result) {
    std::vector<PatchInstruction> instructions;
    FindPatchInstructions(base.data(), base.size(), result.data(), static_cast<uint32_t>(result.size()),
                          instructions);
    uint64_t digest = DigestOfBase(base.data(), base.size());
    std::vector<unsigned char> patch;
    WritePatch(base.data(), base.size(), digest, result.data(), static_cast<uint32_t>(result.size()),
               instructions, patch);
    std::vector<unsigned char> numbers, differences, inserted;
    uint64_t position = 0, produced = 0;
    for (const PatchInstruction& instruction : instructions) {
        PutNumber(numbers, instruction.seek < 0 ? (0 - static_cast<uint64_t>(instruction.seek)) * 2 + 1
                                                : static_cast<uint64_t>(instruction.seek) * 2);
        PutNumber(numbers, instruction.copy);
        PutNumber(numbers, instruction.insert);
        position += static_cast<uint64_t>(instruction.seek);
        for (uint64_t i = 0; i < instruction.copy; ++i)
            differences.push_back(static_cast<unsigned char>(result[produced + i] - base[position + i]));
        position += instruction.copy;
        produced += instruction.copy;
        inserted.insert(inserted.end(), result.begin() + static_cast<ptrdiff_t>(produced),
                        result.begin() + static_cast<ptrdiff_t>(produced + instruction.insert));
        produced += instruction.insert;
    }
    size_t lzWhole =
        LzBlocks(numbers, SIZE_MAX) + LzBlocks(differences, SIZE_MAX) + LzBlocks(inserted, SIZE_MAX);
    size_t lzBlocks = LzBlocks(numbers, 65536) + LzBlocks(differences, 65536) + LzBlocks(inserted, 65536);
    // The range coder restarted for each run of instructions covering about 1 MiB of the result.
    size_t restarted = 0;
    std::vector<PatchInstruction> group;
    uint64_t groupStart = 0;
    position = 0;
    produced = 0;
    for (size_t i = 0; i <= instructions.size(); ++i) {
        if (i == instructions.size() || (produced - groupStart >= (1u << 20) && !group.empty())) {
            std::vector<unsigned char> part;
            WritePatch(base.data(), base.size(), digest, result.data() + groupStart,
                       static_cast<uint32_t>(produced - groupStart), group, part);
            restarted += part.size() - 32;
            group.clear();
            groupStart = produced;
            if (i == instructions.size()) break;
        }
        PatchInstruction instruction = instructions[i];
        position += static_cast<uint64_t>(instruction.seek);
        if (group.empty()) instruction.seek = static_cast<int64_t>(position);
        group.push_back(instruction);
        position += instruction.copy;
        produced += instruction.copy + instruction.insert;
    }
    printf("layout: one adaptive stream %zu; restarted every 1 MiB of result %zu; archive LZ of the plain "
           "streams whole %zu, in 64 KiB blocks %zu\n",
           patch.size() - 32, restarted, lzWhole, lzBlocks);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && !strcmp(argv[1], "--layouts")) {
        std::vector<unsigned char> base = ReadAll(argv[2]), result = ReadAll(argv[3]);
        Layouts(base, result);
        return 0;
    }
    if (argc < 3) {
        fprintf(stderr, "usage: patch_benchmark OLD NEW [PATCH_OUT]\n");
        return 2;
    }
    std::vector<unsigned char> base = ReadAll(argv[1]), result = ReadAll(argv[2]);
    double start = Now();
    std::vector<unsigned char> patch;
    if (!EncodePatch(base.data(), base.size(), result.data(), static_cast<uint32_t>(result.size()), patch)) {
        fprintf(stderr, "patch_benchmark: no patch made\n");
        return 1;
    }
    double encodeSeconds = Now() - start;
    if (argc > 3) {
        FILE* out = fopen(argv[3], "wb");
        fwrite(patch.data(), 1, patch.size(), out);
        fclose(out);
    }

    std::vector<unsigned char> stream(CompressBound(result.size()));
    start = Now();
    stream.resize(CompressBlock(result.data(), result.size(), stream.data(), stream.size()));
    double compressSeconds = Now() - start;

    // Natively through the file route, each measured twice and the shorter kept: the old file is in the
    // page cache either way, as it is after the installation has been used.
    std::string scratch = std::string(argc > 3 ? argv[3] : "/tmp/patch-benchmark") + ".applied";
    double applySeconds = 1e9, wholeSeconds = 1e9;
    for (int round = 0; round < 2; ++round) {
        unlink(scratch.c_str());
        PatchFault fault;
        start = Now();
        if (!ApplyPatch(argv[1], patch.data(), static_cast<uint32_t>(patch.size()), scratch.c_str(),
                        &fault)) {
            fprintf(stderr, "patch_benchmark: the patch does not apply (fault %d)\n", fault);
            return 1;
        }
        double seconds = Now() - start;
        applySeconds = seconds < applySeconds ? seconds : applySeconds;
        unlink(scratch.c_str());
        seconds = WholeWrite(stream, static_cast<uint32_t>(result.size()), scratch.c_str());
        wholeSeconds = seconds < wholeSeconds ? seconds : wholeSeconds;
    }
    std::vector<unsigned char> applied = ReadAll(scratch.c_str());
    unlink(scratch.c_str());
    if (applied != result) {
        fprintf(stderr, "patch_benchmark: whole write differs\n");
        return 1;
    }
    // The patch applied in memory must give the same bytes too.
    std::vector<unsigned char> inMemory(result.size());
    PatchFault fault;
    if (!ApplyPatchInMemory(base.data(), base.size(), patch.data(), static_cast<uint32_t>(patch.size()),
                            inMemory.data(), static_cast<uint32_t>(inMemory.size()), &fault) ||
        inMemory != result) {
        fprintf(stderr, "patch_benchmark: the patch applied in memory differs\n");
        return 1;
    }
    start = Now();
    volatile uint64_t digest = DigestOf(result.data(), static_cast<uint32_t>(result.size()));
    (void)digest;
    double digestSeconds = Now() - start;

    printf(
        "old=%zu new=%zu patch=%zu whole=%zu encode_s=%.3f compress_s=%.3f apply_s=%.3f whole_write_s=%.3f "
        "digest_s=%.4f digest_MBps=%.0f\n",
        base.size(), result.size(), patch.size(),
        stream.size() < result.size() ? stream.size() : result.size(), encodeSeconds, compressSeconds,
        applySeconds, wholeSeconds, digestSeconds,
        result.size() / 1e6 / (digestSeconds > 0 ? digestSeconds : 1e-9));
    return 0;
}
