// The shipped update.exe checked in its file, natively, with the publisher's own resource reader: a 32-bit
// GUI program (large-address-aware) whose resources are exactly the two wizard templates and the manifest
// (and the archive, when the build was given one). It holds on every host, including those that cannot run
// 32-bit programs, where resource_tests.cpp cannot load this file under Wine. On the x86_64 route the 64-bit
// program that the Wine tests run is held to the same resources. Its import table names nothing but kernel32:
// every other library, the C runtime among them, comes from the system folder after the DLL search is
// restricted.
#include "tests/app/update_resource_checks.h"
#include "tools/pe/pe_resources.h"

#include <doctest/doctest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {
std::vector<unsigned char> ReadProgram(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

uint32_t Field(const std::vector<unsigned char>& image, size_t at, size_t width) {
    uint32_t v = 0;
    for (size_t i = 0; i < width && at + i < image.size(); ++i)
        v |= uint32_t(image[at + i]) << (8 * i);
    return v;
}

const PeResource* Find(const PeResourceList& list, uint16_t type, uint16_t name, uint16_t language) {
    for (int i = 0; i < list.count; ++i) {
        const PeResource& r = list.items[i];
        if (r.typeName[0] == 0 && r.typeId == type && r.nameName[0] == 0 && r.nameId == name &&
            r.language == language)
            return &r;
    }
    return nullptr;
}
struct Program {
    const char* path;
    uint16_t machine;
    uint16_t optionalMagic;
};

// The shipped program, and on the x86_64 route the 64-bit one that runs under Wine there.
const Program Programs[] = {
    {UPDATE_STUB_PATH, 0x14C, 0x10B}, // i386, PE32
#ifdef UPDATE_X86_64_PATH
    {UPDATE_X86_64_PATH, 0x8664, 0x20B}, // x86-64, PE32+
#endif
};

void CheckHeaders(const Program& program, const std::vector<unsigned char>& image) {
    REQUIRE(image.size() > 0x200);
    CHECK(Field(image, 0, 2) == 0x5A4D); // "MZ"
    size_t header = Field(image, 0x3C, 4);
    REQUIRE(header + 24 + 0x60 <= image.size());
    CHECK(Field(image, header, 4) == 0x4550); // "PE\0\0"
    CHECK(Field(image, header + 4, 2) == program.machine);
    CHECK(Field(image, header + 24, 2) == program.optionalMagic);
    CHECK(Field(image, header + 24 + 68, 2) == 2); // the Windows GUI subsystem: no console window
    // Large-address-aware: without it a 32-bit program's largest free block, and so its largest compressed
    // entry, is about a third as large (docs/speed-and-scale.md, "Scale").
    if (program.machine == 0x14C) CHECK((Field(image, header + 22, 2) & 0x20) != 0);
}

void CheckResources(const std::vector<unsigned char>& image) {
    std::unique_ptr<PeResourceList> list(new PeResourceList());
    char error[PeErrorCapacity] = "";
    REQUIRE_MESSAGE(ReadPeResources(image.data(), image.size(), list.get(), error) == 1, error);

    for (int id : {100, 101}) {
        const PeResource* found = Find(*list, 5, uint16_t(id), 0x411);
        CAPTURE(id);
        REQUIRE(found);
        CheckWizardTemplate(id, found->data, found->size);
    }
    const PeResource* manifest = Find(*list, 24, 1, 0x409);
    REQUIRE(manifest);
    CheckManifest(reinterpret_cast<const char*>(manifest->data), manifest->size);

    int archives = 0;
    for (int i = 0; i < list->count; ++i) {
        const PeResource& r = list->items[i];
        if (std::string(r.typeName) == "UPDATE" && r.nameName[0] == 0 && r.nameId == 102 &&
            r.language == 0x411)
            ++archives;
    }
    CHECK(archives <= 1);
    CHECK(list->count == 3 + archives);
}
} // namespace

namespace {
// The file offset of count bytes at rva, or 0 when no section's file data hold them.
size_t FileOffset(const std::vector<unsigned char>& image, uint32_t rva, uint32_t count) {
    size_t header = Field(image, 0x3C, 4);
    size_t table = header + 24 + Field(image, header + 20, 2);
    for (size_t i = 0; i < Field(image, header + 6, 2); ++i) {
        size_t at = table + 40 * i;
        uint32_t address = Field(image, at + 12, 4), raw = Field(image, at + 16, 4),
                 pointer = Field(image, at + 20, 4);
        if (rva >= address && rva - address < raw && count <= raw - (rva - address) &&
            pointer + size_t(raw) <= image.size())
            return pointer + (rva - address);
    }
    return 0;
}

// The names of the libraries in the import table, in its order, upper-cased.
std::vector<std::string> ImportedLibraries(const std::vector<unsigned char>& image) {
    size_t header = Field(image, 0x3C, 4);
    size_t directories = header + 24 + (Field(image, header + 24, 2) == 0x20B ? 112 : 96);
    uint32_t rva = Field(image, directories + 8, 4);
    std::vector<std::string> names;
    for (;; rva += 20) {
        size_t descriptor = FileOffset(image, rva, 20);
        REQUIRE(descriptor != 0);
        uint32_t nameRva = Field(image, descriptor + 12, 4);
        if (nameRva == 0) break;
        size_t name = FileOffset(image, nameRva, 1);
        REQUIRE(name != 0);
        std::string text;
        for (; name < image.size() && image[name]; ++name)
            text += static_cast<char>(toupper(image[name]));
        names.push_back(text);
        REQUIRE(names.size() < 64);
    }
    return names;
}
} // namespace

TEST_CASE("update.exe imports nothing but kernel32, the one library the loader binds at start") {
    for (const Program& program : Programs) {
        CAPTURE(program.path);
        std::vector<unsigned char> image = ReadProgram(program.path);
        REQUIRE(image.size() > 0x200);
        std::vector<std::string> names = ImportedLibraries(image);
        std::sort(names.begin(), names.end());
        std::string listed;
        for (const std::string& name : names)
            listed += name + " ";
        CHECK(listed == "KERNEL32.DLL ");
    }
}

TEST_CASE("update.exe is a GUI program of its architecture and carries the templates, the manifest and "
          "nothing else") {
    for (const Program& program : Programs) {
        CAPTURE(program.path);
        std::vector<unsigned char> image = ReadProgram(program.path);
        CheckHeaders(program, image);
        CheckResources(image);
    }
}
