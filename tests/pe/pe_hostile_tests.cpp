// Hostile programs against the resource reader: trees that share, overlap or loop back, sizes measured
// against the wrong section, counts beyond the file. Each is refused with a reason, quickly and without a
// read outside the image (the sanitizers watch the test build). The programs that fuzzing found against an
// earlier reader are kept as files in tests/pe/hostile; the others are made here from a sound program.
#include "tests/pe/synthetic_program.h"
#include "tools/pe/pe_resources.h"

#include <doctest/doctest.h>

#include <cstring>
#include <string>
#include <vector>

#ifdef PE_HOSTILE_DIR
#include <filesystem>
#include <fstream>
#include <iterator>
#endif

namespace {

PeResourceList list;

// Reads image and expects a refusal whose reason contains reason.
void CheckRefused(const Bytes& image, const char* reason) {
    char error[PeErrorCapacity] = "";
    CHECK(ReadPeResources(image.data(), image.size(), &list, error) == 0);
    CHECK(list.count == 0);
    INFO("reason given: " << error);
    CHECK(strstr(error, reason) != nullptr);
}

// The resource section of a rewritten synthetic program starts at 0x400 in the file, at 0x2000 in memory.
const size_t TreeAt = 0x400;
const uint32_t TreeRva = 0x2000, Subdirectory = 0x80000000u;

// Two types (5 and 10), one name each (1 and 2), one language each: the writer lays them out as
//   0   root: 2 numbered entries at 16 (type 5) and 24 (type 10)
//   32  names of type 5: entry at 48        56  names of type 10: entry at 72
//   80  languages of 5/1: entry at 96       104 languages of 10/2: entry at 120
//   128 data entry of 5/1                   144 data entry of 10/2
Bytes SoundProgram() {
    static const Bytes first(40, 'a'), second(50, 'b');
    PeResourceList sound;
    sound.count = 2;
    sound.items[0] = Resource(5, "", 1, 1041, first);
    sound.items[1] = Resource(10, "", 2, 1041, second);
    return Rewrite(SyntheticProgram(Pe32), sound);
}

// A program whose resource section holds exactly tree, mapped at TreeRva.
Bytes ProgramWithTree(const Bytes& tree) {
    Bytes b = SyntheticProgram(Pe32);
    b.resize(TreeAt);
    uint32_t raw = static_cast<uint32_t>((tree.size() + 0x1FF) / 0x200 * 0x200);
    b.resize(TreeAt + raw, 0);
    memcpy(&b[TreeAt], tree.data(), tree.size());
    Put16(b, CoffAt + 2, 2); // .text and .rsrc, no relocations
    size_t rsrc = SectionsAt(Pe32) + 40;
    Put32(b, rsrc + 8, static_cast<uint32_t>(tree.size()));
    Put32(b, rsrc + 16, raw);
    memset(&b[rsrc + 40], 0, 40);
    Put32(b, DirectoryAt(Pe32, 2) + 4, static_cast<uint32_t>(tree.size()));
    Put32(b, DirectoryAt(Pe32, 5), 0);
    Put32(b, DirectoryAt(Pe32, 5) + 4, 0);
    Put32(b, OptionalAt + 56, TreeRva + (raw + 0xFFF) / 0x1000 * 0x1000);
    return b;
}

void PutDirectory(Bytes& tree, size_t at, uint32_t named, uint32_t numbered) {
    Put16(tree, at + 12, named);
    Put16(tree, at + 14, numbered);
}

// A sound tree of count numbered types with one name and one language each, whose data are the tree's
// first byte.
Bytes TreeOfTypes(uint32_t count) {
    const size_t below = 16 + 8 * static_cast<size_t>(count), perType = 24 + 24 + 16;
    Bytes tree(below + perType * count, 0);
    PutDirectory(tree, 0, 0, count);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t names = static_cast<uint32_t>(below + perType * i), languages = names + 24,
                 dataEntry = languages + 24;
        Put32(tree, 16 + 8 * i, i + 1);
        Put32(tree, 16 + 8 * i + 4, Subdirectory | names);
        PutDirectory(tree, names, 0, 1);
        Put32(tree, names + 16, 1);
        Put32(tree, names + 20, Subdirectory | languages);
        PutDirectory(tree, languages, 0, 1);
        Put32(tree, languages + 16, 1041);
        Put32(tree, languages + 20, dataEntry);
        Put32(tree, dataEntry, TreeRva);
        Put32(tree, dataEntry + 4, 1);
    }
    return tree;
}

} // namespace

