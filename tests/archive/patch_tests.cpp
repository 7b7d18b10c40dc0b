// Patches: the digest against vectors and a second implementation, the decoder against the tests' own
// reference decoder on round trips (edit scripts whose instructions are known, and natively the encoder's
// own on generated and real inputs), damaged and hostile patches, and the file route with its faults.
#include "archive/content_digest.h"
#include "archive/patch_decoder.h"
#include "archive/patch_format.h"
#include "tests/archive/archive_fixture.h"
#include "tests/archive/patch_reference.h"
#include "tools/packer/patch_encoder.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

typedef std::vector<unsigned char> Bytes;

uint32_t Next(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

Bytes Pattern(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(i * 31 + 7);
    return bytes;
}

// Text-like bytes with repeats, so that a base has structure worth matching.
Bytes Generated(size_t size, uint32_t seed) {
    static const char* const Words[] = {
        "update ", "patch ",           "base ",     "result ",  "\x83\x51\x81\x5B\x83\x80 ",
        "0123 ",   "\x00\x00\x00\x00", "data.pak ", "\xFF\xFE "};
    Bytes bytes;
    while (bytes.size() < size) {
        const char* word = Words[Next(seed) % 9];
        size_t length = word[0] ? strlen(word) : 4;
        bytes.insert(bytes.end(), word, word + length);
        if (Next(seed) % 4 == 0) bytes.push_back(static_cast<unsigned char>(Next(seed)));
    }
    bytes.resize(size);
    return bytes;
}

// An edit script: from a base, a result and the instructions that make it, each step one of: take base
// bytes (changing some), insert new bytes, or move in the base.
struct Edit {
    enum Kind { Take, Insert, Move } kind;
    int64_t amount;       // bytes taken or inserted; the move's distance (negative: backward)
    unsigned changeEvery; // Take: one byte in this many gets a difference (0: none)
};

struct Case {
    Bytes base, result;
    std::vector<PatchInstruction> instructions;
};

Case FromEdits(const Bytes& base, const std::vector<Edit>& edits, uint32_t seed) {
    Case c;
    c.base = base;
    int64_t position = 0;
    PatchInstruction pending = {0, 0, 0};
    for (const Edit& edit : edits) {
        if (edit.kind == Edit::Move) {
            if (pending.copy || pending.insert) {
                c.instructions.push_back(pending);
                pending = {0, 0, 0};
            }
            pending.seek += edit.amount;
            position += edit.amount;
        } else if (edit.kind == Edit::Take) {
            if (pending.insert) {
                c.instructions.push_back(pending);
                pending = {0, 0, 0};
            }
            for (int64_t i = 0; i < edit.amount; ++i) {
                unsigned char byte = base[static_cast<size_t>(position + i)];
                if (edit.changeEvery && Next(seed) % edit.changeEvery == 0) byte ^= 1 + Next(seed) % 255;
                c.result.push_back(byte);
            }
            pending.copy += static_cast<uint64_t>(edit.amount);
            position += edit.amount;
        } else {
            for (int64_t i = 0; i < edit.amount; ++i)
                c.result.push_back(
                    static_cast<unsigned char>(Next(seed) % 7 == 0 ? Next(seed) : 'a' + i % 26));
            pending.insert += static_cast<uint64_t>(edit.amount);
        }
    }
    if (pending.copy || pending.insert) c.instructions.push_back(pending);
    return c;
}

Bytes MakePatch(const Case& c) {
    Bytes patch;
    WritePatch(c.base.data(), c.base.size(), DigestOfBase(c.base.data(), c.base.size()), c.result.data(),
               static_cast<uint32_t>(c.result.size()), c.instructions, patch);
    return patch;
}

// The shipped decoder in memory; the fault in *fault. A result claimed above 16 MiB gets 16 MiB of room, so
// that a damaged size costs no time here (a decoder that wrote on would fail its write).
int ApplyInMemory(const Bytes& base, const Bytes& patch, Bytes& result, PatchFault* fault) {
    PatchHeader header;
    uint32_t capacity =
        ReadPatchHeader(patch.data(), static_cast<uint32_t>(patch.size()), &header) ? header.resultSize : 0;
    if (capacity > (16u << 20)) capacity = 16u << 20;
    result.assign(capacity, 0xA5);
    return ApplyPatchInMemory(base.data(), base.size(), patch.data(), static_cast<uint32_t>(patch.size()),
                              result.data(), capacity, fault);
}

// Both decoders must turn the patch into the result.
void CheckRoundTrip(const Case& c, const Bytes& patch) {
    Bytes shipped, reference;
    PatchFault fault = PatchNoMemory;
    CHECK(ApplyInMemory(c.base, patch, shipped, &fault) == 1);
    CHECK(fault == PatchSound);
    CHECK(shipped == c.result);
    CHECK(ReferenceApply(c.base, patch, reference) == ReferenceApplied);
    CHECK(reference == c.result);
}

std::vector<Case> EditCases() {
    Bytes text = Generated(20000, 7);
    std::vector<Case> cases;
    // identical; every byte changed; empty base; empty result; both empty
    cases.push_back(FromEdits(text, {{Edit::Take, 20000, 0}}, 1));
    cases.push_back(FromEdits(text, {{Edit::Take, 20000, 1}}, 2));
    cases.push_back(FromEdits(Bytes(), {{Edit::Insert, 3000, 0}}, 3));
    cases.push_back(FromEdits(text, {}, 4));
    cases.push_back(FromEdits(Bytes(), {}, 5));
    // a program whose code moved: sparse differences; members removed, inserted and reordered
    cases.push_back(
        FromEdits(text, {{Edit::Take, 5000, 40}, {Edit::Insert, 100, 0}, {Edit::Take, 15000, 9}}, 6));
    cases.push_back(FromEdits(text,
                              {{Edit::Move, 12000, 0},
                               {Edit::Take, 8000, 0},
                               {Edit::Move, -20000, 0},
                               {Edit::Take, 6000, 200},
                               {Edit::Insert, 1, 0},
                               {Edit::Move, 1000, 0},
                               {Edit::Take, 1, 0},
                               {Edit::Insert, 70000, 0},
                               {Edit::Move, -2, 0},
                               {Edit::Take, 2, 1}},
                              7));
    // a result longer than the decoder's buffers, from a base longer than its window
    Bytes large = Generated(300000, 8);
    cases.push_back(FromEdits(large,
                              {{Edit::Take, 150000, 1000},
                               {Edit::Move, -100000, 0},
                               {Edit::Take, 200000, 0},
                               {Edit::Insert, 70000, 0},
                               {Edit::Move, 40000, 0},
                               {Edit::Take, 10000, 3}},
                              9));
    // differences right at the end of a copy, and one-byte steps
    std::vector<Edit> steps = {{Edit::Move, 100, 0}};
    for (int i = 0; i < 300; ++i) {
        steps.push_back({Edit::Take, 1 + i % 5, i % 3 == 0 ? 1u : 0u});
        steps.push_back({Edit::Insert, i % 2, 0});
        steps.push_back({Edit::Move, i % 7 == 0 ? -3 : 1, 0});
    }
    cases.push_back(FromEdits(text, steps, 10));
    return cases;
}

struct TestFiles {
    TestFolder folder;
    TestFiles() { OpenTestFolder(folder); }
    ~TestFiles() { CloseTestFolder(folder); }
    std::string Path(const char* name) const { return PathIn(folder, name); }
};

void WriteBytes(const std::string& path, const Bytes& bytes) {
    WriteTestFile(path, std::string(bytes.begin(), bytes.end()));
}

Bytes ReadBytes(const std::string& path) {
    std::string content = ReadTestFile(path);
    return Bytes(content.begin(), content.end());
}

} // namespace

