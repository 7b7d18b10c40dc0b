// updpack diff: an update folder from two release folders. The new and changed files of the new release
// (by content) are copied into OUT under their bare names, and OUT's "UPDATE.INI" lists them by their
// paths, with the "[SETUP]" it is given and the modes it already had, and the free space the two-phase
// update needs. Everything that can be refused is refused before OUT is touched.
#include "tools/updpack/updpack.h"

#include "context/update_plan_model.h"
#include "platform/text_format.h"
#include "update/update_plan.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace {
const char ProfileName[] = "UPDATE.INI";
// A new file whose previous release is missing or of another size: changed without a byte read.
const uint64_t NotCompared = ~uint64_t(0);

struct ReleaseFile {
    std::string relative; // UTF-8, "/" between parts
    uint64_t size;
    uint64_t fileTime;
};

// Every regular file below folder, by relative path; links and special files are reported and left out.
int ListRelease(const std::string& folder, const std::string& prefix, int depth,
                std::map<std::string, ReleaseFile>& files) {
    std::vector<HostFolderItem> items;
    if (depth > 32 || !ListHostFolder(folder.c_str(), items)) return 0;
    int listed = 1;
    for (const HostFolderItem& item : items) {
        std::string relative = prefix.empty() ? item.name : prefix + "/" + item.name;
        if (item.kind == HostSubfolder) {
            listed &= ListRelease(HostJoin(folder, item.name), relative, depth + 1, files);
        } else if (item.kind == HostRegularFile) {
            files[relative] = {relative, item.size, item.fileTime};
        } else {
            Report("warning: %s: not a regular file: left out", relative.c_str());
        }
    }
    return listed;
}

// Whether two files hold the same bytes (read with the tool's own reader, which knows the host's names).
int SameContent(const std::string& a, const std::string& b) {
    uint32_t sizeA = 0, sizeB = 0;
    unsigned char* x = ReadHostFile(a.c_str(), a.c_str(), uint64_t(1) << 32, FollowLinks, &sizeA, nullptr);
    unsigned char* y =
        x ? ReadHostFile(b.c_str(), b.c_str(), uint64_t(1) << 32, FollowLinks, &sizeB, nullptr) : nullptr;
    int same = x && y && sizeA == sizeB && memcmp(x, y, sizeA) == 0;
    free(x);
    free(y);
    return same;
}

// The relative path in code page 932 with "\" between parts, as "UPDATE.INI" names it; 0 when a part has
// no code page 932 form.
int ArchivePath(const std::string& relative, std::string& path) {
    path.clear();
    size_t at = 0;
    for (;;) {
        size_t slash = relative.find('/', at);
        std::string part;
        if (!ArchiveNameFromHost(relative.substr(at, slash == std::string::npos ? slash : slash - at).c_str(),
                                 part))
            return 0;
        path += part;
        if (slash == std::string::npos) return 1;
        path += '\\';
        at = slash + 1;
    }
}

std::string BareName(const std::string& relative) {
    size_t slash = relative.rfind('/');
    return slash == std::string::npos ? relative : relative.substr(slash + 1);
}

// The lines of a profile's section (without its header), as they stand.
std::vector<std::string> SectionLines(const std::string& text, const char* section) {
    std::vector<std::string> lines;
    bool inside = false;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t first = line.find_first_not_of(" \t");
        if (first != std::string::npos && line[first] == '[') {
            size_t close = line.find(']', first);
            std::string name =
                line.substr(first + 1, close == std::string::npos ? std::string::npos : close - first - 1);
            inside = SameArchiveName(name.c_str(), section);
            continue;
        }
        if (inside) lines.push_back(line);
    }
    while (!lines.empty() && lines.back().find_first_not_of(" \t") == std::string::npos)
        lines.pop_back();
    return lines;
}

std::string ReadText(const std::string& path) {
    uint32_t size = 0;
    unsigned char* content =
        ReadHostFile(path.c_str(), path.c_str(), uint64_t(1) << 24, FollowLinks, &size, nullptr);
    std::string text = content ? std::string(reinterpret_cast<char*>(content), size) : std::string();
    free(content);
    return text;
}

