// Rebuilding a program's resources: synthetic programs of both layouts (PE32 for i686, PE32+ for x86-64)
// check the layout rules everywhere, real programs of both built by the cross compilers check linker output,
// and under Wine the test program itself is rewritten and Windows' own resource lookup must find every
// resource byte for byte.
#include "tests/pe/synthetic_program.h"
#include "tools/pe/pe_resources.h"

#include <doctest/doctest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

const PeResource* Find(const PeResourceList& list, const char* typeName, uint16_t typeId, uint16_t nameId) {
    for (int i = 0; i < list.count; ++i) {
        const PeResource& r = list.items[i];
        if (strcmp(r.typeName, typeName) == 0 && r.typeId == typeId && r.nameId == nameId) return &r;
    }
    return nullptr;
}

bool SameResources(const PeResourceList& a, const PeResourceList& b) {
    if (a.count != b.count) return false;
    for (int i = 0; i < a.count; ++i) {
        const PeResource& x = a.items[i];
        const PeResource& y = b.items[i];
        if (x.typeId != y.typeId || strcmp(x.typeName, y.typeName) || x.nameId != y.nameId ||
            strcmp(x.nameName, y.nameName) || x.language != y.language || x.codePage != y.codePage ||
            x.size != y.size || (x.size && memcmp(x.data, y.data, x.size)))
            return false;
    }
    return true;
}

// The headers of a rewritten program, read the way the loader reads them.
struct Headers {
    size_t optional, sections, directories;
    uint32_t sectionCount;
};
Headers HeadersOf(const Bytes& b) {
    Headers h;
    size_t coff = Get32(b, 0x3C) + 4;
    h.optional = coff + 20;
    h.sections = h.optional + Get16(b, coff + 16);
    h.directories = h.optional + (Get16(b, h.optional) == Pe32Plus.magic ? 112 : 96);
    h.sectionCount = Get16(b, coff + 2);
    return h;
}

// A rewritten program is one the loader maps as the linker would have: sections back to back in the file
// and in memory, the image size and the two moved directories following them, the checksum right; and
// every header byte the rewrite has no reason to touch stays as it was, as does everything before the
// resources.
void CheckRewrite(const Bytes& in, const Bytes& out) {
    Headers h = HeadersOf(out);
    REQUIRE(h.sections + 40 * h.sectionCount <= out.size());
    uint32_t alignment = Get32(out, h.optional + 32);
    uint32_t resourceRva = Get32(out, h.directories + 16);
    int resource = -1;
    for (uint32_t i = 0; i < h.sectionCount; ++i) {
        size_t at = h.sections + 40 * i;
        if (Get32(out, at + 12) == resourceRva) resource = static_cast<int>(i);
        if (i + 1 == h.sectionCount) continue;
        uint32_t rawPointer = Get32(out, at + 20), rawSize = Get32(out, at + 16);
        uint32_t end = Get32(out, at + 12) + (Get32(out, at + 8) ? Get32(out, at + 8) : rawSize);
        CHECK((end + alignment - 1) / alignment * alignment == Get32(out, at + 40 + 12));
        if (rawSize && Get32(out, at + 40 + 16)) CHECK(rawPointer + rawSize == Get32(out, at + 40 + 20));
    }
    REQUIRE(resource >= 0);
    size_t resourceHeader = h.sections + 40 * static_cast<size_t>(resource);
    size_t last = h.sections + 40 * (h.sectionCount - 1);
    CHECK(Get32(out, h.directories + 20) == Get32(out, resourceHeader + 8));
    CHECK(out.size() == Get32(out, last + 20) + Get32(out, last + 16));
    uint32_t lastEnd = Get32(out, last + 12) + Get32(out, last + 8);
    CHECK(Get32(out, h.optional + 56) == (lastEnd + alignment - 1) / alignment * alignment);
    if (static_cast<uint32_t>(resource) + 1 < h.sectionCount) {
        uint32_t relocationRva = Get32(out, h.directories + 40);
        CHECK(relocationRva >= Get32(out, last + 12));
        CHECK(relocationRva + Get32(out, h.directories + 44) <= lastEnd);
    }
    CHECK(Get32(out, h.optional + 64) == PeChecksum(out.data(), out.size()));

    std::vector<bool> mayChange(in.size(), false);
    auto allow = [&](size_t at, size_t count) {
        for (size_t i = at; i < at + count && i < mayChange.size(); ++i)
            mayChange[i] = true;
    };
    allow(h.optional + 8, 4);      // size of initialized data
    allow(h.optional + 56, 4);     // image size
    allow(h.optional + 64, 4);     // checksum
    allow(h.directories + 16, 8);  // resources
    allow(h.directories + 40, 4);  // relocations
    allow(resourceHeader + 8, 4);  // virtual size
    allow(resourceHeader + 16, 4); // raw size
    allow(last + 12, 4);           // a moved relocation section's address
    allow(last + 20, 4);           // and file position
    size_t resourcePointer = Get32(out, resourceHeader + 20);
    REQUIRE(resourcePointer <= in.size());
    size_t differences = 0;
    for (size_t i = 0; i < resourcePointer; ++i)
        if (!mayChange[i] && in[i] != out[i]) ++differences;
    CHECK(differences == 0);
}

} // namespace

