// updpack list, test and extract: what an archive holds, whether every entry comes out whole, and the
// entries back as files with their names and times.
#include "tools/updpack/updpack.h"

#include "app/program_check.h"
#include "archive/patch_decoder.h"

#include <cstdio>
#include <cstdlib>

namespace {
// Opens the archive and locates its entries; on failure the archive is closed again.
int OpenAndLocate(const char* archivePath, OpenedArchive& archive, std::vector<uint32_t>& dataOffsets) {
    if (!OpenArchive(archivePath, archive)) return 0;
    if (LocateEntries(archive, archivePath, dataOffsets)) return 1;
    CloseArchive(archive);
    return 0;
}

// Extracted files are placed a batch at a time: written and closed beside their targets, then flushed
// together and renamed. A batch bounds what an interrupted run leaves behind (temporary files only, every
// target as it was or whole) and what stays open at once.
const size_t BatchFiles = 1024;
const uint64_t BatchBytes = uint64_t(64) << 20;

// Writes the content into a new file beside the target and stamps it; it joins the batch to be placed.
int WriteExtractedFile(const std::string& target, const unsigned char* content, uint32_t size,
                       uint64_t fileTime, std::vector<HostOutput>& batch) {
    HostOutput output;
    if (!BeginHostOutput(output, target.c_str())) return 0;
    if (!WriteHostOutput(output, content, size)) {
        AbandonHostOutput(output);
        return 0;
    }
    if (!CloseHostOutput(output, &fileTime)) return 0;
    batch.push_back(output);
    return 1;
}
int IsPatch(const ArchiveEntry& entry) {
    return (entry.flags & ArchiveEntryPatch) != 0;
}

const char* EntryForm(const ArchiveEntry& entry) {
    return IsPatch(entry) ? "patch" : (entry.flags & ArchiveEntryCompressed) ? "compressed" : "stored";
}

// One entry as a JSON object: name (UTF-8), size, stored size, form and last-write time (UTC, and as the
// FILETIME number); a patch entry also names its base by size and digest, and its result's digest.
std::string EntryJson(const ArchiveEntry& entry, const unsigned char* data) {
    char time[64];
    FormatFileTime(EntryFileTime(entry), time, sizeof time);
    char numbers[160];
    snprintf(numbers, sizeof numbers, "\"size\": %u, \"storedSize\": %u, \"form\": \"%s\", ", entry.size,
             entry.storedSize, EntryForm(entry));
    char patch[160] = "";
    PatchHeader header;
    if (IsPatch(entry) && data && ReadPatchHeader(data, entry.storedSize, &header))
        snprintf(patch, sizeof patch,
                 ", \"baseSize\": %llu, \"baseDigest\": \"%016llx\", \"resultDigest\": \"%016llx\"",
                 static_cast<unsigned long long>(header.baseSize),
                 static_cast<unsigned long long>(header.baseDigest),
                 static_cast<unsigned long long>(header.resultDigest));
    return "{\"name\": " + JsonString(TextFromArchive(entry.name)) + ", " + numbers + "\"time\": \"" + time +
           " UTC\", \"fileTime\": " + std::to_string(EntryFileTime(entry)) + patch + "}";
}

// A patch entry's result, made from its base found in baseFolder, as a new malloc buffer; null after a
// message.
unsigned char* PatchedContent(const OpenedArchive& archive, const char* path, uint32_t index,
                              uint32_t dataOffset, const char* baseFolder) {
    const ArchiveEntry& entry = archive.entries[index];
    const unsigned char* patch = archive.image + dataOffset;
    std::string printable = PrintableName(entry.name);
    PatchHeader header;
    if (!ReadPatchHeader(patch, entry.storedSize, &header) || header.resultSize != entry.size) {
        Report("%s: entry %s: not a sound patch (its header does not read, or names another size)", path,
               printable.c_str());
        return nullptr;
    }
    std::string basePath;
    if (!FindBaseFile(baseFolder, entry.name, patch, entry.storedSize, basePath)) {
        Report(
            "%s: entry %s: %s holds no file of that name with the patch's base (%llu bytes, digest %016llx)",
            path, printable.c_str(), baseFolder, static_cast<unsigned long long>(header.baseSize),
            static_cast<unsigned long long>(header.baseDigest));
        return nullptr;
    }
    uint32_t baseSize = 0;
    unsigned char* base =
        ReadHostFile(basePath.c_str(), basePath.c_str(), uint64_t(1) << 32, FollowLinks, &baseSize, nullptr);
    unsigned char* result = base ? static_cast<unsigned char*>(malloc(entry.size ? entry.size : 1)) : nullptr;
    PatchFault fault = PatchNoMemory;
    if (result && !ApplyPatchInMemory(base, baseSize, patch, entry.storedSize, result, entry.size, &fault)) {
        Report("%s: entry %s: the patch does not apply to %s (%s)", path, printable.c_str(), basePath.c_str(),
               fault == PatchBaseMismatch ? "not its base" : "the patch is damaged");
        free(result);
        result = nullptr;
    }
    free(base);
    return result;
}
} // namespace

