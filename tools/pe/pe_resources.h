// Rewriting the resources of a Windows program, 32-bit (i686) or 64-bit (x86-64), without the Windows API:
// the publisher's tool uses it to put an archive into the updater stub as resource type "UPDATE", id 102,
// language 1041.
#pragma once

#include <cstddef>
#include <cstdint>

// One resource of a program: type and name are either a number (the *Name string empty) or a string
// (stored upper-case, as FindResourceA looks names up).
struct PeResource {
    uint16_t typeId;
    char typeName[64];
    uint16_t nameId;
    char nameName[64];
    uint16_t language;
    uint32_t codePage;
    const unsigned char* data; // points into the image it was read from, or into caller memory
    uint32_t size;
};

enum { PeResourceCapacity = 256, PeErrorCapacity = 256 };

struct PeResourceList {
    PeResource items[PeResourceCapacity];
    int count;
};

// Reads every resource of a program image. Returns 1, or 0 with a reason in error (capacity
// PeErrorCapacity) when the image is not a well-formed i686 or x86-64 program or its resources are damaged.
int ReadPeResources(const unsigned char* image, size_t size, PeResourceList* list, char* error);

// Writes a copy of the program image whose resources are exactly list (sorted as Windows expects), in a
// rebuilt last resource section; section table, image size, resource directory and checksum are made
// consistent. output must hold PeOutputBound(size, list) bytes. Returns the output size, or 0 with a
// reason in error.
size_t PeOutputBound(size_t imageSize, const PeResourceList* list);
size_t WritePeWithResources(const unsigned char* image, size_t size, const PeResourceList* list,
                            unsigned char* output, size_t capacity, char* error);

// The file bytes of the section that holds the program's resources; 0 when it has none or is not a sound
// program.
uint32_t PeResourceSectionSize(const unsigned char* image, size_t size);

// The standard PE checksum of an image (the checksum field itself counted as zero).
uint32_t PeChecksum(const unsigned char* image, size_t size);
