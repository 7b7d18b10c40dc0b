// Rebuilding a program's resources: a synthetic program checks the layout rules everywhere; under Wine the
// test program itself is rewritten and Windows' own resource lookup must find every resource byte for byte.
#include "tools/pe/pe_resources.h"

#include <doctest/doctest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

uint32_t Get32(const std::vector<unsigned char>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
void Put32(std::vector<unsigned char>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}
void Put16(std::vector<unsigned char>& b, size_t at, uint32_t v) {
    b[at] = static_cast<unsigned char>(v);
    b[at + 1] = static_cast<unsigned char>(v >> 8);
}

const size_t CoffAt = 68, OptionalAt = 88, SectionsAt = 88 + 224;

// A minimal 32-bit program: .text, an empty .rsrc and a .reloc whose bytes are a recognisable pattern.
std::vector<unsigned char> SyntheticProgram() {
    std::vector<unsigned char> b(0x800, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, 64);
    memcpy(&b[64], "PE\0\0", 4);
    Put16(b, CoffAt, 0x14c);
    Put16(b, CoffAt + 2, 3);
    Put16(b, CoffAt + 16, 224);
    Put16(b, OptionalAt, 0x10b);
    Put32(b, OptionalAt + 32, 0x1000);
    Put32(b, OptionalAt + 36, 0x200);
    Put32(b, OptionalAt + 56, 0x4000);
    Put32(b, OptionalAt + 60, 0x200);
    Put32(b, OptionalAt + 92, 16);
    Put32(b, OptionalAt + 96 + 8 * 2, 0x2000); // resources
    Put32(b, OptionalAt + 96 + 8 * 2 + 4, 16);
    Put32(b, OptionalAt + 96 + 8 * 5, 0x3000); // relocations
    Put32(b, OptionalAt + 96 + 8 * 5 + 4, 0x10);
    const char* names[3] = {".text", ".rsrc", ".reloc"};
    for (uint32_t i = 0; i < 3; ++i) {
        size_t at = SectionsAt + 40 * i;
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

PeResource Resource(uint16_t typeId, const char* typeName, uint16_t nameId, uint16_t language,
                    const std::vector<unsigned char>& data) {
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

std::vector<unsigned char> Rewrite(const std::vector<unsigned char>& image, const PeResourceList& list) {
    std::vector<unsigned char> out(PeOutputBound(image.size(), &list));
    char error[PeErrorCapacity] = "";
    size_t size = WritePeWithResources(image.data(), image.size(), &list, out.data(), out.size(), error);
    INFO(error);
    REQUIRE(size != 0);
    out.resize(size);
    return out;
}

const PeResource* Find(const PeResourceList& list, const char* typeName, uint16_t typeId, uint16_t nameId) {
    for (int i = 0; i < list.count; ++i) {
        const PeResource& r = list.items[i];
        if (strcmp(r.typeName, typeName) == 0 && r.typeId == typeId && r.nameId == nameId) return &r;
    }
    return nullptr;
}

} // namespace

TEST_CASE("resources written into a program read back byte for byte with consistent headers") {
    std::vector<unsigned char> image = SyntheticProgram();
    std::vector<unsigned char> manifest(700, 'm'), dialog(333, 'd'), archive(70000);
    for (size_t i = 0; i < archive.size(); ++i)
        archive[i] = static_cast<unsigned char>(i * 131 + 7);

    static PeResourceList list;
    list.count = 0;
    list.items[list.count++] = Resource(5, "", 101, 1041, dialog);
    list.items[list.count++] = Resource(0, "UPDATE", 102, 1041, archive);
    list.items[list.count++] = Resource(24, "", 1, 1033, manifest);
    std::vector<unsigned char> out = Rewrite(image, list);

    static PeResourceList back;
    char error[PeErrorCapacity] = "";
    REQUIRE(ReadPeResources(out.data(), out.size(), &back, error));
    REQUIRE(back.count == 3);
    // Named types come first, then numbers ascending.
    CHECK(strcmp(back.items[0].typeName, "UPDATE") == 0);
    CHECK(back.items[1].typeId == 5);
    CHECK(back.items[2].typeId == 24);
    const PeResource* update = Find(back, "UPDATE", 0, 102);
    REQUIRE(update);
    CHECK(update->language == 1041);
    REQUIRE(update->size == archive.size());
    CHECK(memcmp(update->data, archive.data(), archive.size()) == 0);

    // The relocations moved behind the grown resources, bytes intact, and the headers follow them.
    uint32_t rsrcVirtualSize = Get32(out, SectionsAt + 40 + 8);
    uint32_t relocationRva = Get32(out, SectionsAt + 80 + 12);
    uint32_t relocationPointer = Get32(out, SectionsAt + 80 + 20);
    CHECK(relocationRva >= 0x2000 + rsrcVirtualSize);
    CHECK(relocationRva % 0x1000 == 0);
    CHECK(Get32(out, OptionalAt + 96 + 8 * 5) == relocationRva);
    CHECK(Get32(out, OptionalAt + 96 + 8 * 2 + 4) == rsrcVirtualSize);
    CHECK(Get32(out, OptionalAt + 56) == relocationRva + 0x1000);
    CHECK(out.size() == relocationPointer + 0x200);
    CHECK(memcmp(&out[relocationPointer], &image[0x600], 0x200) == 0);
    CHECK(Get32(out, OptionalAt + 64) == PeChecksum(out.data(), out.size()));
    CHECK(out.size() < image.size() + archive.size() + manifest.size() + dialog.size() + 0x600);
}

TEST_CASE("a rewritten program can be rewritten again with fewer resources") {
    std::vector<unsigned char> image = SyntheticProgram();
    std::vector<unsigned char> first(5000, 1), second(10, 2);
    static PeResourceList list;
    list.count = 0;
    list.items[list.count++] = Resource(0, "UPDATE", 102, 1041, first);
    std::vector<unsigned char> once = Rewrite(image, list);
    list.items[0] = Resource(0, "UPDATE", 102, 1041, second);
    std::vector<unsigned char> twice = Rewrite(once, list);
    static PeResourceList back;
    char error[PeErrorCapacity];
    REQUIRE(ReadPeResources(twice.data(), twice.size(), &back, error));
    REQUIRE(back.count == 1);
    CHECK(back.items[0].size == 10);
    CHECK(back.items[0].data[0] == 2);
    CHECK(twice.size() < once.size());
}

TEST_CASE("foreign and damaged programs are refused with a reason") {
    std::vector<unsigned char> image = SyntheticProgram();
    static PeResourceList list;
    char error[PeErrorCapacity];
    struct Damage {
        const char* what;
        size_t at;
        uint32_t value;
    };
    const Damage damages[] = {
        {"no MZ", 0, 0},
        {"PE header beyond the file", 0x3C, 0x7FFFFFF0},
        {"wrong machine", CoffAt, 0x8664},
        {"too many sections", CoffAt + 2, 200},
        {"bad file alignment", OptionalAt + 36, 3},
        {"section data beyond the file", SectionsAt + 40 + 20, 0x7FFF0000},
        {"resource tree with absurd counts", 0x400 + 12, 0xFFFF},
    };
    for (const Damage& damage : damages) {
        CAPTURE(damage.what);
        std::vector<unsigned char> bad = image;
        Put16(bad, damage.at, damage.value);
        if (damage.value > 0xFFFF) Put32(bad, damage.at, damage.value);
        list.count = 0;
        error[0] = '\0';
        CHECK(ReadPeResources(bad.data(), bad.size(), &list, error) == 0);
        CHECK(error[0] != '\0');
    }
    for (size_t cut : {0u, 10u, 63u, 70u, 100u, 300u}) {
        CAPTURE(cut);
        CHECK(ReadPeResources(image.data(), cut, &list, error) == 0);
    }
}

TEST_CASE("two resources with the same type, name and language are refused") {
    std::vector<unsigned char> image = SyntheticProgram();
    std::vector<unsigned char> data(4, 0);
    static PeResourceList list;
    list.count = 2;
    list.items[0] = Resource(0, "UPDATE", 102, 1041, data);
    list.items[1] = Resource(0, "UPDATE", 102, 1041, data);
    std::vector<unsigned char> out(PeOutputBound(image.size(), &list));
    char error[PeErrorCapacity] = "";
    CHECK(WritePeWithResources(image.data(), image.size(), &list, out.data(), out.size(), error) == 0);
    CHECK(strstr(error, "same") != nullptr);
}

#ifdef _WIN32
TEST_CASE("Windows finds a resource added to a real program") {
    char self[MAX_PATH];
    REQUIRE(GetModuleFileNameA(nullptr, self, sizeof self) > 0);
    FILE* file = fopen(self, "rb");
    REQUIRE(file);
    std::vector<unsigned char> image;
    unsigned char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        image.insert(image.end(), chunk, chunk + got);
    fclose(file);

    static PeResourceList list;
    char error[PeErrorCapacity] = "";
    REQUIRE(ReadPeResources(image.data(), image.size(), &list, error));
    std::vector<unsigned char> archive(123457);
    for (size_t i = 0; i < archive.size(); ++i)
        archive[i] = static_cast<unsigned char>(i ^ (i >> 8));
    list.items[list.count++] = Resource(0, "UPDATE", 102, 1041, archive);
    std::vector<unsigned char> out = Rewrite(image, list);

    char folder[MAX_PATH], path[MAX_PATH];
    REQUIRE(GetTempPathA(sizeof folder, folder) > 0);
    REQUIRE(GetTempFileNameA(folder, "pe", 0, path) != 0);
    file = fopen(path, "wb");
    REQUIRE(file);
    REQUIRE(fwrite(out.data(), 1, out.size(), file) == out.size());
    fclose(file);

    HMODULE module = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    REQUIRE(module != nullptr);
    HRSRC found = FindResourceExA(module, "UPDATE", MAKEINTRESOURCEA(102), 1041);
    REQUIRE(found != nullptr);
    REQUIRE(SizeofResource(module, found) == archive.size());
    const void* bytes = LockResource(LoadResource(module, found));
    REQUIRE(bytes != nullptr);
    CHECK(memcmp(bytes, archive.data(), archive.size()) == 0);
    FreeLibrary(module);
    DeleteFileA(path);
}
#endif
