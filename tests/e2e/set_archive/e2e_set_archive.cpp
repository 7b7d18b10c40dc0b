// e2e_set_archive STUB OUT ARCHIVE: gives one end-to-end scenario its own updater without a rebuild. Copies
// the updater STUB to OUT and stores ARCHIVE in OUT as the resource "UPDATE"/102 (Japanese, 1041), the way a
// publisher's build embeds it. ARCHIVE "-" removes that resource instead, which yields the program without
// a payload. The resource-update API leaves the program's checksum as it was, so it is written afresh, as
// updpack build writes it (the updater refuses a file whose checksum does not agree). Runs under Wine; exit
// status 0 on success, 1 with a message on stderr otherwise.
#include "tools/pe/pe_resources.h"

#include <windows.h>

#include <cstdio>
#include <vector>

static int Fail(const char* what, const char* name) {
    std::fprintf(stderr, "e2e_set_archive: %s %s (error %lu)\n", what, name, GetLastError());
    return 1;
}

static bool ReadFileBytes(const char* path, std::vector<unsigned char>& bytes) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD size = GetFileSize(file, nullptr);
    bytes.resize(size);
    DWORD got = 0;
    bool ok =
        size == INVALID_FILE_SIZE ? false : (size == 0 || ReadFile(file, bytes.data(), size, &got, nullptr));
    CloseHandle(file);
    return ok && got == size;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: e2e_set_archive STUB OUT ARCHIVE|-\n");
        return 2;
    }
    const char* stub = argv[1];
    const char* out = argv[2];
    const char* archive = argv[3];
    bool remove = archive[0] == '-' && archive[1] == 0;

    std::vector<unsigned char> data;
    if (!remove && !ReadFileBytes(archive, data)) return Fail("cannot read", archive);
    if (!remove && data.empty()) return Fail("empty archive", archive);
    if (!CopyFileA(stub, out, FALSE)) return Fail("cannot copy the stub to", out);

    HANDLE update = BeginUpdateResourceA(out, FALSE);
    if (!update) return Fail("cannot open the resources of", out);
    // Removing a resource that is not there is not an error for us: the result is the same program.
    BOOL stored =
        UpdateResourceA(update, "UPDATE", MAKEINTRESOURCEA(102), 1041, remove ? nullptr : data.data(),
                        remove ? 0 : static_cast<DWORD>(data.size()));
    if (!stored && !remove) {
        EndUpdateResourceA(update, TRUE);
        return Fail("cannot add the archive to", out);
    }
    if (!EndUpdateResourceA(update, FALSE)) return Fail("cannot write the resources of", out);

    std::vector<unsigned char> program;
    if (!ReadFileBytes(out, program) || program.size() < 0x40) return Fail("cannot read back", out);
    DWORD field = program[0x3C] | program[0x3D] << 8 | program[0x3E] << 16 | DWORD(program[0x3F]) << 24;
    field += 4 + 20 + 64; // the checksum field of the optional header
    if (field > program.size() - 4) return Fail("no optional header in", out);
    DWORD checksum = PeChecksum(program.data(), program.size());
    HANDLE file = CreateFileA(out, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD written = 0;
    bool stamped = file != INVALID_HANDLE_VALUE &&
                   SetFilePointer(file, LONG(field), nullptr, FILE_BEGIN) == field &&
                   WriteFile(file, &checksum, 4, &written, nullptr) && written == 4;
    if (file != INVALID_HANDLE_VALUE && !CloseHandle(file)) stamped = false;
    if (!stamped) return Fail("cannot write the checksum of", out);
    return 0;
}
