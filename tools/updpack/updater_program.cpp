// The updater program as the carrier of its archive: finding the "UPDATE" resource of id 102 in a program
// as the updater's FindResourceA finds it, and writing a stub with a new archive in that place. The
// program's resource section is read and rebuilt by tools/pe; nothing else of the program changes.
#include "tools/updpack/updpack.h"

#include "tools/pe/pe_resources.h"

#include <cstdlib>
#include <cstring>

namespace {
const uint16_t DialogType = 5; // RT_DIALOG
const uint16_t WizardDialogs[] = {100, 101};

int IsUpdateResource(const PeResource& resource) {
    return !strcmp(resource.typeName, "UPDATE") && !resource.nameName[0] &&
           resource.nameId == UpdateResourceId;
}

// The program's resources in a new malloc list, or null after a message.
PeResourceList* ReadResources(const unsigned char* program, size_t size, const char* label) {
    PeResourceList* list = static_cast<PeResourceList*>(malloc(sizeof(PeResourceList)));
    char error[PeErrorCapacity];
    if (!list) {
        Report("%s: out of memory", label);
        return nullptr;
    }
    if (!ReadPeResources(program, size, list, error)) {
        Report("%s: not a sound 32-bit Windows program: %s", label, error);
        free(list);
        return nullptr;
    }
    return list;
}
} // namespace

int LooksLikeProgram(const unsigned char* image, size_t size) {
    return size >= 2 && image[0] == 'M' && image[1] == 'Z';
}

unsigned char* ArchiveOfProgram(const unsigned char* program, size_t size, const char* label,
                                uint32_t* archiveSize) {
    PeResourceList* list = ReadResources(program, size, label);
    if (!list) return nullptr;
    const PeResource* found = nullptr;
    for (int i = 0; i < list->count; ++i) {
        const PeResource& resource = list->items[i];
        if (!IsUpdateResource(resource)) continue;
        if (!found || resource.language == UpdateResourceLanguage) found = &resource;
    }
    unsigned char* archive = nullptr;
    if (!found) {
        Report("%s: a program without an \"UPDATE\" resource of id %d, so it carries no archive", label,
               UpdateResourceId);
    } else {
        archive = static_cast<unsigned char*>(malloc(found->size ? found->size : 1));
        if (archive) {
            if (found->size) memcpy(archive, found->data, found->size);
            *archiveSize = found->size;
        } else {
            Report("%s: out of memory for its archive of %u bytes", label, found->size);
        }
    }
    free(list);
    return archive;
}

int EmbedArchive(const unsigned char* stub, size_t stubSize, const char* stubLabel,
                 const std::vector<unsigned char>& archive, std::vector<unsigned char>& output) {
    output.clear();
    if (!LooksLikeProgram(stub, stubSize)) {
        Report("%s: not a Windows program (no MZ header)", stubLabel);
        return 0;
    }
    PeResourceList* list = ReadResources(stub, stubSize, stubLabel);
    if (!list) return 0;
    // The wizard's templates mark the updater: another program would run without ever reading the archive.
    int dialogs = 0;
    for (uint16_t dialog : WizardDialogs) {
        for (int i = 0; i < list->count; ++i) {
            const PeResource& resource = list->items[i];
            if (!resource.typeName[0] && resource.typeId == DialogType && !resource.nameName[0] &&
                resource.nameId == dialog) {
                ++dialogs;
                break;
            }
        }
    }
    int kept = 0;
    for (int i = 0; i < list->count; ++i) {
        if (!IsUpdateResource(list->items[i])) list->items[kept++] = list->items[i];
    }
    list->count = kept;
    int embedded = 0;
    if (dialogs != 2) {
        Report("%s: not an updater stub: it lacks the wizard's dialogs 100 and 101", stubLabel);
    } else if (list->count >= PeResourceCapacity) {
        Report("%s: too many resources", stubLabel);
    } else {
        PeResource& resource = list->items[list->count++];
        memset(&resource, 0, sizeof resource);
        strcpy(resource.typeName, "UPDATE");
        resource.nameId = UpdateResourceId;
        resource.language = UpdateResourceLanguage;
        resource.data = archive.data();
        resource.size = static_cast<uint32_t>(archive.size());
        char error[PeErrorCapacity];
        output.resize(PeOutputBound(stubSize, list));
        size_t written = WritePeWithResources(stub, stubSize, list, output.data(), output.size(), error);
        if (written) {
            output.resize(written);
            embedded = 1;
        } else {
            Report("%s: cannot take the archive: %s", stubLabel, error);
            output.clear();
        }
    }
    free(list);
    return embedded;
}
