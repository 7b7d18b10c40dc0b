// Reads and rebuilds the resource section of a Windows program, 32-bit (PE32, i686) or 64-bit (PE32+,
// x86-64): the two differ here only in the optional header, whose 64-bit fields push the data directories
// 16 bytes further; every other field the rewrite touches, the checksum among them, sits at the same
// offset in both. The resource section is rebuilt in place of the old one, which must be the last section
// but for a base-relocation section; that one is moved behind the new resources (the loader finds it
// through its data directory only). Every read of the input is bounds-checked: a foreign or damaged file
// is refused with a reason, never followed.
#include "tools/pe/pe_resources.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum : uint32_t {
    DosHeaderSize = 64,
    CoffHeaderSize = 20,
    SectionHeaderSize = 40,
    OptionalMagicPe32 = 0x10b,
    OptionalMagicPe32Plus = 0x20b,
    MachineI386 = 0x14c,
    MachineAmd64 = 0x8664,
    DirectoriesPe32 = 96, // offset of the data directories in the optional header
    DirectoriesPe32Plus = 112,
    DirectoryResource = 2,
    DirectorySecurity = 4,
    DirectoryRelocation = 5,
    DirectoryDebug = 6,
    DirectoryBoundImport = 11,
    MaxResourceBytes = 0x70000000, // with the tree, the rebuilt section stays below 2 GiB
    MaxSections = 96,
    SubdirectoryFlag = 0x80000000u,
};