TEST_CASE("the digest is XXH64 with seed 0: vectors, pieces of every size, and a second implementation") {
    struct Vector {
        size_t size;
        uint64_t digest;
    };
    // Bytes (i * 31 + 7) mod 256; computed once with another implementation of XXH64.
    const Vector vectors[] = {
        {0, 0xef46db3751d8e999ull},    {1, 0xa96c7f0ce858bbb7ull},     {3, 0x56e6957632a487f9ull},
        {4, 0xc60d15b1e3ff8f04ull},    {8, 0x3da5c7aa269683e0ull},     {31, 0x4a74f3a1a39ad4a1ull},
        {32, 0x8d57d6a4671cc43dull},   {33, 0x62c9fd21ed857664ull},    {100, 0xefa0ad2d3e70c151ull},
        {1000, 0x99594f4828043d35ull}, {65536, 0xce06607392c5113full},
    };
    for (const Vector& v : vectors) {
        CAPTURE(v.size);
        Bytes bytes = Pattern(v.size);
        CHECK(DigestOf(bytes.data(), static_cast<uint32_t>(bytes.size())) == v.digest);
        CHECK(ReferenceDigest(bytes) == v.digest);
    }
    CHECK(DigestOf("abc", 3) == 0x44bc2cf5ad770999ull);

    // Fed in pieces of every size from 1 to 70, the digest is the same as in one call.
    Bytes bytes = Pattern(1000);
    for (uint32_t piece = 1; piece <= 70; ++piece) {
        ContentDigest digest;
        StartDigest(&digest);
        for (uint32_t at = 0; at < bytes.size(); at += piece)
            AddToDigest(&digest, bytes.data() + at, at + piece <= bytes.size() ? piece : 1000 - at);
        CAPTURE(piece);
        CHECK(FinishDigest(&digest) == 0x99594f4828043d35ull);
    }
    // Every length up to 300 of generated bytes, against the reference.
    Bytes generated = Generated(300, 11);
    for (size_t size = 0; size <= generated.size(); ++size) {
        Bytes prefix(generated.begin(), generated.begin() + static_cast<ptrdiff_t>(size));
        CAPTURE(size);
        CHECK(DigestOf(prefix.data(), static_cast<uint32_t>(size)) == ReferenceDigest(prefix));
    }
}