TEST_CASE("resources written into a program read back byte for byte with consistent headers") {
    for (const Layout& layout : Layouts) {
        INFO("layout: " << std::string(layout.name));
        Bytes image = SyntheticProgram(layout);
        Bytes manifest(700, 'm'), dialog(333, 'd'), archive(70000);
        for (size_t i = 0; i < archive.size(); ++i)
            archive[i] = static_cast<unsigned char>(i * 131 + 7);

        static PeResourceList list;
        list.count = 0;
        list.items[list.count++] = Resource(5, "", 101, 1041, dialog);
        list.items[list.count++] = Resource(0, "UPDATE", 102, 1041, archive);
        list.items[list.count++] = Resource(24, "", 1, 1033, manifest);
        Bytes out = Rewrite(image, list);
        CheckRewrite(image, out);

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
        size_t sections = SectionsAt(layout);
        uint32_t rsrcVirtualSize = Get32(out, sections + 40 + 8);
        uint32_t relocationRva = Get32(out, sections + 80 + 12);
        uint32_t relocationPointer = Get32(out, sections + 80 + 20);
        CHECK(relocationRva >= 0x2000 + rsrcVirtualSize);
        CHECK(relocationRva % 0x1000 == 0);
        CHECK(Get32(out, DirectoryAt(layout, 5)) == relocationRva);
        CHECK(Get32(out, DirectoryAt(layout, 2) + 4) == rsrcVirtualSize);
        CHECK(Get32(out, OptionalAt + 56) == relocationRva + 0x1000);
        CHECK(out.size() == relocationPointer + 0x200);
        CHECK(memcmp(&out[relocationPointer], &image[0x600], 0x200) == 0);
        CHECK(Get32(out, OptionalAt + 64) == PeChecksum(out.data(), out.size()));
        CHECK(out.size() < image.size() + archive.size() + manifest.size() + dialog.size() + 0x600);
        // The fields of one layout are not taken for those of the other.
        CHECK(Get16(out, CoffAt) == layout.machine);
        CHECK(Get16(out, OptionalAt) == layout.magic);
        CHECK(Get32(out, OptionalAt + 24) == Get32(image, OptionalAt + 24));
        CHECK(Get32(out, OptionalAt + 28) == Get32(image, OptionalAt + 28));

        // Rewriting with what was read back changes nothing.
        static PeResourceList again;
        Bytes same = Rewrite(out, back);
        REQUIRE(ReadPeResources(same.data(), same.size(), &again, error));
        CHECK(SameResources(again, back));
        CHECK(same == out);
    }
}

TEST_CASE("a rewritten program can be rewritten again with fewer resources") {
    for (const Layout& layout : Layouts) {
        INFO("layout: " << std::string(layout.name));
        Bytes image = SyntheticProgram(layout);
        Bytes first(5000, 1), second(10, 2);
        static PeResourceList list;
        list.count = 0;
        list.items[list.count++] = Resource(0, "UPDATE", 102, 1041, first);
        Bytes once = Rewrite(image, list);
        list.items[0] = Resource(0, "UPDATE", 102, 1041, second);
        Bytes twice = Rewrite(once, list);
        CheckRewrite(once, twice);
        static PeResourceList back;
        char error[PeErrorCapacity];
        REQUIRE(ReadPeResources(twice.data(), twice.size(), &back, error));
        REQUIRE(back.count == 1);
        CHECK(back.items[0].size == 10);
        CHECK(back.items[0].data[0] == 2);
        CHECK(twice.size() < once.size());
    }
}