int StartsWithKey(const std::string& line, const char* prefix) {
    size_t length = strlen(prefix);
    return line.size() >= length && !strncasecmp(line.c_str(), prefix, length);
}
} // namespace

uint32_t RequiredDiskSpaceFor(uint64_t preparedBytes, int* capped) {
    *capped = preparedBytes > RequiredDiskSpaceLimit;
    return static_cast<uint32_t>(*capped ? RequiredDiskSpaceLimit : preparedBytes);
}

int DiffReleases(const char* oldDir, const char* newDir, const char* outDir, const char* setupFile) {
    int sound = 1;
    for (const char* folder : {oldDir, newDir}) {
        if (!IsHostFolder(folder)) {
            Report("%s: not a folder", folder);
            sound = 0;
        }
    }
    if (!sound) return 0;
    // OUT: empty, or only an "UPDATE.INI" whose "[SETUP]" and modes are kept.
    std::string existing;
    if (IsHostFolder(outDir)) {
        std::vector<HostFolderItem> items;
        if (!ListHostFolder(outDir, items)) return 0;
        for (const HostFolderItem& item : items) {
            std::string name;
            if (item.kind == HostRegularFile && ArchiveNameFromHost(item.name.c_str(), name) &&
                SameArchiveName(name.c_str(), ProfileName)) {
                existing = ReadText(HostJoin(outDir, item.name));
                continue;
            }
            Report("%s: holds \"%s\": OUT must be empty, or hold only an UPDATE.INI", outDir,
                   item.name.c_str());
            sound = 0;
        }
    }
    std::vector<std::string> setup;
    if (setupFile) {
        std::string text = ReadText(setupFile);
        setup = SectionLines(text, "SETUP");
        if (setup.empty()) {
            Report("%s: no [SETUP] section with keys", setupFile);
            sound = 0;
        }
    } else if (!existing.empty()) {
        setup = SectionLines(existing, "SETUP");
    }
    if (setup.empty() && !setupFile) {
        Report("no [SETUP] for UPDATE.INI: give --setup FILE, or put an UPDATE.INI with one in %s", outDir);
        sound = 0;
    }

    std::map<std::string, ReleaseFile> oldFiles, newFiles;
    if (!ListRelease(oldDir, "", 0, oldFiles) || !ListRelease(newDir, "", 0, newFiles)) return 0;
    // Files of one size in both releases are read and compared on every core; the rest are new or changed
    // by their size alone.
    std::vector<const ReleaseFile*> fresh;
    std::vector<uint64_t> compared;
    for (const auto& entry : newFiles) {
        auto old = oldFiles.find(entry.first);
        fresh.push_back(&entry.second);
        compared.push_back(old != oldFiles.end() && old->second.size == entry.second.size ? entry.second.size
                                                                                          : NotCompared);
    }
    std::vector<unsigned char> same(fresh.size(), 0);
    std::vector<uint64_t> sizes;
    for (uint64_t size : compared)
        sizes.push_back(size == NotCompared ? 0 : size);
    std::vector<const ReleaseFile*> changed;
    RunInOrder(
        sizes, WorkerCount(),
        [&](size_t i) {
            same[i] = compared[i] != NotCompared &&
                      SameContent(HostJoin(oldDir, fresh[i]->relative), HostJoin(newDir, fresh[i]->relative));
            return 1;
        },
        [&](size_t i, int, std::string&) {
            if (!same[i]) changed.push_back(fresh[i]);
            return 1;
        });
    for (const auto& entry : oldFiles) {
        if (!newFiles.count(entry.first))
            Report("warning: %s: the new release no longer has it, and an update cannot delete it",
                   entry.first.c_str());
    }
    if (changed.size() > UpdateListCapacity) {
        Report("%zu new or changed files, but an update lists at most %d (UpdateFile00 to UpdateFile%02d)",
               changed.size(), static_cast<int>(UpdateListCapacity),
               static_cast<int>(UpdateListCapacity) - 1);
        sound = 0;
    }
    // The updater finds entries by bare name.
    std::vector<std::string> paths(changed.size()), names(changed.size());
    for (size_t i = 0; i < changed.size(); ++i) {
        if (!ArchivePath(changed[i]->relative, paths[i]) ||
            !ArchiveNameFromHost(BareName(changed[i]->relative).c_str(), names[i])) {
            sound = 0;
            continue;
        }
        for (size_t j = 0; j < i; ++j) {
            if (!names[j].empty() && SameArchiveName(names[i].c_str(), names[j].c_str())) {
                Report("%s and %s: two changed files of the same name, which the updater, finding entries by "
                       "bare "
                       "name, does not tell apart",
                       changed[j]->relative.c_str(), changed[i]->relative.c_str());
                sound = 0;
            }
        }
    }
    if (!sound) {
        Report("%s: nothing written", outDir);
        return 0;
    }

    // The modes OUT's "UPDATE.INI" already gave, by path; its disc copies stay.
    std::vector<std::string> kept = SectionLines(existing, "UPDATE");
    std::vector<std::string> values(changed.size());
    std::vector<std::string> copies;
    for (const std::string& line : kept) {
        size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        if (StartsWithKey(line, "CopyFile")) copies.push_back(line);
        if (!StartsWithKey(line, "UpdateFile")) continue;
        std::string value = line.substr(equals + 1);
        UpdateItem item;
        int variant;
        ParseUpdateValue(value.c_str(), &item, &variant);
        for (size_t i = 0; i < changed.size(); ++i)
            if (values[i].empty() && SameArchiveName(item.path, paths[i].c_str())) values[i] = value;
    }
    uint64_t prepared = 0;
    for (const ReleaseFile* file : changed)
        prepared += file->size;
    int capped;
    uint32_t required = RequiredDiskSpaceFor(prepared, &capped);
    if (capped)
        Report("warning: the update prepares %llu bytes beside the installed files, but RequiredDiskSpace "
               "holds at "
               "most %llu: the updater's free-space check asks for less than it needs",
               static_cast<unsigned long long>(prepared),
               static_cast<unsigned long long>(RequiredDiskSpaceLimit));

    std::string profile = "[SETUP]\r\n";
    for (const std::string& line : setup)
        profile += line + "\r\n";
    profile += "\r\n[UPDATE]\r\nRequiredDiskSpace=" + std::to_string(required) + "\r\n";
    for (size_t i = 0; i < changed.size(); ++i) {
        char key[32];
        snprintf(key, sizeof key, "UpdateFile%02zu=", i);
        profile += key + (values[i].empty() ? paths[i] : values[i]) + "\r\n";
    }
    for (const std::string& line : copies)
        profile += line + "\r\n";

    int written = MakeHostFolders(outDir);
    for (size_t i = 0; written && i < changed.size(); ++i) {
        uint32_t size = 0;
        uint64_t time = 0;
        std::string from = HostJoin(newDir, changed[i]->relative);
        unsigned char* content =
            ReadHostFile(from.c_str(), from.c_str(), uint64_t(1) << 32, FollowLinks, &size, &time);
        HostOutput output;
        written =
            content && BeginHostOutput(output, HostJoin(outDir, BareName(changed[i]->relative)).c_str());
        if (written && !(WriteHostOutput(output, content, size) && FinishHostOutput(output, &time))) {
            AbandonHostOutput(output);
            written = 0;
        }
        free(content);
    }
    HostOutput output;
    if (written && BeginHostOutput(output, HostJoin(outDir, ProfileName).c_str())) {
        if (!(WriteHostOutput(output, profile.data(), profile.size()) && FinishHostOutput(output, nullptr))) {
            AbandonHostOutput(output);
            written = 0;
        }
    } else {
        written = 0;
    }
    if (written)
        printf("%s: %zu new or changed files, RequiredDiskSpace=%u\n", outDir, changed.size(), required);
    return written;
}