TEST_CASE("the sound program the hostile ones are made from reads back with the layout they assume") {
    Bytes image = SoundProgram();
    char error[PeErrorCapacity] = "";
    REQUIRE(ReadPeResources(image.data(), image.size(), &list, error));
    REQUIRE(list.count == 2);
    CHECK(Get32(image, TreeAt + 16) == 5);
    CHECK(Get32(image, TreeAt + 20) == (Subdirectory | 32));
    CHECK(Get32(image, TreeAt + 28) == (Subdirectory | 56));
    CHECK(Get32(image, TreeAt + 52) == (Subdirectory | 80));
    CHECK(Get32(image, TreeAt + 76) == (Subdirectory | 104));
    CHECK(Get32(image, TreeAt + 100) == 128);
    CHECK(Get32(image, TreeAt + 124) == 144);
    CHECK(Get32(image, TreeAt + 128 + 4) == 40);
}

TEST_CASE("resource trees that share, overlap, loop back or reach outside are refused with a reason") {
    struct Damage {
        const char* what;
        size_t at; // in the tree
        uint32_t value;
        const char* reason;
    };
    const Damage damages[] = {
        {"two types sharing one name directory", 28, Subdirectory | 32, "overlap or loop back"},
        {"a name entry looping back to the root", 52, Subdirectory | 0, "overlap or loop back"},
        {"a name entry pointing at its own directory", 52, Subdirectory | 32, "overlap or loop back"},
        {"a name entry pointing at languages already read", 76, Subdirectory | 80, "overlap or loop back"},
        {"a name entry pointing at the other type's names", 52, Subdirectory | 56,
         "directory instead of data"},
        {"a data entry inside a directory", 100, 80, "overlap or loop back"},
        {"two languages sharing one data entry", 124, 128, "overlap or loop back"},
        {"a directory starting inside another", 52, Subdirectory | 36, "overlap or loop back"},
        {"types out of order", 16, 11, "out of order"},
        {"the same type twice", 24, 5, "out of order"},
        {"a named entry counted as a number", 12, 1, "out of order"},
        {"a language directory where data belong", 100, Subdirectory | 128, "directory instead of data"},
        {"a type without a directory", 20, 32, "without its directory"},
        {"an empty name directory", 32 + 14, 0, "empty resource directory"},
        {"an empty language directory", 80 + 14, 0, "empty resource directory"},
        {"a language given by name", 80 + 12, 1, "language given by name"},
        {"a number beyond 16 bits", 16, 0x10005, "out of range"},
        {"more entries than the tree can hold", 14, 0xFFFF, "more resource entries than the tree can hold"},
        {"a directory beyond the tree", 20, Subdirectory | 0x7FFFFFF0, "directory outside the tree"},
        {"a data entry beyond the tree", 100, 0x7FFFFFF0, "data entry outside the tree"},
        {"data larger than their section", 128 + 4, 0x7FFFFFFF, "resource data outside the file"},
        {"data where no section has file data", 128, 0x9000, "resource data outside the file"},
    };
    const Bytes sound = SoundProgram();
    for (const Damage& damage : damages) {
        INFO("damage: " << std::string(damage.what));
        Bytes bad = sound;
        if (damage.value > 0xFFFF || damage.at % 4 == 0)
            Put32(bad, TreeAt + damage.at, damage.value);
        else
            Put16(bad, TreeAt + damage.at, damage.value);
        CheckRefused(bad, damage.reason);
    }
}

TEST_CASE("names in a resource tree are read within it and unique") {
    static const Bytes data(8, 'n');
    PeResourceList named;
    named.count = 2;
    named.items[0] = Resource(0, "ALPHA", 1, 1041, data);
    named.items[1] = Resource(0, "BETA", 1, 1041, data);
    const Bytes sound = Rewrite(SyntheticProgram(Pe32), named);
    REQUIRE(Get32(sound, TreeAt + 12) == 2); // two named entries, no numbers
    uint32_t alpha = Get32(sound, TreeAt + 16), beta = Get32(sound, TreeAt + 24);
    REQUIRE((alpha & Subdirectory) != 0);

    Bytes same = sound; // both entries name "ALPHA"
    Put32(same, TreeAt + 24, alpha);
    CheckRefused(same, "same type, name and language");
    Bytes outside = sound;
    Put32(outside, TreeAt + 24, Subdirectory | 0xFFFFFF);
    CheckRefused(outside, "out of range");
    Bytes control = sound;
    Put16(control, TreeAt + (beta & ~Subdirectory) + 2, 7);
    CheckRefused(control, "out of range");
    Bytes tooLong = sound;
    Put16(tooLong, TreeAt + (beta & ~Subdirectory), 0x7FFF);
    CheckRefused(tooLong, "out of range");
}