TEST_CASE("foreign and damaged programs are refused with a reason") {
    for (const Layout& layout : Layouts) {
        INFO("layout: " << std::string(layout.name));
        const Layout& other = layout.magic == Pe32.magic ? Pe32Plus : Pe32;
        Bytes image = SyntheticProgram(layout);
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
            {"the other layout's machine", CoffAt, other.machine},
            {"an ARM machine", CoffAt, 0x1c0},
            {"the other layout's optional header", OptionalAt, other.magic},
            {"an optional header too short for its directories", CoffAt + 16, layout.directoriesAt - 8},
            {"a directory count that wraps", OptionalAt + layout.directoriesAt - 4, 0x20000000},
            {"too few data directories", OptionalAt + layout.directoriesAt - 4, 2},
            {"too many sections", CoffAt + 2, 200},
            {"bad file alignment", OptionalAt + 36, 3},
            {"section data beyond the file", SectionsAt(layout) + 40 + 20, 0x7FFF0000},
            {"resource tree with absurd counts", 0x400 + 12, 0xFFFF},
        };
        for (const Damage& damage : damages) {
            INFO("damage: " << std::string(damage.what));
            Bytes bad = image;
            Put16(bad, damage.at, damage.value);
            if (damage.value > 0xFFFF) Put32(bad, damage.at, damage.value);
            list.count = 0;
            error[0] = '\0';
            CHECK(ReadPeResources(bad.data(), bad.size(), &list, error) == 0);
            CHECK(error[0] != '\0');
            // The writer reads the headers but not the old tree, which it replaces.
            if (damage.at >= 0x400) continue;
            Bytes out(PeOutputBound(bad.size(), &list));
            CHECK(WritePeWithResources(bad.data(), bad.size(), &list, out.data(), out.size(), error) == 0);
        }
        for (size_t cut : {0u, 10u, 63u, 70u, 100u, 300u}) {
            CAPTURE(cut);
            CHECK(ReadPeResources(image.data(), cut, &list, error) == 0);
        }
    }
}

TEST_CASE("two resources with the same type, name and language are refused") {
    Bytes image = SyntheticProgram(Pe32);
    Bytes data(4, 0);
    static PeResourceList list;
    list.count = 2;
    list.items[0] = Resource(0, "UPDATE", 102, 1041, data);
    list.items[1] = Resource(0, "UPDATE", 102, 1041, data);
    Bytes out(PeOutputBound(image.size(), &list));
    char error[PeErrorCapacity] = "";
    CHECK(WritePeWithResources(image.data(), image.size(), &list, out.data(), out.size(), error) == 0);
    CHECK(strstr(error, "same") != nullptr);
}

#if defined(PE_PROGRAM_i686) || defined(PE_PROGRAM_x86_64)
TEST_CASE("real i686 and x86-64 programs take an archive and give it back, and lose it again unchanged") {
    const char* programs[] = {
#ifdef PE_PROGRAM_i686
        PE_PROGRAM_i686,
#endif
#ifdef PE_PROGRAM_x86_64
        PE_PROGRAM_x86_64,
#endif
    };
    for (const char* path : programs) {
        CAPTURE(path);
        Bytes image;
        FILE* file = fopen(path, "rb");
        REQUIRE(file);
        unsigned char chunk[65536];
        size_t got;
        while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
            image.insert(image.end(), chunk, chunk + got);
        fclose(file);

        static PeResourceList original, list, back, again;
        char error[PeErrorCapacity] = "";
        REQUIRE(ReadPeResources(image.data(), image.size(), &original, error));
        REQUIRE(Find(original, "", 10, 1) != nullptr); // RCDATA 1 of pe_test.rc
        Bytes unchanged = Rewrite(image, original);
        CheckRewrite(image, unchanged);

        Bytes archive(123457);
        for (size_t i = 0; i < archive.size(); ++i)
            archive[i] = static_cast<unsigned char>(i ^ (i >> 8));
        list = original;
        list.items[list.count++] = Resource(0, "UPDATE", 102, 1041, archive);
        Bytes updater = Rewrite(image, list);
        CheckRewrite(image, updater);
        REQUIRE(ReadPeResources(updater.data(), updater.size(), &back, error));
        REQUIRE(back.count == original.count + 1);
        const PeResource* update = Find(back, "UPDATE", 0, 102);
        REQUIRE(update);
        REQUIRE(update->size == archive.size());
        CHECK(memcmp(update->data, archive.data(), archive.size()) == 0);

        // Taking the archive out again gives exactly the program rewritten without it.
        int kept = 0;
        for (int i = 0; i < back.count; ++i)
            if (&back.items[i] != update) back.items[kept++] = back.items[i];
        back.count = kept;
        Bytes stripped = Rewrite(updater, back);
        CheckRewrite(updater, stripped);
        REQUIRE(ReadPeResources(stripped.data(), stripped.size(), &again, error));
        CHECK(SameResources(again, original));
        CHECK(stripped == unchanged);
    }
}
#endif

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