TEST_CASE("patches of known edits decode to their result in both decoders") {
    for (const Case& c : EditCases()) {
        CAPTURE(c.base.size());
        CAPTURE(c.result.size());
        CheckRoundTrip(c, MakePatch(c));
    }
}

TEST_CASE("the encoder's own patches decode to their result in both decoders") {
    if (!PatchEncoderAvailable) {
        MESSAGE("this build has no patch encoder: its round trips are tested natively");
        return;
    }
    std::vector<Case> cases = EditCases();
    // Real-ish input: this test program's own bytes, as a program that moved by a few bytes here and there.
    Bytes program = ReadBytes(std::string("/proc/self/exe"));
    if (program.size() > 400000) program.resize(400000);
    Case moved;
    moved.base = program;
    moved.result = program;
    uint32_t seed = 12;
    for (size_t i = 0; i + 8 < moved.result.size(); i += 61 + Next(seed) % 400)
        moved.result[i] = static_cast<unsigned char>(moved.result[i] + 4);
    moved.result.insert(moved.result.begin() + 1000, program.begin() + 5000, program.begin() + 9000);
    moved.result.erase(moved.result.begin() + 200000, moved.result.begin() + 230000);
    cases.push_back(moved);
    for (Case& c : cases) {
        CAPTURE(c.base.size());
        CAPTURE(c.result.size());
        Bytes patch;
        REQUIRE(EncodePatch(c.base.data(), c.base.size(), c.result.data(),
                            static_cast<uint32_t>(c.result.size()), patch));
        CheckRoundTrip(c, patch);
    }
    // The encoder finds what moved: the program's patch is a small part of it.
    Bytes patch;
    REQUIRE(EncodePatch(moved.base.data(), moved.base.size(), moved.result.data(),
                        static_cast<uint32_t>(moved.result.size()), patch));
    CHECK(patch.size() < moved.result.size() / 20);
}

