// The check of the updater's own file, natively, through the host layer's file calls as the updater makes
// them: its sum agrees with the resource writer's checksum for files cut into pieces anywhere; a small
// updater built by updpack passes, and fails with every single byte changed in turn, with every cut in its
// last kilobyte and at other places, and with bytes appended; a program without a checksum is not checked.
#include "app/program_check.h"
#include "tests/updpack/updpack_test_support.h"
#include "tools/pe/pe_resources.h"
#include "tools/updpack/updpack.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include <doctest/doctest.h>

namespace {
const char* const Stub = UPDATER_STUB;

// An updater built from a folder with a compressible and an incompressible file of the given size.
std::string BuildSmallUpdater(const ScratchFolder& scratch, size_t randomBytes) {
    std::string source = scratch / "source";
    REQUIRE(mkdir(source.c_str(), 0777) == 0);
    WriteHostFile(source + "/UPDATE.INI",
                  "[SETUP]\r\nCompanyName=C\r\nGameTitle=T\r\nGameClass=G\r\nGameDir=D\r\n"
                  "[UPDATE]\r\nUpdateFile00=text.txt\r\nUpdateFile01=noise.dat\r\n");
    WriteHostFile(source + "/text.txt", std::string(3000, 'a') + "the end\r\n");
    std::mt19937 random(19);
    std::string noise(randomBytes, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    WriteHostFile(source + "/noise.dat", noise);
    std::string program = scratch / "update.exe";
    std::string output;
    REQUIRE(CaptureOutput(output, [&] { return BuildUpdater(program.c_str(), source.c_str(), Stub, 0); }));
    return program;
}

// Checks the file at path as the updater checks its own: through CreateFileA and ReadFile.
struct FileChecker {
    HANDLE file;
    explicit FileChecker(const std::string& path) {
        file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        REQUIRE(file != INVALID_HANDLE_VALUE);
    }
    ~FileChecker() { CloseHandle(file); }
    int Check(ProgramCheck* check) {
        REQUIRE(SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0);
        return CheckProgramFile(file, check);
    }
};

// A file opened for changing bytes in place while the checker reads it.
struct Patcher {
    int descriptor;
    explicit Patcher(const std::string& path) : descriptor(open(path.c_str(), O_RDWR)) {
        REQUIRE(descriptor >= 0);
    }
    ~Patcher() { close(descriptor); }
    void Put(size_t at, unsigned char value) { REQUIRE(pwrite(descriptor, &value, 1, off_t(at)) == 1); }
    void Cut(size_t size) { REQUIRE(ftruncate(descriptor, off_t(size)) == 0); }
};
} // namespace

TEST_CASE("the sum is the resource writer's checksum, whatever pieces the file comes in") {
    std::mt19937 random(7);
    // Program-like images: a header whose checksum field lies at an even place, then random bytes, of
    // odd and even lengths; and images of zeros, whose sum is the one case where 0 and 0xFFFF differ.
    for (size_t size : {size_t(512), size_t(513), size_t(4096), size_t(65537), size_t(200001)}) {
        for (int fill = 0; fill < 3; ++fill) {
            Bytes image(size, 0);
            for (unsigned char& byte : image)
                byte = fill == 0 ? static_cast<unsigned char>(random()) : fill == 1 ? 0xFF : 0;
            image[0] = 'M';
            image[1] = 'Z';
            PutU32(image, 0x3C, 0x80);
            memcpy(&image[0x80], "PE\0\0", 4);
            PutU32(image, 0x80 + 4 + 2, 0);       // no sections
            PutU32(image, 0x80 + 4 + 16, 0xE0);   // the optional header's size
            PutU32(image, 0x80 + 24, 0x10B);      // PE32
            PutU32(image, 0x80 + 24 + 96 - 4, 0); // no data directories
            CAPTURE(size);
            CAPTURE(fill);
            uint32_t expected = PeChecksum(image.data(), image.size());
            ProgramCheck whole;
            CheckProgramImage(image.data(), image.size(), &whole);
            REQUIRE(whole.headersRead == 1);
            CHECK(whole.checksumOffset == 0x80 + 24 + 64);
            CHECK(whole.checksum == expected);
            for (size_t piece : {size_t(1), size_t(2), size_t(3), size_t(0x80 + 24 + 64 + 1), size_t(4093)}) {
                CAPTURE(piece);
                ProgramCheck pieces;
                BeginProgramCheck(&pieces);
                // The first piece holds the headers, as the updater's chunks do.
                size_t first = size < 1024 ? size : 1024;
                AddProgramBytes(&pieces, image.data(), first);
                for (size_t at = first; at < size; at += piece)
                    AddProgramBytes(&pieces, image.data() + at, size - at < piece ? size - at : piece);
                FinishProgramCheck(&pieces);
                CHECK(pieces.checksum == expected);
            }
        }
    }
}

TEST_CASE("a built updater passes, and fails with any one byte changed") {
    ScratchFolder scratch;
    std::string program = BuildSmallUpdater(scratch, 2000);
    Bytes original;
    REQUIRE(ReadHostFile(program, original));
    FileChecker checker(program);
    ProgramCheck check;
    REQUIRE(checker.Check(&check) == 1);
    CHECK(check.storedChecksum != 0);
    CHECK(check.expectedSize == original.size());

    Patcher patcher(program);
    size_t passed = 0;
    for (size_t at = 0; at < original.size(); ++at) {
        // The lowest bit and the highest: the smallest and the largest change of a word.
        for (unsigned char flip : {0x01, 0x80}) {
            patcher.Put(at, original[at] ^ flip);
            if (checker.Check(&check) != 0) {
                ++passed;
                FAIL_CHECK("byte " << at << " changed by " << int(flip) << " passed");
            }
        }
        patcher.Put(at, original[at]);
    }
    CHECK(passed == 0);
    // Every value at the checksum field itself: none but the true one passes, not even a field made 0 there.
    size_t field = check.checksumOffset;
    for (size_t at = field; at < field + 4; ++at) {
        for (int value = 0; value < 256; ++value) {
            if (value == original[at]) continue;
            patcher.Put(at, static_cast<unsigned char>(value));
            CAPTURE(at);
            CAPTURE(value);
            CHECK(checker.Check(&check) == 0);
        }
        patcher.Put(at, original[at]);
    }
    REQUIRE(checker.Check(&check) == 1);
}

TEST_CASE("a cut or lengthened updater fails, across the chunks the file is read in") {
    ScratchFolder scratch;
    // Larger than two of the reader's chunks, so that cuts fall on and beside their edges.
    std::string program = BuildSmallUpdater(scratch, 300000);
    Bytes original;
    REQUIRE(ReadHostFile(program, original));
    size_t size = original.size();
    REQUIRE(size > 2 * 131072 + 1024);
    std::vector<size_t> cuts = {0,    1,      2,      63,     64,     65,     0x200,  0x400,
                                4096, 131071, 131072, 131073, 262143, 262144, 262145, size / 2};
    for (size_t cut = size - 1024; cut < size; ++cut)
        cuts.push_back(cut);
    Patcher patcher(program);
    FileChecker checker(program);
    ProgramCheck check;
    for (size_t cut : cuts) {
        CAPTURE(cut);
        patcher.Cut(cut);
        CHECK(checker.Check(&check) == 0);
    }
    // Lengthened: a byte, a kilobyte of zeros (which add nothing to the sum, only to the length), and the
    // cut-off end put back as zeros.
    WriteHostFile(program, original, HostLastWrite(program));
    REQUIRE(checker.Check(&check) == 1);
    for (size_t extra : {size_t(1), size_t(2), size_t(1024)}) {
        CAPTURE(extra);
        Bytes longer = original;
        longer.resize(size + extra, 0);
        WriteHostFile(program, longer, HostLastWrite(program));
        CHECK(checker.Check(&check) == 0);
        CHECK(check.fileSize == size + extra);
        CHECK(check.expectedSize == size);
    }
    // Two bytes whose word takes from the sum exactly what the length adds to it: the checksum still
    // agrees, and only the length rule sees them.
    Bytes same = original;
    same.push_back(0xFD);
    same.push_back(0xFF);
    REQUIRE(PeChecksum(same.data(), same.size()) == PeChecksum(original.data(), original.size()));
    WriteHostFile(program, same, HostLastWrite(program));
    CHECK(checker.Check(&check) == 0);
    CHECK(check.checksum == check.storedChecksum);
    Bytes zeroed = original;
    for (size_t at = size - 512; at < size; ++at)
        zeroed[at] = 0;
    WriteHostFile(program, zeroed, HostLastWrite(program));
    CHECK(checker.Check(&check) == 0);
}

TEST_CASE("a program without a checksum is not checked; what is no program, or cannot be read, fails") {
    ScratchFolder scratch;
    std::string program = BuildSmallUpdater(scratch, 100);
    Bytes original;
    REQUIRE(ReadHostFile(program, original));
    ProgramCheck check;
    REQUIRE(CheckProgramImage(original.data(), original.size(), &check) == 1);
    size_t field = check.checksumOffset;
    Bytes unchecked = original;
    PutU32(unchecked, field, 0);
    CHECK(CheckProgramImage(unchecked.data(), unchecked.size(), &check) == 1);
    CHECK(check.storedChecksum == 0);
    // Not checked means not checked: damage then passes, which is why updpack build always writes one.
    unchecked[unchecked.size() / 2] ^= 0xFF;
    unchecked.push_back(0);
    CHECK(CheckProgramImage(unchecked.data(), unchecked.size(), &check) == 1);

    struct Foreign {
        const char* what;
        Bytes bytes;
    };
    Bytes noPe = original;
    noPe[GetU32(original, 0x3C)] = 'X';
    Bytes farPe = original;
    PutU32(farPe, 0x3C, 0x7FFFFFF0);
    const Foreign foreign[] = {
        {"an empty file", Bytes()},
        {"a text", Bytes({'M', 'Z', 'x'})},
        {"no PE header", noPe},
        {"a header beyond the file", farPe},
        {"only the DOS header", Bytes(original.begin(), original.begin() + 64)},
    };
    for (const Foreign& f : foreign) {
        INFO(f.what);
        CHECK(CheckProgramImage(f.bytes.data(), f.bytes.size(), &check) == 0);
        CHECK(check.headersRead == 0);
    }
    CHECK(CheckProgramFile(INVALID_HANDLE_VALUE, &check) == 0);
}
