// Synthetic Windows programs for the resource tests: the smallest images of both optional-header layouts
// that the writer accepts, with the helpers that build and inspect them.
#pragma once

#include "tools/pe/pe_resources.h"

#include <doctest/doctest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

inline uint32_t Get16(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8);
}
inline uint32_t Get32(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
// A write outside the image is the test's own mistake; checking it also keeps GCC from warning about a
// write it cannot prove to be inside the vector.
inline void Put32(Bytes& b, size_t at, uint32_t v) {
    REQUIRE(at + 4 <= b.size());
    unsigned char* p = b.data() + at;
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void Put16(Bytes& b, size_t at, uint32_t v) {
    REQUIRE(at + 2 <= b.size());
    unsigned char* p = b.data() + at;
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

// The two optional-header layouts: the 64-bit one widens ImageBase and the stack and heap sizes, which
// moves the directory count and the data directories 16 bytes further.
struct Layout {
    const char* name;
    uint32_t machine, magic, optionalSize, directoriesAt;
};
inline const Layout Pe32 = {"PE32 (i686)", 0x14c, 0x10b, 224, 96};
inline const Layout Pe32Plus = {"PE32+ (x86-64)", 0x8664, 0x20b, 240, 112};
inline const Layout Layouts[] = {Pe32, Pe32Plus};

inline const size_t CoffAt = 68, OptionalAt = 88;
inline size_t SectionsAt(const Layout& layout) {
    return OptionalAt + layout.optionalSize;
}
inline size_t DirectoryAt(const Layout& layout, int index) {
    return OptionalAt + layout.directoriesAt + 8 * static_cast<size_t>(index);
}

// A minimal program: .text, an empty .rsrc and a .reloc whose bytes are a recognisable pattern.
inline Bytes SyntheticProgram(const Layout& layout) {
    Bytes b(0x800, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, 64);
    memcpy(&b[64], "PE\0\0", 4);
    Put16(b, CoffAt, layout.machine);
    Put16(b, CoffAt + 2, 3);
    Put16(b, CoffAt + 16, layout.optionalSize);
    Put16(b, OptionalAt, layout.magic);
    if (layout.magic == Pe32Plus.magic) {
        Put32(b, OptionalAt + 24, 0x40000000); // ImageBase 0x1'4000'0000, 64 bits
        Put32(b, OptionalAt + 28, 1);
    } else {
        Put32(b, OptionalAt + 28, 0x400000);
    }
    Put32(b, OptionalAt + 32, 0x1000);
    Put32(b, OptionalAt + 36, 0x200);
    Put32(b, OptionalAt + 56, 0x4000);
    Put32(b, OptionalAt + 60, 0x200);
    Put32(b, OptionalAt + layout.directoriesAt - 4, 16);
    Put32(b, DirectoryAt(layout, 2), 0x2000); // resources
    Put32(b, DirectoryAt(layout, 2) + 4, 16);
    Put32(b, DirectoryAt(layout, 5), 0x3000); // relocations
    Put32(b, DirectoryAt(layout, 5) + 4, 0x10);
    const char* names[3] = {".text", ".rsrc", ".reloc"};
    for (uint32_t i = 0; i < 3; ++i) {
        size_t at = SectionsAt(layout) + 40 * i;
        memcpy(&b[at], names[i], strlen(names[i]));
        Put32(b, at + 8, 0x200);
        Put32(b, at + 12, 0x1000 * (i + 1));
        Put32(b, at + 16, 0x200);
        Put32(b, at + 20, 0x200 * (i + 1));
    }
    for (size_t i = 0; i < 0x200; ++i)
        b[0x600 + i] = static_cast<unsigned char>(i * 7);
    return b;
}

inline PeResource Resource(uint16_t typeId, const char* typeName, uint16_t nameId, uint16_t language,
                           const Bytes& data) {
    PeResource r;
    memset(&r, 0, sizeof r);
    r.typeId = typeId;
    snprintf(r.typeName, sizeof r.typeName, "%s", typeName);
    r.nameId = nameId;
    r.language = language;
    r.data = data.data();
    r.size = static_cast<uint32_t>(data.size());
    return r;
}

inline Bytes Rewrite(const Bytes& image, const PeResourceList& list) {
    Bytes out(PeOutputBound(image.size(), &list));
    char error[PeErrorCapacity] = "";
    size_t size = WritePeWithResources(image.data(), image.size(), &list, out.data(), out.size(), error);
    INFO(error);
    REQUIRE(size != 0);
    out.resize(size);
    return out;
}