int ListArchive(const char* archivePath, int json) {
    OpenedArchive archive;
    std::vector<uint32_t> dataOffsets;
    if (!OpenAndLocate(archivePath, archive, dataOffsets)) return 0;
    if (json)
        printf("{\n  \"archive\": %s,\n  \"imageSize\": %u,\n  \"entries\": [",
               JsonString(archivePath).c_str(), archive.imageSize);
    else
        printf("%10s %10s %-10s %-19s  %s\n", "size", "stored", "form", "written (UTC)", "name");
    uint64_t totalSize = 0, totalStored = 0;
    for (uint32_t i = 0; i < archive.header->entryCount; ++i) {
        const ArchiveEntry& entry = archive.entries[i];
        if (json) {
            printf("%s\n    %s", i ? "," : "", EntryJson(entry, archive.image + dataOffsets[i]).c_str());
        } else {
            char time[64];
            FormatFileTime(EntryFileTime(entry), time, sizeof time);
            std::string name = PrintableName(entry.name);
            printf("%10u %10u %-10s %-19s  %s\n", entry.size, entry.storedSize, EntryForm(entry), time,
                   name.substr(1, name.size() - 2).c_str());
        }
        totalSize += entry.size;
        totalStored += entry.storedSize;
    }
    if (json)
        printf("%s],\n  \"entryCount\": %u,\n  \"size\": %llu,\n  \"storedSize\": %llu\n}\n",
               archive.header->entryCount ? "\n  " : "", archive.header->entryCount,
               static_cast<unsigned long long>(totalSize), static_cast<unsigned long long>(totalStored));
    else
        printf("%u entries, %llu bytes, %llu stored, image %u bytes\n", archive.header->entryCount,
               static_cast<unsigned long long>(totalSize), static_cast<unsigned long long>(totalStored),
               archive.imageSize);
    CloseArchive(archive);
    return 1;
}

namespace {
// The updater's own check of its file (app/program_check.h), told as the updater would decide it: the
// text for the table, or the JSON object; a damaged program is reported and gives 0.
int TestProgram(const char* path, const unsigned char* image, uint32_t size, std::string& text,
                std::string& json) {
    ProgramCheck check;
    int whole = CheckProgramImage(image, size, &check);
    char line[320];
    if (!check.headersRead) {
        Report("%s: the program is damaged: its headers cannot be read", path);
    } else if (!check.storedChecksum) {
        snprintf(line, sizeof line,
                 "%s: the program carries no checksum (its field is 0), so neither updpack nor the updater "
                 "checks it\n",
                 path);
        text = line;
    } else if (check.fileSize != check.expectedSize) {
        Report(
            "%s: the program is damaged: it has %u bytes, and its sections and certificate table end at %u",
            path, size, check.expectedSize);
    } else if (!whole) {
        Report("%s: the program is damaged: its checksum is 0x%08X, its bytes sum to 0x%08X", path,
               check.storedChecksum, check.checksum);
    } else {
        snprintf(line, sizeof line, "%s: the program is whole: checksum 0x%08X and length %u bytes agree\n",
                 path, check.checksum, size);
        text = line;
    }
    snprintf(line, sizeof line,
             "{\"checked\": %s, \"whole\": %s, \"checksum\": %u, \"computedChecksum\": %u, \"size\": %u, "
             "\"expectedSize\": %u}",
             check.headersRead && check.storedChecksum ? "true" : "false", whole ? "true" : "false",
             check.storedChecksum, check.checksum, size, check.expectedSize);
    json = line;
    return whole;
}
} // namespace

