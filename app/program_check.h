// Whether a Windows program file arrived whole, judged by what the file already carries: the checksum in its
// optional header (which updpack build writes and a signing tool keeps up to date) and its length, which
// must end where its last section or its certificate table ends. The updater runs this over its own file
// before it writes anything; updpack test runs it over an updater it is given.
#pragma once

#include "platform/win32.h"

#include <cstddef>
#include <cstdint>

// What a check found, filled as the bytes go by. A file whose checksum field is 0 (no tool of ours built
// it) is not checked: storedChecksum stays 0 and the check passes.
struct ProgramCheck {
    int headersRead;         // 1 once the first piece held sound headers; 0 means a foreign or damaged file
    uint32_t storedChecksum; // the checksum field
    uint32_t checksumOffset; // where that field lies in the file
    uint32_t expectedSize;   // where the last section's data or the certificate table ends
    uint32_t fileSize;       // bytes added so far: the file's length once all are in
    int tooLarge;            // the bytes reached 4 GiB, which no program has
    uint32_t partialSum;     // sum with end-around carry of the 32-bit words so far
    uint32_t checksum;       // the checksum of the whole file, set by FinishProgramCheck
};

// The first piece must hold the headers up to the end of the section table (the first 4 KiB do for any
// program a linker writes); the pieces come in file order.
void BeginProgramCheck(ProgramCheck* check);
void AddProgramBytes(ProgramCheck* check, const unsigned char* bytes, size_t count);
// 1 when the file is whole or carries no checksum, 0 when it is damaged, cut, lengthened or no program.
int FinishProgramCheck(ProgramCheck* check);

// The whole check over a file in memory.
int CheckProgramImage(const unsigned char* image, size_t size, ProgramCheck* check);
// The whole check over an open file, read from its start in chunks (a file near the size limit cannot be
// held twice in a 32-bit process). A file that cannot be read counts as damaged.
int CheckProgramFile(HANDLE file, ProgramCheck* check);