TEST_CASE("a damaged patch is refused by both decoders, and never read or written outside its buffers") {
    Bytes base = Generated(3000, 21);
    Case c = FromEdits(base,
                       {{Edit::Take, 700, 30},
                        {Edit::Insert, 40, 0},
                        {Edit::Move, -300, 0},
                        {Edit::Take, 500, 0},
                        {Edit::Move, 900, 0},
                        {Edit::Take, 400, 7}},
                       22);
    Bytes patch = MakePatch(c);
    CheckRoundTrip(c, patch);
    MESSAGE("the damaged patch has " << patch.size() << " bytes");
    uint64_t baseDigest = DigestOf(base.data(), static_cast<uint32_t>(base.size()));

    SUBCASE("every truncation") {
        for (size_t size = 0; size < patch.size(); ++size) {
            CAPTURE(size);
            // A copy of its own, so that the sanitizer sees a read past its end.
            Bytes cut(patch.begin(), patch.begin() + static_cast<ptrdiff_t>(size));
            Bytes shipped, reference;
            PatchFault fault = PatchSound;
            CHECK(ApplyInMemory(base, cut, shipped, &fault) == 0);
            CHECK(fault == PatchDamaged);
            CHECK(ReferenceApply(base, cut, reference) != ReferenceApplied);
        }
    }
    SUBCASE("a count far beyond the patch's bytes stops where the patch ends") {
        // An insert of 1 MiB cut after its first bytes, decoded into 64 KiB: a decoder that went on making
        // bytes of nothing would fail its write there instead.
        Bytes result = Generated(1 << 20, 23);
        Bytes whole;
        WritePatch(base.data(), base.size(), baseDigest, result.data(), 1 << 20, {{0, 0, 1 << 20}}, whole);
        Bytes cut(whole.begin(), whole.begin() + PatchHeaderSize + 64);
        Bytes shipped(64 * 1024);
        PatchFault fault = PatchSound;
        CHECK(ApplyPatchInMemory(base.data(), base.size(), cut.data(), static_cast<uint32_t>(cut.size()),
                                 shipped.data(), static_cast<uint32_t>(shipped.size()), &fault) == 0);
        CHECK(fault == PatchDamaged);
    }
    SUBCASE("flipped bytes in each field") {
        int refusedInBody = 0;
        for (size_t at = 0; at < patch.size(); ++at) {
            // Each byte flipped in its lowest bit, its highest and all of them.
            for (unsigned mask : {0x01u, 0x80u, 0xFFu}) {
                CAPTURE(at);
                CAPTURE(mask);
                Bytes flipped = patch;
                flipped[at] ^= static_cast<unsigned char>(mask);
                Bytes shipped, reference;
                PatchFault fault = PatchSound;
                int applied = ApplyInMemory(base, flipped, shipped, &fault);
                ReferenceVerdict verdict = ReferenceApply(base, flipped, reference);
                CHECK((applied == 1) == (verdict == ReferenceApplied));
                PatchHeader header;
                if (at < PatchBaseDigestAt) {
                    // The magic, then the base's size: not a patch, or not this base.
                    CHECK(fault == (at < PatchBaseSizeAt ? PatchDamaged : PatchBaseMismatch));
                } else if (at < PatchResultSizeAt) {
                    // The base's digest is the base check's to refuse; the result still comes out whole.
                    CHECK(applied == 1);
                    CHECK(ReadPatchHeader(flipped.data(), static_cast<uint32_t>(flipped.size()), &header));
                    CHECK(header.baseDigest != baseDigest);
                } else if (at < PatchHeaderSize) {
                    CHECK(applied == 0);
                    CHECK(fault == PatchDamaged);
                } else if (applied) {
                    // A byte the coding did not need in the end changes nothing.
                    CHECK(shipped == c.result);
                } else {
                    CHECK(fault == PatchDamaged);
                    ++refusedInBody;
                }
            }
        }
        // Only the flushed bytes at the end can be needless.
        CHECK(refusedInBody >= 3 * static_cast<int>(patch.size() - PatchHeaderSize - 5));
    }
}

