// The update plan: archive files with their write rules, and copies from the product's discs.
#pragma once

#include <cstdint>

enum UpdateMode : int32_t {
    ModePlain = 0,    // always written from the archive
    ModeNewer = 1,    // "u": kept when the file on disk is later than the entry
    ModeData = 2,     // "d": an existing file keeps its content; target folder from DataPath
    ModeExisting = 3, // "o": written only over an existing file
};

enum { UpdateListCapacity = 16 };

struct UpdateItem {
    int32_t mode;       // an UpdateMode
    char path[260];     // relative to the target folder of the mode
    int32_t nameOffset; // first byte of the file name in path (the archive entry's name)
    int32_t pathCut;    // 1 when the path token did not fit and was cut: never written
};

struct CopyItem {
    int32_t disk;   // 1 to 9; 0 when the entry names no disk
    char path[260]; // relative to the disc's root and, at once, to the installation folder
};