int TestArchive(const char* archivePath, int json, const char* baseFolder) {
    uint32_t size = 0;
    unsigned char* file =
        ReadHostFile(archivePath, archivePath, ArchiveImageLimit, FollowLinks, &size, nullptr);
    if (!file) return 0;
    // An updater is checked as it checks itself before it runs, and then its archive as any other.
    int programWhole = 1;
    std::string programText, programJson = "null";
    if (LooksLikeProgram(file, size))
        programWhole = TestProgram(archivePath, file, size, programText, programJson);
    OpenedArchive archive;
    std::vector<uint32_t> dataOffsets;
    if (!OpenArchiveFile(file, size, archivePath, archive)) return 0;
    if (!LocateEntries(archive, archivePath, dataOffsets)) {
        CloseArchive(archive);
        return 0;
    }
    uint32_t damaged = 0, unchecked = 0;
    std::string entries;
    for (uint32_t i = 0; i < archive.header->entryCount; ++i) {
        const ArchiveEntry& entry = archive.entries[i];
        const unsigned char* content;
        int owned;
        uint32_t consumed;
        uint32_t damagedBefore = damaged;
        PatchHeader header;
        if (IsPatch(entry)) {
            // Without the previous release only the header can be read.
            unsigned char* result =
                baseFolder ? PatchedContent(archive, archivePath, i, dataOffsets[i], baseFolder) : nullptr;
            if (baseFolder && !result) {
                ++damaged;
            } else if (!baseFolder &&
                       (!ReadPatchHeader(archive.image + dataOffsets[i], entry.storedSize, &header) ||
                        header.resultSize != entry.size)) {
                Report("%s: entry %s: not a sound patch (its header does not read, or names another size)",
                       archivePath, PrintableName(entry.name).c_str());
                ++damaged;
            } else if (!baseFolder) {
                ++unchecked;
            }
            free(result);
        } else if (!DecodeEntry(archive, archivePath, i, dataOffsets[i], &content, &owned, &consumed)) {
            ++damaged;
        } else {
            if (owned) free(const_cast<unsigned char*>(content));
            // Both would still be read by the updater, but no sound packer writes them: the offsets of the
            // entries after this one rest on a stored size that does not describe the data.
            if (!(entry.flags & ArchiveEntryCompressed) && entry.storedSize != entry.size) {
                Report("%s: entry %s: stored as is, but its stored size %u differs from its size %u",
                       archivePath, PrintableName(entry.name).c_str(), entry.storedSize, entry.size);
                ++damaged;
            } else if ((entry.flags & ArchiveEntryCompressed) && consumed != entry.storedSize) {
                Report("%s: entry %s: its stream ends after %u of its %u stored bytes", archivePath,
                       PrintableName(entry.name).c_str(), consumed, entry.storedSize);
                ++damaged;
            }
        }
        std::string record = EntryJson(entry, archive.image + dataOffsets[i]);
        record.insert(record.size() - 1,
                      damaged == damagedBefore ? ", \"sound\": true" : ", \"sound\": false");
        entries += (i ? ",\n    " : "\n    ") + record;
    }
    uint32_t count = archive.header->entryCount;
    CloseArchive(archive);
    if (json)
        printf("{\n  \"archive\": %s,\n  \"program\": %s,\n  \"entries\": [%s%s],\n  \"entryCount\": %u,\n"
               "  \"damaged\": %u,\n  \"sound\": %s\n}\n",
               JsonString(archivePath).c_str(), programJson.c_str(), entries.c_str(), count ? "\n  " : "",
               count, damaged, damaged || !programWhole ? "false" : "true");
    else
        fputs(programText.c_str(), stdout);
    if (damaged) {
        Report("%s: %u of %u entries damaged", archivePath, damaged, count);
        return 0;
    }
    if (unchecked)
        Report(
            "%s: %u patch entries checked for their header only; give --base OLD (the previous release) to "
            "apply them",
            archivePath, unchecked);
    if (!json) printf("%s: %u entries, all sound\n", archivePath, count);
    return programWhole;
}