TEST_CASE("hostile instructions are refused, though the digests they carry are right") {
    // The encoder reads wherever the instructions point: the base is padded on both sides, and the result
    // is what such instructions would make, so that only the decoder's own checks can refuse them.
    Bytes base = Generated(1000, 31);
    Bytes padded(4000, 'q');
    for (size_t i = 0; i < 1000; ++i) {
        padded[i] = 'p';
        padded[1000 + i] = base[i];
    }
    const unsigned char* paddedBase = padded.data() + 1000;
    uint64_t baseDigest = DigestOf(base.data(), static_cast<uint32_t>(base.size()));
    struct Hostile {
        const char* what;
        std::vector<PatchInstruction> instructions;
        uint32_t resultSize;
    };
    const Hostile cases[] = {
        {"a copy past the base's end", {{0, 1001, 0}}, 1001},
        {"a move past the base's end", {{1001, 1, 0}}, 1},
        {"a move before the base's start", {{100, 10, 0}, {-111, 1, 0}}, 11},
        {"an instruction that makes nothing", {{0, 0, 0}, {0, 5, 0}}, 5},
        {"more than the result holds", {{0, 10, 0}, {0, 10, 0}}, 15},
        {"an insert past the result's end", {{0, 0, 20}}, 10},
        {"no instructions for a result", {}, 10},
    };
    for (const Hostile& h : cases) {
        CAPTURE(h.what);
        // The bytes the instructions make, from the padded base, as far as they go.
        Bytes made;
        int64_t position = 0;
        for (const PatchInstruction& instruction : h.instructions) {
            position += instruction.seek;
            for (uint64_t i = 0; i < instruction.copy; ++i)
                made.push_back(static_cast<unsigned char>(paddedBase[position++] + (i % 3 == 0)));
            for (uint64_t i = 0; i < instruction.insert; ++i)
                made.push_back('i');
        }
        made.resize(2000, 'r');
        Bytes patch;
        WritePatch(paddedBase, base.size(), baseDigest, made.data(), h.resultSize, h.instructions, patch);
        Bytes shipped, reference;
        PatchFault fault = PatchSound;
        CHECK(ApplyInMemory(base, patch, shipped, &fault) == 0);
        CHECK(fault == PatchDamaged);
        CHECK(ReferenceApply(base, patch, reference) != ReferenceApplied);
    }
}

TEST_CASE("applying through files: the result, and every fault with nothing left behind") {
    TestFiles files;
    Bytes base = Generated(200000, 41);
    Case c = FromEdits(
        base,
        {{Edit::Take, 100000, 50}, {Edit::Insert, 5000, 0}, {Edit::Move, -50000, 0}, {Edit::Take, 150000, 0}},
        42);
    Bytes patch = MakePatch(c);
    uint32_t size = static_cast<uint32_t>(patch.size());
    std::string old = files.Path("DATA.PAK"), made = files.Path("DATA.PAK.~up0");
    WriteBytes(old, base);
    PatchFault fault = PatchNoMemory;

    SUBCASE("the right base") {
        CHECK(CheckPatchBase(old.c_str(), patch.data(), size, &fault) == 1);
        CHECK(fault == PatchSound);
        FILETIME time = MakeTime(133000000000000000ull);
        CHECK(ApplyPatch(old.c_str(), patch.data(), size, made.c_str(), &fault) == 1);
        CHECK(fault == PatchSound);
        CHECK(ReadBytes(made) == c.result);
        // Stamped as every prepared file is.
        CHECK(StampFileTimes(made.c_str(), &time) == 1);
        TestFileTimes times = GetTestFileTimes(made);
        CHECK(times.write == 133000000000000000ull);
        CHECK(times.creation == 133000000000000000ull);
        CHECK(ReadBytes(old) == base);
    }
    SUBCASE("no base") {
        DeleteFileA(old.c_str());
        CHECK(CheckPatchBase(old.c_str(), patch.data(), size, &fault) == 0);
        CHECK(fault == PatchBaseMissing);
        CHECK(ApplyPatch(old.c_str(), patch.data(), size, made.c_str(), &fault) == 0);
        CHECK(fault == PatchBaseMissing);
        CHECK(ReadTestFile(made) == "<missing>");
    }
    SUBCASE("a base of another size, and one of the same size changed by a player") {
        Bytes longer = base;
        longer.push_back(0);
        WriteBytes(old, longer);
        CHECK(CheckPatchBase(old.c_str(), patch.data(), size, &fault) == 0);
        CHECK(fault == PatchBaseMismatch);
        CHECK(ApplyPatch(old.c_str(), patch.data(), size, made.c_str(), &fault) == 0);
        CHECK(fault == PatchBaseMismatch);
        Bytes changed = base;
        changed[150000] ^= 0x20;
        WriteBytes(old, changed);
        CHECK(CheckPatchBase(old.c_str(), patch.data(), size, &fault) == 0);
        CHECK(fault == PatchBaseMismatch);
        CHECK(ApplyPatch(old.c_str(), patch.data(), size, made.c_str(), &fault) == 0);
        CHECK(fault == PatchBaseMismatch);
        CHECK(ReadTestFile(made) == "<missing>");
        CHECK(ReadBytes(old) == changed);
    }
    SUBCASE("a damaged patch against the right base") {
        Bytes damaged = patch;
        damaged[damaged.size() / 2] ^= 0x10;
        CHECK(ApplyPatch(old.c_str(), damaged.data(), size, made.c_str(), &fault) == 0);
        CHECK(fault == PatchDamaged);
        CHECK(ReadTestFile(made) == "<missing>");
        CHECK(CheckPatchBase(old.c_str(), nullptr, 0, &fault) == 0);
        CHECK(fault == PatchDamaged);
    }
    SUBCASE("a file already where the result goes is not overwritten") {
        WriteTestFile(made, "somebody's file");
        CHECK(ApplyPatch(old.c_str(), patch.data(), size, made.c_str(), &fault) == 0);
        CHECK(fault == PatchWriteFailed);
        CHECK(ReadTestFile(made) == "somebody's file");
    }
}