TEST_CASE("a tree is measured against the section that holds its bytes") {
    const Bytes sound = SoundProgram();
    const size_t text = SectionsAt(Pe32), rsrc = text + 40;
    // An earlier section whose memory covers the resources: measured against it, the tree's size wrapped
    // to about 4 GiB and every later check passed.
    Bytes covering = sound;
    Put32(covering, text + 8, 0x200000);
    CheckRefused(covering, "sections overlap in memory");
    Bytes withoutFileData = covering;
    Put32(withoutFileData, text + 16, 0);
    CheckRefused(withoutFileData, "sections overlap in memory");
    Bytes rootOnlyInMemory = sound;
    Put32(rootOnlyInMemory, rsrc + 16, 0);
    CheckRefused(rootOnlyInMemory, "resource directory outside the file");
}

TEST_CASE("a section holds what the loader maps: its file data up to its virtual size's page end") {
    // One resource whose 16 bytes lie 0x1100 bytes into a tree of 0x1200, in a section of that raw size:
    // with a virtual size of 40, as the resource-update API of Wine writes it, the loader maps the first
    // page of it (the section alignment is 0x1000), and the data lie beyond.
    Bytes tree(0x1200, 0);
    PutDirectory(tree, 0, 0, 1);
    Put32(tree, 16, 10);
    Put32(tree, 20, Subdirectory | 24);
    PutDirectory(tree, 24, 0, 1);
    Put32(tree, 40, 7);
    Put32(tree, 44, Subdirectory | 48);
    PutDirectory(tree, 48, 0, 1);
    Put32(tree, 64, 1041);
    Put32(tree, 68, 72);
    Put32(tree, 72, TreeRva + 0x1100);
    Put32(tree, 76, 16);
    memset(&tree[0x1100], 'x', 16);
    const size_t rsrc = SectionsAt(Pe32) + 40;
    struct Mapping {
        uint32_t virtualSize;
        int read;
    };
    // 40 and 0x1000 end the mapping at 0x1000; 0x1001 and more map the second page, and with it the data.
    const Mapping mappings[] = {{40, 0}, {0x1000, 0}, {0x1001, 1}, {0x1110, 1}, {0x1200, 1}, {0, 1}};
    for (const Mapping& m : mappings) {
        CAPTURE(m.virtualSize);
        Bytes program = ProgramWithTree(tree);
        Put32(program, rsrc + 8, m.virtualSize);
        if (!m.read) {
            CheckRefused(program, "resource data outside the file");
            continue;
        }
        char error[PeErrorCapacity] = "";
        REQUIRE(ReadPeResources(program.data(), program.size(), &list, error) == 1);
        REQUIRE(list.count == 1);
        CHECK(list.items[0].size == 16);
        CHECK(memcmp(list.items[0].data, "xxxxxxxxxxxxxxxx", 16) == 0);
    }
    // A tree root of 40 bytes of virtual size with data in the same page: read, as the loader reads it.
    Bytes small = SoundProgram();
    Put32(small, rsrc + 8, 40);
    char error[PeErrorCapacity] = "";
    CHECK(ReadPeResources(small.data(), small.size(), &list, error) == 1);
    CHECK(list.count == 2);
}