int ExtractArchive(const char* archivePath, const char* folder, const char* baseFolder) {
    OpenedArchive archive;
    std::vector<uint32_t> dataOffsets;
    if (!OpenAndLocate(archivePath, archive, dataOffsets)) return 0;
    // Every name is checked before anything is written, and each one refused is named.
    uint32_t count = archive.header->entryCount;
    std::vector<std::string> hostNames(count);
    std::vector<const char*> names(count);
    int extracted = 1;
    for (uint32_t i = 0; i < count; ++i) {
        extracted &= HostNameFromArchive(archive.entries[i].name, hostNames[i]);
        names[i] = archive.entries[i].name;
    }
    // The updater finds only the first of several entries it takes for the same name. A patch comes after
    // the whole entry of its name when the archive carries both: then it makes the same file.
    std::vector<size_t> first;
    FirstOfSameNames(names, first);
    for (uint32_t i = 0; extracted && i < count; ++i) {
        if (IsPatch(archive.entries[i]) && first[i] == i && !baseFolder) {
            Report("%s: entry %s is a patch: give --base OLD, the previous release, to extract it",
                   archivePath, PrintableName(names[i]).c_str());
            extracted = 0;
        }
    }
    extracted = extracted && MakeHostFolders(folder);
    uint32_t written = 0;
    std::vector<HostOutput> batch;
    uint64_t batchBytes = 0;
    for (uint32_t i = 0; extracted && i < count; ++i) {
        const ArchiveEntry& entry = archive.entries[i];
        if (first[i] != i) {
            // A patch after the whole entry of its name makes the same file: nothing to say.
            if (!IsPatch(entry) || IsPatch(archive.entries[first[i]]))
                Report("skipping entry %u %s: the updater only ever uses the first entry of that name", i,
                       PrintableName(entry.name).c_str());
            continue;
        }
        const unsigned char* content;
        int owned = 1;
        if (IsPatch(entry)) {
            content = PatchedContent(archive, archivePath, i, dataOffsets[i], baseFolder);
            extracted = content != nullptr;
        } else {
            extracted = DecodeEntry(archive, archivePath, i, dataOffsets[i], &content, &owned, nullptr);
        }
        if (!extracted) break;
        extracted = WriteExtractedFile(HostJoin(folder, hostNames[i]), content, entry.size,
                                       EntryFileTime(entry), batch);
        if (owned) free(const_cast<unsigned char*>(content));
        batchBytes += entry.size;
        if (extracted && (batch.size() >= BatchFiles || batchBytes >= BatchBytes)) {
            written += static_cast<uint32_t>(batch.size());
            extracted = PlaceHostOutputs(batch);
            batchBytes = 0;
        }
    }
    if (extracted && !batch.empty()) {
        written += static_cast<uint32_t>(batch.size());
        extracted = PlaceHostOutputs(batch);
    }
    // What a failure left unplaced is removed; the targets stay as they were.
    for (HostOutput& output : batch)
        AbandonHostOutput(output);
    CloseArchive(archive);
    if (extracted) printf("%s: %u files written to %s\n", archivePath, written, folder);
    return extracted;
}
