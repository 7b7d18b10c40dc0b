// The shipped update.exe checked in its file, natively, with the publisher's own resource reader: a 32-bit
// GUI program whose resources are exactly the two wizard templates and the manifest (and the archive, when
// the build was given one). It holds on every host, including those that cannot run 32-bit programs, where
// resource_tests.cpp cannot load this file under Wine.
#include "tests/app/update_resource_checks.h"
#include "tools/pe/pe_resources.h"

#include <doctest/doctest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {
std::vector<unsigned char> ReadProgram() {
    std::ifstream file(UPDATE_STUB_PATH, std::ios::binary);
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
} // namespace

TEST_CASE("the shipped update.exe is a 32-bit GUI program") {
    std::vector<unsigned char> image = ReadProgram();
    CAPTURE(UPDATE_STUB_PATH);
    REQUIRE(image.size() > 0x200);
    CHECK(Field(image, 0, 2) == 0x5A4D); // "MZ"
    size_t header = Field(image, 0x3C, 4);
    REQUIRE(header + 24 + 0x60 <= image.size());
    CHECK(Field(image, header, 4) == 0x4550);      // "PE\0\0"
    CHECK(Field(image, header + 4, 2) == 0x14C);   // i386
    CHECK(Field(image, header + 24, 2) == 0x10B);  // PE32 optional header
    CHECK(Field(image, header + 24 + 68, 2) == 2); // the Windows GUI subsystem: no console window
}

TEST_CASE("the shipped update.exe carries the templates, the manifest and nothing else") {
    std::vector<unsigned char> image = ReadProgram();
    REQUIRE(!image.empty());
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