TEST_CASE("memory for applying is bounded whatever the sizes") {
    CHECK(PatchApplyMemory < 1024 * 1024);
}

#ifndef _WIN32
TEST_CASE("a base past 4 GiB is read at 64-bit positions") {
    TestFiles files;
    std::string old = files.Path("HUGE.PAK"), made = files.Path("HUGE.NEW");
    std::string host = std::string(files.folder.host) + "/HUGE.PAK";
    const uint64_t size = (uint64_t(1) << 32) + 70000;
    int descriptor = open(host.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    REQUIRE(descriptor >= 0);
    if (ftruncate(descriptor, static_cast<off_t>(size)) != 0) {
        close(descriptor);
        MESSAGE("no room for a sparse file of 4 GiB here");
        return;
    }
    const char marks[] = "beyond four gibibytes";
    REQUIRE(pwrite(descriptor, marks, sizeof marks, static_cast<off_t>(size - 5000)) == sizeof marks);
    REQUIRE(pwrite(descriptor, "start", 5, 0) == 5);
    void* mapped = mmap(nullptr, size, PROT_READ, MAP_SHARED, descriptor, 0);
    REQUIRE(mapped != MAP_FAILED);
    const unsigned char* base = static_cast<const unsigned char*>(mapped);
    // The marks from beyond 4 GiB with a difference, then the start after a move back of 4 GiB and more.
    Bytes result(base + size - 5000, base + size - 5000 + sizeof marks);
    result[3] = 'Y';
    result.insert(result.end(), base, base + 5);
    result.push_back('!');
    std::vector<PatchInstruction> instructions = {
        {static_cast<int64_t>(size - 5000), sizeof marks, 0},
        {-static_cast<int64_t>(size - 5000 + sizeof marks), 5, 1},
    };
    Bytes patch;
    WritePatch(base, size, 0, result.data(), static_cast<uint32_t>(result.size()), instructions, patch);
    munmap(mapped, size);
    close(descriptor);
    PatchFault fault = PatchNoMemory;
    CHECK(ApplyPatch(old.c_str(), patch.data(), static_cast<uint32_t>(patch.size()), made.c_str(), &fault) ==
          1);
    CHECK(fault == PatchSound);
    CHECK(ReadBytes(made) == result);
}
#endif
