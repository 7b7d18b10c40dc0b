// The check of a program's file on arbitrary bytes: its headers are read without a byte outside the input,
// its sum is the resource writer's checksum, and the file fed in pieces of any size after its headers (as
// the updater reads it in chunks) gives the same checksum and the same verdict as the file at once.
#include "app/program_check.h"
#include "tools/pe/pe_resources.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ProgramCheck whole;
    int verdict = CheckProgramImage(data, size, &whole);
    if (whole.headersRead) {
        if (whole.checksumOffset > size - 4) abort(); // the field was read inside the input
        // The writer's checksum leaves out a field at an even place only.
        if (!(whole.checksumOffset & 1) && whole.checksum != PeChecksum(data, size)) abort();
        if (verdict != (!whole.storedChecksum ||
                        (whole.fileSize == whole.expectedSize && whole.checksum == whole.storedChecksum)))
            abort();
    } else if (verdict) {
        abort();
    }
    if (size == 0) return 0;
    ProgramCheck pieces;
    BeginProgramCheck(&pieces);
    size_t first = size < 4096 ? size : 4096;
    size_t step = 1 + data[size - 1] % 97;
    AddProgramBytes(&pieces, data, first);
    for (size_t at = first; at < size; at += step)
        AddProgramBytes(&pieces, data + at, size - at < step ? size - at : step);
    if (FinishProgramCheck(&pieces) != verdict || pieces.checksum != whole.checksum) abort();
    return 0;
}