uint16_t Read16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Read32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void Write16(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void Write32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}
uint32_t AlignUp(uint32_t value, uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

void SetError(char* error, const char* text) {
    if (error) snprintf(error, PeErrorCapacity, "%s", text);
}

struct Section {
    uint32_t virtualSize, virtualAddress, rawSize, rawPointer;
    uint32_t heldSize; // the file bytes the loader maps: the raw data, cut where the section's memory ends
    size_t headerOffset;
};

// The parts of the headers the rewrite needs, validated against the file.
struct PeLayout {
    size_t coffOffset, optionalOffset, sectionTableOffset;
    uint32_t directoriesAt; // within the optional header
    uint32_t sectionCount, sectionAlignment, fileAlignment, sizeOfHeaders, directoryCount;
    Section sections[MaxSections];
};

size_t DirectoryOffset(const PeLayout& pe, uint32_t index) {
    return pe.optionalOffset + pe.directoriesAt + 8 * index;
}

int ParseLayout(const unsigned char* image, size_t size, PeLayout* pe, char* error) {
    memset(pe, 0, sizeof *pe);
    if (size < DosHeaderSize || image[0] != 'M' || image[1] != 'Z') {
        SetError(error, "not a Windows program (no MZ header)");
        return 0;
    }
    uint32_t peOffset = Read32(image + 0x3C);
    if (peOffset > size || size - peOffset < 4 + CoffHeaderSize ||
        memcmp(image + peOffset, "PE\0\0", 4) != 0) {
        SetError(error, "not a Windows program (no PE header)");
        return 0;
    }
    pe->coffOffset = peOffset + 4;
    const unsigned char* coff = image + pe->coffOffset;
    uint32_t machine = Read16(coff);
    if (machine != MachineI386 && machine != MachineAmd64) {
        SetError(error, "not a 32-bit x86 program, nor an x86-64 one");
        return 0;
    }
    int wide = machine == MachineAmd64;
    pe->directoriesAt = wide ? DirectoriesPe32Plus : DirectoriesPe32;
    pe->sectionCount = Read16(coff + 2);
    uint32_t optionalSize = Read16(coff + 16);
    pe->optionalOffset = pe->coffOffset + CoffHeaderSize;
    if (optionalSize < pe->directoriesAt || pe->optionalOffset + optionalSize > size) {
        SetError(error, wide ? "not a 64-bit program (bad optional header)"
                             : "not a 32-bit program (bad optional header)");
        return 0;
    }
    uint32_t magic = Read16(image + pe->optionalOffset);
    if (magic != (wide ? OptionalMagicPe32Plus : OptionalMagicPe32)) {
        SetError(error, !wide ? "not a 32-bit program (bad optional header)"
                        : magic == OptionalMagicPe32
                            ? "not a 32-bit x86 program: an x86-64 machine with a 32-bit optional header"
                            : "not a 64-bit program (bad optional header)");
        return 0;
    }
    const unsigned char* optional = image + pe->optionalOffset;
    pe->sectionAlignment = Read32(optional + 32);
    pe->fileAlignment = Read32(optional + 36);
    pe->sizeOfHeaders = Read32(optional + 60);
    pe->directoryCount = Read32(optional + pe->directoriesAt - 4);
    if (pe->fileAlignment < 512 || pe->fileAlignment > 65536 ||
        (pe->fileAlignment & (pe->fileAlignment - 1)) || pe->sectionAlignment < pe->fileAlignment ||
        (pe->sectionAlignment & (pe->sectionAlignment - 1))) {
        SetError(error, "bad section or file alignment");
        return 0;
    }
    if (pe->directoryCount < DirectoryRelocation + 2 ||
        pe->directoriesAt + 8 * static_cast<uint64_t>(pe->directoryCount) > optionalSize) {
        SetError(error, "too few data directories");
        return 0;
    }
    if (pe->sectionCount == 0 || pe->sectionCount > MaxSections) {
        SetError(error, "bad number of sections");
        return 0;
    }
    pe->sectionTableOffset = pe->optionalOffset + optionalSize;
    if (pe->sectionTableOffset + static_cast<size_t>(pe->sectionCount) * SectionHeaderSize > size ||
        pe->sectionTableOffset + static_cast<size_t>(pe->sectionCount) * SectionHeaderSize >
            pe->sizeOfHeaders) {
        SetError(error, "section table outside the headers");
        return 0;
    }
    uint64_t previousEnd = pe->sizeOfHeaders, previousVirtualEnd = 0;
    for (uint32_t i = 0; i < pe->sectionCount; ++i) {
        Section& s = pe->sections[i];
        s.headerOffset = pe->sectionTableOffset + i * SectionHeaderSize;
        const unsigned char* header = image + s.headerOffset;
        s.virtualSize = Read32(header + 8);
        s.virtualAddress = Read32(header + 12);
        s.rawSize = Read32(header + 16);
        s.rawPointer = Read32(header + 20);
        if (s.rawSize != 0) {
            if (s.rawPointer < previousEnd || s.rawPointer > size || s.rawSize > size - s.rawPointer) {
                SetError(error, "section data outside the file or out of order");
                return 0;
            }
            previousEnd = static_cast<uint64_t>(s.rawPointer) + s.rawSize;
        }
        if (i > 0 && s.virtualAddress <= pe->sections[i - 1].virtualAddress) {
            SetError(error, "sections out of order");
            return 0;
        }
        // Each address belongs to one section at most, so that whatever is found at an address is
        // measured against the section that holds it.
        uint64_t extent = s.virtualSize ? s.virtualSize : s.rawSize;
        uint64_t virtualEnd = s.virtualAddress + (extent + pe->sectionAlignment - 1) / pe->sectionAlignment *
                                                     pe->sectionAlignment;
        if (s.virtualAddress < previousVirtualEnd || virtualEnd > 0xFFFFFFFFu) {
            SetError(error, "sections overlap in memory");
            return 0;
        }
        previousVirtualEnd = virtualEnd;
        // The loader maps whole pages: data past the virtual size, up to the section's aligned end in
        // memory, is there too (the resource-update API of Wine writes sections that hold data there).
        uint64_t mapped = virtualEnd - s.virtualAddress;
        s.heldSize = mapped < s.rawSize ? static_cast<uint32_t>(mapped) : s.rawSize;
    }
    return 1;
}

// The section whose file data hold count bytes at rva, or null.
const Section* SectionHolding(const PeLayout& pe, uint32_t rva, uint32_t count) {
    for (uint32_t i = 0; i < pe.sectionCount; ++i) {
        const Section& s = pe.sections[i];
        if (rva >= s.virtualAddress && rva - s.virtualAddress < s.heldSize &&
            count <= s.heldSize - (rva - s.virtualAddress))
            return &s;
    }
    return nullptr;
}

// File offset of count bytes at rva, or 0 when no section's file data hold them.
size_t RvaToOffset(const PeLayout& pe, uint32_t rva, uint32_t count) {
    const Section* s = SectionHolding(pe, rva, count);
    return s ? s->rawPointer + (rva - s->virtualAddress) : 0;
}

// Reads a directory entry's name: a number, or a string of printable ASCII (upper-cased).
int ReadEntryName(const unsigned char* root, uint32_t rootSize, uint32_t field, uint16_t* id, char* name) {
    name[0] = '\0';
    *id = 0;
    if (!(field & SubdirectoryFlag)) {
        if (field > 0xFFFF) return 0;
        *id = static_cast<uint16_t>(field);
        return 1;
    }
    uint32_t offset = field & ~SubdirectoryFlag;
    if (offset > rootSize || rootSize - offset < 2) return 0;
    uint32_t length = Read16(root + offset);
    if (length == 0 || length >= 64 || (rootSize - offset - 2) / 2 < length) return 0;
    for (uint32_t i = 0; i < length; ++i) {
        uint16_t c = Read16(root + offset + 2 + 2 * i);
        if (c < 0x20 || c > 0x7E) return 0;
        name[i] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    name[length] = '\0';
    return 1;
}

enum { MaxClaims = 4 + 3 * PeResourceCapacity };

// The resource tree being read. Offsets inside it are relative to its root and reach to the end of the
// file data of the section that holds the root, never further. Every directory and data entry claims its
// bytes when it is visited: a second claim on the same bytes is a tree that shares a directory, overlaps
// itself or loops back, whose walk would repeat itself without end, so it is refused. Each subdirectory
// leads to at least one resource, so the walk stops after a bounded number of claims.
struct Tree {
    const unsigned char* root;
    uint32_t size;
    uint32_t claimBegin[MaxClaims], claimEnd[MaxClaims];
    int claims;
};

// A directory of the tree: where it starts, how many of its entries are named and how many there are.
struct Directory {
    uint32_t offset, named, count;
};

// Claims length bytes at offset, which the caller has checked lie in the tree.
int Claim(Tree* tree, uint32_t offset, uint32_t length, char* error) {
    uint32_t end = offset + length;
    for (int i = 0; i < tree->claims; ++i) {
        if (offset < tree->claimEnd[i] && tree->claimBegin[i] < end) {
            SetError(error, "resource directories overlap or loop back");
            return 0;
        }
    }
    if (tree->claims == MaxClaims) {
        SetError(error, "too many resources");
        return 0;
    }
    tree->claimBegin[tree->claims] = offset;
    tree->claimEnd[tree->claims++] = end;
    return 1;
}

// Opens the directory that an entry's target field points at. Below the root a directory is never
// empty: an empty one would stand for no resource at all.
int OpenDirectory(Tree* tree, uint32_t field, int mayBeEmpty, Directory* directory, char* error) {
    if (!(field & SubdirectoryFlag)) {
        SetError(error, "a resource entry without its directory");
        return 0;
    }
    uint32_t offset = field & ~SubdirectoryFlag;
    if (offset > tree->size || tree->size - offset < 16) {
        SetError(error, "resource directory outside the tree");
        return 0;
    }
    directory->offset = offset;
    directory->named = Read16(tree->root + offset + 12);
    directory->count = directory->named + Read16(tree->root + offset + 14);
    if ((tree->size - offset - 16) / 8 < directory->count) {
        SetError(error, "more resource entries than the tree can hold");
        return 0;
    }
    if (directory->count == 0 && !mayBeEmpty) {
        SetError(error, "an empty resource directory");
        return 0;
    }
    return Claim(tree, offset, 16 + 8 * directory->count, error);
}

const unsigned char* Entry(const Tree& tree, const Directory& directory, uint32_t index) {
    return tree.root + directory.offset + 16 + 8 * index;
}

// Reads the key of an entry. Windows finds entries by binary search, named entries first and numbers
// ascending; it would read a directory in another order differently, so such a directory is refused.
int ReadEntryKey(const Tree& tree, const Directory& directory, uint32_t index, uint16_t* id, char* name,
                 char* error) {
    const unsigned char* entry = Entry(tree, directory, index);
    uint32_t field = Read32(entry);
    int named = (field & SubdirectoryFlag) != 0;
    if (named != (index < directory.named) ||
        (!named && index > directory.named && Read32(entry - 8) >= field)) {
        SetError(error, "resource entries out of order");
        return 0;
    }
    if (!ReadEntryName(tree.root, tree.size, field, id, name)) {
        SetError(error, "a resource name or number out of range");
        return 0;
    }
    return 1;
}

// Reads the data entry a language entry points at: where the resource's bytes are, how many, in which
// code page. The bytes must lie in the file data of one section.
int ReadDataEntry(const PeLayout& pe, const unsigned char* image, Tree* tree, uint32_t field,
                  PeResource* resource, char* error) {
    if (field & SubdirectoryFlag) {
        SetError(error, "a resource language with a directory instead of data");
        return 0;
    }
    if (field > tree->size || tree->size - field < 16) {
        SetError(error, "resource data entry outside the tree");
        return 0;
    }
    if (!Claim(tree, field, 16, error)) return 0;
    uint32_t dataRva = Read32(tree->root + field);
    resource->size = Read32(tree->root + field + 4);
    resource->codePage = Read32(tree->root + field + 8);
    size_t dataOffset = resource->size ? RvaToOffset(pe, dataRva, resource->size) : 0;
    if (resource->size && !dataOffset) {
        SetError(error, "resource data outside the file");
        return 0;
    }
    resource->data = resource->size ? image + dataOffset : image;
    return 1;
}

// Walks the three levels of the tree (type, name, language) into list.
int ReadTree(const PeLayout& pe, const unsigned char* image, Tree* tree, PeResourceList* list, char* error) {
    Directory types, names, languages;
    if (!OpenDirectory(tree, SubdirectoryFlag, 1, &types, error)) return 0;
    for (uint32_t t = 0; t < types.count; ++t) {
        PeResource resource;
        memset(&resource, 0, sizeof resource);
        if (!ReadEntryKey(*tree, types, t, &resource.typeId, resource.typeName, error) ||
            !OpenDirectory(tree, Read32(Entry(*tree, types, t) + 4), 0, &names, error))
            return 0;
        for (uint32_t n = 0; n < names.count; ++n) {
            if (!ReadEntryKey(*tree, names, n, &resource.nameId, resource.nameName, error) ||
                !OpenDirectory(tree, Read32(Entry(*tree, names, n) + 4), 0, &languages, error))
                return 0;
            if (languages.named) {
                SetError(error, "a resource language given by name");
                return 0;
            }
            for (uint32_t l = 0; l < languages.count; ++l) {
                char unnamed[64];
                if (list->count >= PeResourceCapacity) {
                    SetError(error, "too many resources");
                    return 0;
                }
                if (!ReadEntryKey(*tree, languages, l, &resource.language, unnamed, error) ||
                    !ReadDataEntry(pe, image, tree, Read32(Entry(*tree, languages, l) + 4), &resource, error))
                    return 0;
                list->items[list->count++] = resource;
            }
        }
    }
    return 1;
}

// Order of entries within one directory level: names first (ordinal), then numbers ascending.
int CompareKey(uint16_t idA, const char* nameA, uint16_t idB, const char* nameB) {
    if (nameA[0] && nameB[0]) return strcmp(nameA, nameB);
    if (nameA[0]) return -1;
    if (nameB[0]) return 1;
    return idA < idB ? -1 : idA > idB ? 1 : 0;
}

int CompareResources(const void* a, const void* b) {
    const PeResource* x = static_cast<const PeResource*>(a);
    const PeResource* y = static_cast<const PeResource*>(b);
    int order = CompareKey(x->typeId, x->typeName, y->typeId, y->typeName);
    if (order == 0) order = CompareKey(x->nameId, x->nameName, y->nameId, y->nameName);
    if (order == 0) order = x->language < y->language ? -1 : x->language > y->language ? 1 : 0;
    return order;
}

bool SameType(const PeResource& a, const PeResource& b) {
    return a.typeId == b.typeId && strcmp(a.typeName, b.typeName) == 0;
}
bool SameName(const PeResource& a, const PeResource& b) {
    return SameType(a, b) && a.nameId == b.nameId && strcmp(a.nameName, b.nameName) == 0;
}

void WriteDirectoryHeader(unsigned char* out, uint32_t at, int named, int numbered) {
    Write16(out + at + 12, static_cast<uint32_t>(named));
    Write16(out + at + 14, static_cast<uint32_t>(numbered));
}

// Writes a length-prefixed UTF-16 name and returns the offset behind it.
uint32_t WriteNameString(unsigned char* out, uint32_t at, const char* text) {
    uint32_t length = static_cast<uint32_t>(strlen(text));
    Write16(out + at, length);
    for (uint32_t k = 0; k < length; ++k)
        Write16(out + at + 2 + 2 * k, static_cast<unsigned char>(text[k]));
    return at + 2 + 2 * length;
}

// Lays the resource tree out at section-relative offsets. With out null it only measures.
uint32_t BuildTree(const PeResource* items, int count, uint32_t sectionRva, unsigned char* out) {
    int types = 0, names = 0;
    for (int i = 0; i < count; ++i) {
        if (i == 0 || !SameType(items[i], items[i - 1])) ++types;
        if (i == 0 || !SameName(items[i], items[i - 1])) ++names;
    }
    uint32_t offset = 16 + 8 * types;  // root directory
    uint32_t nameDirectories = offset; // one per type
    offset += 16 * types + 8 * names;
    uint32_t languageDirectories = offset; // one per (type, name)
    offset += 16 * names + 8 * count;
    uint32_t dataEntries = offset;
    offset += 16 * count;
    uint32_t strings = offset;
    for (int i = 0; i < count; ++i) {
        if (items[i].typeName[0] && (i == 0 || !SameType(items[i], items[i - 1])))
            offset += 2 + 2 * static_cast<uint32_t>(strlen(items[i].typeName));
        if (items[i].nameName[0] && (i == 0 || !SameName(items[i], items[i - 1])))
            offset += 2 + 2 * static_cast<uint32_t>(strlen(items[i].nameName));
    }
    uint32_t blobs = AlignUp(offset, 8);
    uint32_t end = blobs;
    for (int i = 0; i < count; ++i)
        end = AlignUp(end + items[i].size, 8);
    if (!out) return end;

    memset(out, 0, end);
    uint32_t stringCursor = strings, blobCursor = blobs;
    uint32_t nameDirectory = nameDirectories, languageDirectory = languageDirectories;
    int typeIndex = 0, typeNamed = 0, typeNumbered = 0;
    for (int i = 0; i < count; ++i)
        if (i == 0 || !SameType(items[i], items[i - 1])) (items[i].typeName[0] ? typeNamed : typeNumbered)++;
    WriteDirectoryHeader(out, 0, typeNamed, typeNumbered);

    int i = 0;
    while (i < count) {
        int typeEnd = i;
        while (typeEnd < count && SameType(items[typeEnd], items[i]))
            ++typeEnd;
        int nameCount = 0, named = 0;
        for (int k = i; k < typeEnd; ++k)
            if (k == i || !SameName(items[k], items[k - 1])) {
                ++nameCount;
                if (items[k].nameName[0]) ++named;
            }
        uint32_t typeEntry = 16 + 8 * static_cast<uint32_t>(typeIndex++);
        if (items[i].typeName[0]) {
            Write32(out + typeEntry, SubdirectoryFlag | stringCursor);
            stringCursor = WriteNameString(out, stringCursor, items[i].typeName);
        } else {
            Write32(out + typeEntry, items[i].typeId);
        }
        Write32(out + typeEntry + 4, SubdirectoryFlag | nameDirectory);
        WriteDirectoryHeader(out, nameDirectory, named, nameCount - named);
        uint32_t nameEntry = nameDirectory + 16;
        nameDirectory += 16 + 8 * static_cast<uint32_t>(nameCount);

        int j = i;
        while (j < typeEnd) {
            int nameEnd = j;
            while (nameEnd < typeEnd && SameName(items[nameEnd], items[j]))
                ++nameEnd;
            if (items[j].nameName[0]) {
                Write32(out + nameEntry, SubdirectoryFlag | stringCursor);
                stringCursor = WriteNameString(out, stringCursor, items[j].nameName);
            } else {
                Write32(out + nameEntry, items[j].nameId);
            }
            Write32(out + nameEntry + 4, SubdirectoryFlag | languageDirectory);
            nameEntry += 8;
            WriteDirectoryHeader(out, languageDirectory, 0, nameEnd - j);
            uint32_t languageEntry = languageDirectory + 16;
            languageDirectory += 16 + 8 * static_cast<uint32_t>(nameEnd - j);
            for (int k = j; k < nameEnd; ++k) {
                uint32_t dataEntry = dataEntries + 16 * static_cast<uint32_t>(k);
                Write32(out + languageEntry, items[k].language);
                Write32(out + languageEntry + 4, dataEntry);
                languageEntry += 8;
                Write32(out + dataEntry, sectionRva + blobCursor);
                Write32(out + dataEntry + 4, items[k].size);
                Write32(out + dataEntry + 8, items[k].codePage);
                if (items[k].size) memcpy(out + blobCursor, items[k].data, items[k].size);
                blobCursor = AlignUp(blobCursor + items[k].size, 8);
            }
            j = nameEnd;
        }
        i = typeEnd;
    }
    return end;
}

} // namespace

int ReadPeResources(const unsigned char* image, size_t size, PeResourceList* list, char* error) {
    list->count = 0;
    PeLayout pe;
    if (!ParseLayout(image, size, &pe, error)) return 0;
    const unsigned char* directory = image + DirectoryOffset(pe, DirectoryResource);
    uint32_t rootRva = Read32(directory), rootSize = Read32(directory + 4);
    if (rootRva == 0 && rootSize == 0) return 1;
    const Section* section = SectionHolding(pe, rootRva, 16);
    if (!section) {
        SetError(error, "resource directory outside the file");
        return 0;
    }
    Tree tree;
    tree.root = image + section->rawPointer + (rootRva - section->virtualAddress);
    tree.size = section->heldSize - (rootRva - section->virtualAddress);
    tree.claims = 0;
    if (!ReadTree(pe, image, &tree, list, error)) {
        list->count = 0;
        return 0;
    }
    // Windows would find only one of two resources with the same key.
    for (int i = 0; i < list->count; ++i) {
        for (int k = i + 1; k < list->count; ++k) {
            if (CompareResources(&list->items[i], &list->items[k]) == 0) {
                SetError(error, "two resources with the same type, name and language");
                list->count = 0;
                return 0;
            }
        }
    }
    return 1;
}

uint32_t PeResourceSectionSize(const unsigned char* image, size_t size) {
    PeLayout pe;
    if (!ParseLayout(image, size, &pe, nullptr)) return 0;
    const Section* section = SectionHolding(pe, Read32(image + DirectoryOffset(pe, DirectoryResource)), 16);
    return section ? section->rawSize : 0;
}

size_t PeOutputBound(size_t imageSize, const PeResourceList* list) {
    uint64_t bound = static_cast<uint64_t>(imageSize) + 3 * 65536 + 64;
    for (int i = 0; i < list->count; ++i)
        bound += static_cast<uint64_t>(list->items[i].size) + 16 + 3 * (16 + 8) + 2 * (2 + 128) + 8;
    // Beyond what size_t holds the writer refuses anyway.
    return bound < SIZE_MAX ? static_cast<size_t>(bound) : SIZE_MAX;
}

uint32_t PeChecksum(const unsigned char* image, size_t size) {
    uint64_t sum = 0;
    size_t checksumOffset = 0;
    if (size >= DosHeaderSize) {
        uint32_t peOffset = Read32(image + 0x3C);
        if (peOffset < size && size - peOffset >= 4 + CoffHeaderSize + 68)
            checksumOffset = peOffset + 4 + 20 + 64;
    }
    for (size_t i = 0; i < size; i += 2) {
        if (checksumOffset && (i == checksumOffset || i == checksumOffset + 2)) continue;
        uint32_t word = image[i] | (i + 1 < size ? image[i + 1] << 8 : 0);
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum) + static_cast<uint32_t>(size);
}

size_t WritePeWithResources(const unsigned char* image, size_t size, const PeResourceList* list,
                            unsigned char* output, size_t capacity, char* error) {
    PeLayout pe;
    if (!ParseLayout(image, size, &pe, error)) return 0;
    const unsigned char* optional = image + pe.optionalOffset;
    uint32_t rootRva = Read32(image + DirectoryOffset(pe, DirectoryResource));
    int rsrc = -1;
    for (uint32_t i = 0; rootRva && i < pe.sectionCount; ++i)
        if (pe.sections[i].virtualAddress == rootRva) rsrc = static_cast<int>(i);
    if (rsrc < 0) {
        SetError(error, "the program has no resource section of its own");
        return 0;
    }
    uint32_t relocationRva = Read32(image + DirectoryOffset(pe, DirectoryRelocation));
    for (uint32_t i = static_cast<uint32_t>(rsrc) + 1; i < pe.sectionCount; ++i) {
        if (pe.sections[i].virtualAddress != relocationRva || i + 1 != pe.sectionCount) {
            SetError(error, "sections other than relocations follow the resources");
            return 0;
        }
    }
    bool movesRelocations = static_cast<uint32_t>(rsrc) + 1 < pe.sectionCount;
    const Section& last = pe.sections[pe.sectionCount - 1];
    // A signature covers the whole file: any rewrite breaks it, so the signing comes after.
    if (Read32(image + DirectoryOffset(pe, DirectorySecurity)) != 0 ||
        Read32(image + DirectoryOffset(pe, DirectorySecurity) + 4) != 0) {
        SetError(error,
                 "the program is signed (it carries a certificate table), and adding the archive would "
                 "break the signature: build from the unsigned stub, then sign the built updater");
        return 0;
    }
    if (Read32(image + pe.coffOffset + 8) != 0 || (last.rawSize && size != last.rawPointer + last.rawSize)) {
        SetError(error, "the program carries symbols or data after its sections");
        return 0;
    }
    // Whatever else the loader finds through a directory must stay where it is. (The security directory
    // holds a file offset, the bound imports one inside the headers.)
    for (uint32_t i = 0; i < pe.directoryCount && i < 16; ++i) {
        if (i == DirectoryResource || i == DirectorySecurity || i == DirectoryRelocation ||
            i == DirectoryBoundImport)
            continue;
        uint32_t rva = Read32(image + DirectoryOffset(pe, i));
        if (rva && rva >= rootRva) {
            if (error)
                snprintf(error, PeErrorCapacity, "%s data lie behind the resources",
                         i == DirectoryDebug ? "debug" : "the loader's");
            return 0;
        }
    }
    uint64_t total = 0;
    for (int i = 0; i < list->count; ++i) {
        const PeResource& r = list->items[i];
        if (list->count > PeResourceCapacity || memchr(r.typeName, 0, sizeof r.typeName) == nullptr ||
            memchr(r.nameName, 0, sizeof r.nameName) == nullptr || (r.size && !r.data)) {
            SetError(error, "a resource without a sound name or data");
            return 0;
        }
        total += r.size;
    }
    if (total > MaxResourceBytes) {
        SetError(error, "resources too large for a program");
        return 0;
    }

    PeResourceList* sorted = static_cast<PeResourceList*>(malloc(sizeof(PeResourceList)));
    if (!sorted) {
        SetError(error, "out of memory");
        return 0;
    }
    memcpy(sorted, list, sizeof *sorted);
    qsort(sorted->items, static_cast<size_t>(sorted->count), sizeof(PeResource), CompareResources);
    for (int i = 1; i < sorted->count; ++i) {
        if (CompareResources(&sorted->items[i - 1], &sorted->items[i]) == 0) {
            free(sorted);
            SetError(error, "two resources with the same type, name and language");
            return 0;
        }
    }

    const Section& old = pe.sections[rsrc];
    uint32_t treeSize = BuildTree(sorted->items, sorted->count, old.virtualAddress, nullptr);
    uint32_t rsrcRaw = AlignUp(treeSize, pe.fileAlignment);
    size_t relocationRaw = movesRelocations ? last.rawSize : 0;
    size_t outputSize = static_cast<size_t>(old.rawPointer) + rsrcRaw + relocationRaw;
    if (outputSize > capacity || old.rawPointer > size) {
        free(sorted);
        SetError(error, "output buffer too small");
        return 0;
    }

    memcpy(output, image, old.rawPointer);
    BuildTree(sorted->items, sorted->count, old.virtualAddress, output + old.rawPointer);
    memset(output + old.rawPointer + treeSize, 0, rsrcRaw - treeSize);
    free(sorted);

    unsigned char* header = output + old.headerOffset;
    Write32(header + 8, treeSize);
    Write32(header + 16, rsrcRaw);
    uint32_t imageEnd = old.virtualAddress + treeSize;
    if (movesRelocations) {
        uint32_t newRva = AlignUp(imageEnd, pe.sectionAlignment);
        uint32_t newPointer = old.rawPointer + rsrcRaw;
        memcpy(output + newPointer, image + last.rawPointer, last.rawSize);
        unsigned char* relocationHeader = output + last.headerOffset;
        Write32(relocationHeader + 12, newRva);
        Write32(relocationHeader + 20, newPointer);
        Write32(output + DirectoryOffset(pe, DirectoryRelocation),
                newRva + (relocationRva - last.virtualAddress));
        imageEnd = newRva + (last.virtualSize ? last.virtualSize : last.rawSize);
    }
    unsigned char* newOptional = output + pe.optionalOffset;
    uint32_t initialized = Read32(optional + 8) - old.rawSize + rsrcRaw;
    Write32(newOptional + 8, initialized);
    Write32(newOptional + 56, AlignUp(imageEnd, pe.sectionAlignment));
    Write32(output + DirectoryOffset(pe, DirectoryResource), old.virtualAddress);
    Write32(output + DirectoryOffset(pe, DirectoryResource) + 4, treeSize);
    Write32(newOptional + 64, 0);
    Write32(newOptional + 64, PeChecksum(output, outputSize));
    return outputSize;
}