TEST_CASE("a tree that makes every directory share its children is refused at the first repetition") {
    // Every one of 65535 types leads to the same 65535 names, and every name to the same language
    // directory: an earlier reader walked all 4 billion pairs.
    const uint32_t count = 0xFFFF;
    const size_t names = 16 + 8 * count, languages = names + 16 + 8 * count;
    for (uint32_t languageCount : {0u, 1u}) {
        CAPTURE(languageCount);
        Bytes tree(languages + 16 + 8 + 16 + 8, 0);
        PutDirectory(tree, 0, 0, count);
        PutDirectory(tree, names, 0, count);
        for (uint32_t i = 0; i < count; ++i) {
            Put32(tree, 16 + 8 * i, i + 1);
            Put32(tree, 16 + 8 * i + 4, Subdirectory | static_cast<uint32_t>(names));
            Put32(tree, names + 16 + 8 * i, i + 1);
            Put32(tree, names + 16 + 8 * i + 4, Subdirectory | static_cast<uint32_t>(languages));
        }
        PutDirectory(tree, languages, 0, languageCount);
        Put32(tree, languages + 16, 1041);
        Put32(tree, languages + 20, static_cast<uint32_t>(languages + 24));
        Put32(tree, languages + 24, TreeRva); // one byte of data: the root's first byte
        Put32(tree, languages + 28, 1);
        CheckRefused(ProgramWithTree(tree),
                     languageCount ? "overlap or loop back" : "empty resource directory");
    }
}

TEST_CASE("a tree with more resources than a list holds is refused, whatever its shape") {
    CheckRefused(ProgramWithTree(TreeOfTypes(PeResourceCapacity + 44)), "too many resources");
    CheckRefused(ProgramWithTree(TreeOfTypes(0xFFFF)), "too many resources");
    // The same shape within the capacity reads.
    Bytes image = ProgramWithTree(TreeOfTypes(PeResourceCapacity));
    char error[PeErrorCapacity] = "";
    CHECK(ReadPeResources(image.data(), image.size(), &list, error));
    INFO(error);
    CHECK(list.count == PeResourceCapacity);
}

TEST_CASE("the writer keeps what the loader finds elsewhere in place, and refuses what it cannot hold") {
    Bytes image = SyntheticProgram(Pe32);
    static const Bytes small(4, 's');
    PeResourceList one;
    one.count = 1;
    one.items[0] = Resource(0, "UPDATE", 102, 1041, small);
    Bytes out(PeOutputBound(image.size(), &one));
    char error[PeErrorCapacity] = "";
    REQUIRE(WritePeWithResources(image.data(), image.size(), &one, out.data(), out.size(), error) != 0);

    Bytes importsBehind = image; // an import table inside the relocation section would be left behind
    Put32(importsBehind, DirectoryAt(Pe32, 1), 0x3008);
    CHECK(WritePeWithResources(importsBehind.data(), importsBehind.size(), &one, out.data(), out.size(),
                               error) == 0);
    CHECK(strstr(error, "the loader's data lie behind the resources") != nullptr);
    Bytes debugBehind = image;
    Put32(debugBehind, DirectoryAt(Pe32, 6), 0x2000);
    CHECK(WritePeWithResources(debugBehind.data(), debugBehind.size(), &one, out.data(), out.size(), error) ==
          0);
    CHECK(strstr(error, "debug data lie behind the resources") != nullptr);

    PeResourceList huge = one; // never read: refused on its size alone
    huge.items[0].size = 0x7FFFFFF0;
    CHECK(WritePeWithResources(image.data(), image.size(), &huge, out.data(), out.size(), error) == 0);
    CHECK(strstr(error, "too large") != nullptr);
    PeResourceList unterminated = one;
    memset(unterminated.items[0].typeName, 'A', sizeof unterminated.items[0].typeName);
    CHECK(WritePeWithResources(image.data(), image.size(), &unterminated, out.data(), out.size(), error) ==
          0);
    CHECK(strstr(error, "without a sound name") != nullptr);
}

#ifdef PE_HOSTILE_DIR
TEST_CASE("the hostile programs kept from fuzzing are refused by reader and writer") {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(PE_HOSTILE_DIR)) {
        if (entry.path().extension() != ".exe") continue;
        ++files;
        CAPTURE(entry.path().string());
        std::ifstream file(entry.path(), std::ios::binary);
        Bytes image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        REQUIRE(!image.empty());
        char error[PeErrorCapacity] = "";
        CHECK(ReadPeResources(image.data(), image.size(), &list, error) == 0);
        CHECK(error[0] != '\0');
        PeResourceList none;
        none.count = 0;
        Bytes out(PeOutputBound(image.size(), &none));
        error[0] = '\0';
        CHECK(WritePeWithResources(image.data(), image.size(), &none, out.data(), out.size(), error) == 0);
        CHECK(error[0] != '\0');
    }
    CHECK(files >= 3);
}
#endif
