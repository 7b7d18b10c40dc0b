// The checks updpack build makes before it writes an updater: what the updater will read from the packed
// folder, read with the updater's own profile reader (ReadProfileValue over a private copy of the folder's
// "UPDATE.INI") and its own grammar of "UpdateFileNN" values, and entry names matched as the updater
// matches them (SameArchiveName). Points the updater's readers at the copy only while it checks.
#include "tools/updpack/updpack.h"

#include "platform/text_format.h"
#include "setupcfg/profile_access.h"
#include "update/update_plan.h"
#include "context/update_plan_model.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

namespace {
const char* const RequiredSetupKeys[] = {"CompanyName", "GameTitle", "GameClass", "GameDir"};
const char* const AgreementKeys[] = {"AgreementText", "AgreementTitle"};

// The 32-bit updater's address space holds the packed payload (mapped with the program) and, one at a time,
// each compressed entry decoded into a block of its own size (docs/speed-and-scale.md, "Scale"). The
// folder's own sizes are a safe measure: an entry that does not shrink is stored as it is. The payload's
// limit is also the most the resource writer puts into a program.
const uint64_t UpdaterEntryLimit = uint64_t(1792) << 20;
const uint64_t UpdaterPayloadLimit = uint64_t(1792) << 20;

// Warns when the largest file or all of them exceed what the updater can hold; it would stop with "Can't
// Allocate Memory !!" or not start at all.
void WarnAboutAddressSpace(const char* folder, const std::vector<PackedFile>& files) {
    std::vector<HostFolderItem> items;
    if (!ListHostFolder(folder, items)) return; // only called once CollectFolder listed it
    std::set<std::string> packed;
    for (const PackedFile& file : files)
        packed.insert(file.hostName);
    uint64_t total = 0, largest = 0;
    for (const HostFolderItem& item : items) {
        if (item.kind != HostRegularFile || !packed.count(item.name)) continue;
        total += item.size;
        largest = item.size > largest ? item.size : largest;
    }
    if (largest > UpdaterEntryLimit || total > UpdaterPayloadLimit)
        Report("warning: %s: %llu bytes in the largest file, %llu in all; the 32-bit updater applies "
               "at most %llu MiB in one file and %llu MiB in all, and beyond that stops or does not start",
               folder, static_cast<unsigned long long>(largest), static_cast<unsigned long long>(total),
               static_cast<unsigned long long>(UpdaterEntryLimit >> 20),
               static_cast<unsigned long long>(UpdaterPayloadLimit >> 20));
}

// The updater prepares every archive file beside the installed one before it replaces any, so the volume
// must hold all of them at once; its free-space check before the run knows only RequiredDiskSpace. The
// largest plan writes every listed item, whatever the installation variant; disc copies come on top.
void WarnAboutRequiredSpace(const char* folder, const std::vector<const PackedFile*>& listed) {
    char value[260];
    if (listed.empty() || !ReadProfileValue("UPDATE", "RequiredDiskSpace", value, sizeof value)) return;
    // The updater's own reading: no check at all for 0, otherwise the value taken as 32 bits unsigned.
    uint32_t required = static_cast<uint32_t>(ConvertDecimal(value));
    if (required == 0) return;
    std::vector<HostFolderItem> items;
    if (!ListHostFolder(folder, items)) return;
    std::map<std::string, uint64_t> sizes;
    for (const HostFolderItem& item : items)
        sizes[item.name] = item.size;
    uint64_t needed = 0;
    for (const PackedFile* file : listed)
        needed += sizes[file->hostName];
    if (needed > required)
        Report(
            "warning: \"UPDATE.INI\": RequiredDiskSpace is %lu bytes, but the update prepares %llu bytes of "
            "archive files beside the installed ones before it replaces any; a volume with less room "
            "passes the check and then fails while preparing",
            static_cast<unsigned long>(required), static_cast<unsigned long long>(needed));
}

const PackedFile* FindPacked(const std::vector<PackedFile>& files, const char* archiveName) {
    for (const PackedFile& file : files) {
        if (SameArchiveName(file.archiveName.c_str(), archiveName)) return &file;
    }
    return nullptr;
}

// Warns about a text the updater shows as it stands; a file that cannot be read is a problem.
int WarnAboutShownText(const char* folder, const PackedFile& file) {
    uint32_t size = 0;
    std::string label = "\"" + file.hostName + "\"";
    unsigned char* content = ReadHostFile(HostJoin(folder, file.hostName).c_str(), label.c_str(),
                                          uint64_t(1) << 32, RefuseLinks, &size, nullptr);
    if (!content) return 0;
    std::string reasons;
    if (!CheckShownText(content, size, reasons))
        Report("warning: \"%s\": %s; the updater shows it as it stands, in code page 932",
               file.hostName.c_str(), reasons.c_str());
    free(content);
    return 1;
}

// Bytes of a valid UTF-8 sequence starting at p (2 to 4), or 0.
size_t Utf8SequenceLength(const unsigned char* p, const unsigned char* end) {
    size_t length = *p >= 0xF0 && *p <= 0xF4 ? 4 : *p >= 0xE0 ? (*p <= 0xEF ? 3 : 0) : *p >= 0xC2 ? 2 : 0;
    if (!length || static_cast<size_t>(end - p) < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
    }
    return length;
}

int IsLeadByte932(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

int IsTrailByte932(unsigned char c) {
    return c >= 0x40 && c <= 0xFC && c != 0x7F;
}

// Checks the profile through the updater's readers; the copy is already in place.
int CheckProfile(const char* folder, const std::vector<PackedFile>& files) {
    int sound = 1;
    char value[1024];
    for (const char* key : RequiredSetupKeys) {
        if (!ReadProfileValue("SETUP", key, value, 260)) {
            Report("\"UPDATE.INI\": [SETUP] has no %s, or it is empty; the updater stops there", key);
            sound = 0;
        }
    }
    for (const char* key : AgreementKeys) {
        if (!ReadProfileValue("SETUP", key, value, 260)) continue;
        const PackedFile* text = FindPacked(files, value);
        if (!text) {
            Report("\"UPDATE.INI\": %s names %s, which the folder lacks", key, PrintableName(value).c_str());
            sound = 0;
        } else if (!WarnAboutShownText(folder, *text)) {
            sound = 0;
        }
    }
    int entries = 0;
    std::vector<const PackedFile*> listed;
    for (int index = 0; index < UpdateListCapacity; ++index) {
        char key[32];
        FormatText(key, sizeof key, "UpdateFile%02i", index);
        if (!ReadProfileValue("UPDATE", key, value, sizeof value)) break;
        ++entries;
        UpdateItem item;
        int variant;
        ParseUpdateValue(value, &item, &variant);
        const char* name = item.path + item.nameOffset;
        if (item.pathCut) {
            Report("\"UPDATE.INI\": %s: the path is longer than 259 bytes", key);
            sound = 0;
        } else if (!name[0]) {
            Report("\"UPDATE.INI\": %s names no file", key);
            sound = 0;
        } else if (const PackedFile* file = FindPacked(files, name)) {
            listed.push_back(file);
        } else {
            Report("\"UPDATE.INI\": %s names the file %s, which the folder lacks", key,
                   PrintableName(name).c_str());
            sound = 0;
        }
    }
    WarnAboutRequiredSpace(folder, listed);
    if (!entries && !ReadProfileValue("UPDATE", "CopyFile00", value, 260))
        Report(
            "warning: \"UPDATE.INI\": [UPDATE] has neither UpdateFile00 nor CopyFile00; the update will stop "
            "with \"No 'UpdateFileXX' and 'CopyFileXX'\"");
    return sound;
}
} // namespace

int CheckShownText(const unsigned char* text, size_t size, std::string& reasons) {
    reasons.clear();
    const unsigned char* end = text + size;
    int multiByte = 0, utf8 = 1;
    for (const unsigned char* p = text; p < end;) {
        size_t length = *p < 0x80 ? 1 : Utf8SequenceLength(p, end);
        if (!length) {
            utf8 = 0;
            break;
        }
        multiByte |= length > 1;
        p += length;
    }
    int valid932 = 1;
    for (const unsigned char* p = text; p < end && valid932; ++p) {
        if (IsLeadByte932(*p)) {
            valid932 = p + 1 < end && IsTrailByte932(p[1]);
            ++p;
        } else {
            valid932 = *p != 0x80 && *p != 0xA0 && *p < 0xFD;
        }
    }
    int bareLineFeed = 0;
    for (size_t i = 0; i < size; ++i)
        bareLineFeed |= text[i] == '\n' && (i == 0 || text[i - 1] != '\r');

    if (size >= 3 && text[0] == 0xEF && text[1] == 0xBB && text[2] == 0xBF)
        reasons = "it starts with a UTF-8 byte order mark";
    else if (utf8 && multiByte)
        reasons = "it reads as UTF-8, not code page 932";
    else if (!valid932)
        reasons = "it is not valid code page 932 text";
    if (bareLineFeed) {
        if (!reasons.empty()) reasons += "; ";
        reasons += "it has line feeds without carriage returns (Windows ends lines with CR LF)";
    }
    return reasons.empty();
}

int CheckUpdateFolder(const char* folder, const std::vector<PackedFile>& files) {
    WarnAboutAddressSpace(folder, files);
    const PackedFile* profile = FindPacked(files, "UPDATE.INI");
    if (!profile) {
        Report("%s: no \"UPDATE.INI\", from which the updater reads what it updates", folder);
        return 0;
    }
    uint32_t size = 0;
    std::string label = "\"" + profile->hostName + "\"";
    unsigned char* content = ReadHostFile(HostJoin(folder, profile->hostName).c_str(), label.c_str(),
                                          uint64_t(1) << 32, RefuseLinks, &size, nullptr);
    if (!content) return 0;
    std::string reasons;
    if (!CheckShownText(content, size, reasons))
        Report("warning: \"%s\": %s; the updater reads and shows its texts as they stand, in code page 932",
               profile->hostName.c_str(), reasons.c_str());
    char copy[260];
    int copied = MakeProfileCopy(content, size, copy, sizeof copy);
    free(content);
    if (!copied) return 0;

    // Quietly: problems are the tool's to report, never a message box.
    SavedProfileFields saved;
    int sound = BeginProfileReading(copy, nullptr, &saved);
    if (sound) {
        sound = CheckProfile(folder, files);
        EndProfileReading(&saved);
    } else {
        Report("%s: the profile copy's path does not fit the updater's readers", folder);
    }
    RemoveProfileCopy(copy);
    return sound;
}
