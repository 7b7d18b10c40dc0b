// The program file's checksum and length rule. The checksum is the one of the optional header: the 16-bit
// little-endian words of the file (the checksum field counted as zero, a last odd byte as a word of its
// own) added with end-around carry, folded to 16 bits, plus the file's length. Every change of one byte
// changes a word by d or 256 * d with 0 < |d| < 256, which is never a multiple of 0xFFFF, so it changes
// the sum; a cut changes the length, which the length rule holds to the headers as well.
//
// The sums are kept as 32-bit sums with end-around carry, which are sums modulo 0xFFFFFFFF, a multiple of
// 0xFFFF: folded to 16 bits at the end they give the sum of the 16-bit words. So the loop adds whole 32-bit
// words, with 32-bit arithmetic only (the updater is a 32-bit program); a piece that begins at an odd
// offset adds its bytes shifted by one place, which modulo 0xFFFFFFFF is a rotation by 8 bits; and the
// checksum field is taken out again at the end instead of being stepped over in the loop.
#include "app/program_check.h"

#include <cstring>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the words are summed as the machine loads them");

namespace {

const uint32_t DosHeaderSize = 64;
const uint32_t CoffHeaderSize = 20;
const uint32_t SectionHeaderSize = 40;
const uint32_t CertificateDirectory = 4;
// Large enough that the reads cost little against the sum, small enough to stay in the cache.
const DWORD ChunkSize = 128 * 1024;

uint32_t Read16(const unsigned char* p) {
    return static_cast<uint32_t>(p[0] | (p[1] << 8));
}
uint32_t Read32(const unsigned char* p) {
    uint32_t value;
    memcpy(&value, p, sizeof value);
    return value;
}

// a + b with end-around carry.
uint32_t AddCarried(uint32_t a, uint32_t b) {
    a += b;
    return a + (a < b);
}
// A 32-bit sum with end-around carry as the 16-bit one.
uint32_t Fold(uint32_t sum) {
    sum = (sum & 0xFFFF) + (sum >> 16);
    return (sum & 0xFFFF) + (sum >> 16);
}

// Moves *end up to offset + size, unless that passes 4 GiB. 0 then.
int Reach(uint32_t* end, uint32_t offset, uint32_t size) {
    if (offset + size < offset) return 0;
    if (offset + size > *end) *end = offset + size;
    return 1;
}

// The headers the check needs, all inside the first piece: the checksum field, the section table and the
// certificate table's place. 0 for anything that is not a sound 32- or 64-bit program header.
int ReadHeaders(ProgramCheck* check, const unsigned char* head, size_t size) {
    if (size < DosHeaderSize || head[0] != 'M' || head[1] != 'Z') return 0;
    size_t pe = Read32(head + 0x3C);
    if (pe > size || size - pe < 4 + CoffHeaderSize || Read32(head + pe) != 0x4550) return 0; // "PE\0\0"
    const unsigned char* coff = head + pe + 4;
    size_t sections = Read16(coff + 2);
    size_t optionalSize = Read16(coff + 16);
    size_t optional = pe + 4 + CoffHeaderSize;
    if (size - optional < optionalSize || size - optional - optionalSize < sections * SectionHeaderSize)
        return 0;
    uint32_t magic = optionalSize >= 2 ? Read16(head + optional) : 0;
    size_t directories = magic == 0x10b ? 96 : magic == 0x20b ? 112 : 0;
    if (!directories || optionalSize < directories) return 0;
    const unsigned char* header = head + optional;
    check->checksumOffset = static_cast<uint32_t>(optional + 64);
    check->storedChecksum = Read32(header + 64);
    uint32_t end = Read32(header + 60); // the headers' own size
    // The certificate table is the one directory that holds a file offset, not an address.
    const unsigned char* certificates = header + directories + 8 * CertificateDirectory;
    if (Read32(header + directories - 4) > CertificateDirectory &&
        optionalSize >= directories + 8 * (CertificateDirectory + 1) &&
        !Reach(&end, Read32(certificates), Read32(certificates + 4)))
        return 0;
    for (const unsigned char* section = header + optionalSize; sections--; section += SectionHeaderSize) {
        uint32_t rawSize = Read32(section + 16);
        if (rawSize && !Reach(&end, Read32(section + 20), rawSize)) return 0;
    }
    check->expectedSize = end;
    return 1;
}

// The sum with end-around carry of the 32-bit little-endian words of count bytes from p (the last ones
// padded with zeros). Two sums go side by side, so that each add waits only for the carry of the one before
// it in its own sum: about three times as fast as one.
uint32_t SumWords(const unsigned char* p, size_t count) {
    uint32_t even = 0, odd = 0;
    for (; count >= 8; p += 8, count -= 8) {
        even = AddCarried(even, Read32(p));
        odd = AddCarried(odd, Read32(p + 4));
    }
    uint32_t last[2] = {0, 0};
    memcpy(last, p, count);
    return AddCarried(AddCarried(even, last[0]), AddCarried(odd, last[1]));
}

} // namespace

void BeginProgramCheck(ProgramCheck* check) {
    memset(check, 0, sizeof *check);
}

void AddProgramBytes(ProgramCheck* check, const unsigned char* bytes, size_t count) {
    if (count == 0) return;
    if (check->fileSize == 0 && !check->tooLarge) check->headersRead = ReadHeaders(check, bytes, count);
    uint32_t sum = SumWords(bytes, count);
    if (check->fileSize & 1) sum = (sum << 8) | (sum >> 24);
    check->partialSum = AddCarried(check->partialSum, sum);
    uint32_t before = check->fileSize;
    check->fileSize += static_cast<uint32_t>(count);
    if (check->fileSize < before || count > 0xFFFFFFFFu) check->tooLarge = 1;
}

int FinishProgramCheck(ProgramCheck* check) {
    uint32_t field = check->storedChecksum;
    if (check->checksumOffset & 1) field = (field << 8) | (field >> 24);
    // 0 and 0xFFFF are the same modulo 0xFFFF; the sum with carries gives 0xFFFF for it unless every word
    // is 0, which a program, starting "MZ", never is.
    uint32_t sum = Fold(AddCarried(check->partialSum, ~field));
    check->checksum = (sum ? sum : 0xFFFF) + check->fileSize;
    if (!check->headersRead || check->tooLarge) return 0;
    if (check->storedChecksum == 0) return 1;
    return check->fileSize == check->expectedSize && check->checksum == check->storedChecksum;
}

int CheckProgramImage(const unsigned char* image, size_t size, ProgramCheck* check) {
    BeginProgramCheck(check);
    AddProgramBytes(check, image, size);
    return FinishProgramCheck(check);
}

int CheckProgramFile(HANDLE file, ProgramCheck* check) {
    // Static: the updater runs this once, on its one thread, and needs no block it could fail to get.
    static unsigned char chunk[ChunkSize];
    BeginProgramCheck(check);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk, ChunkSize, &got, nullptr)) return 0;
        if (got == 0) break;
        AddProgramBytes(check, chunk, got);
    }
    return FinishProgramCheck(check);
}
