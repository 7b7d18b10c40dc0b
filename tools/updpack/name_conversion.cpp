// Entry names between the host's encoding (UTF-8) and the archive's (code page 932), and the updater's
// notion of two names being the same entry. Conversion is the host layer's; a name is only accepted when it
// comes back unchanged, since code page 932 folds some characters into others (the yen sign becomes the
// path separator 0x5C, the wave dash becomes the full-width tilde).
#include "tools/updpack/updpack.h"
#include "tools/updpack/host_files.h"

#include "platform/text_format.h"
#include "platform/win32.h"

#include <algorithm>
#include <cstring>

namespace {
// The device names Windows keeps for itself in every folder: "CON", "con.txt" and "Con .log" all open the
// console, not a file (the part before the first dot counts, with trailing spaces dropped). The superscript
// digits are UTF-8: Windows takes them for 1, 2 and 3 there.
int IsReservedDeviceName(const char* hostName) {
    size_t length = strcspn(hostName, ".");
    while (length > 0 && hostName[length - 1] == ' ')
        --length;
    std::string stem(hostName, length);
    for (char& c : stem) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : devices) {
        if (stem == device) return 1;
    }
    if (stem.compare(0, 3, "COM") != 0 && stem.compare(0, 3, "LPT") != 0) return 0;
    std::string number = stem.substr(3);
    return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == u8"\u00b9" ||
           number == u8"\u00b2" || number == u8"\u00b3";
}
} // namespace

const char* WindowsNameProblem(const char* hostName) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(hostName); *p; ++p) {
        if (*p < 0x20 || *p == 0x7F) return "it holds a control character";
        if (strchr("\\/:*?\"<>|", *p)) return "it holds a character a Windows file name cannot hold";
    }
    size_t length = strlen(hostName);
    if (length > 0 && hostName[length - 1] == '.') return "Windows drops a dot at the end of a file name";
    if (length > 0 && hostName[length - 1] == ' ') return "Windows drops a space at the end of a file name";
    if (IsReservedDeviceName(hostName))
        return "Windows keeps the name for a device, with or without an extension";
    return nullptr;
}

int ArchiveNameFromHost(const char* hostName, std::string& archiveName) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(hostName); *p; ++p) {
        if (*p < 0x20 || *p == 0x7F || strchr("\\/:*?\"<>|", *p)) {
            Report("\"%s\": a Windows file name cannot hold the character 0x%02X", hostName, *p);
            return 0;
        }
    }
    if (const char* problem = WindowsNameProblem(hostName)) {
        Report("\"%s\": not a name Windows can hold as written: %s", hostName, problem);
        return 0;
    }
    std::string back;
    if (!CodePage932FromUtf8(hostName, archiveName) || !Utf8FromCodePage932(archiveName.c_str(), back)) {
        Report("\"%s\": the name has no code page 932 form", hostName);
        return 0;
    }
    if (back != hostName) {
        Report("\"%s\": code page 932 would turn the name into \"%s\"", hostName, back.c_str());
        return 0;
    }
    if (archiveName.empty() || archiveName.size() >= ArchiveNameCapacity) {
        Report("\"%s\": the name takes %zu bytes in code page 932; an entry name holds 1 to %u", hostName,
               archiveName.size(), ArchiveNameCapacity - 1);
        return 0;
    }
    return 1;
}

int HostNameFromArchive(const char* archiveName, std::string& hostName) {
    if (!Utf8FromCodePage932(archiveName, hostName)) {
        Report("entry %s: the name is not valid code page 932", PrintableName(archiveName).c_str());
        return 0;
    }
    // An entry becomes a file directly in the target folder, never anywhere else.
    if (hostName.empty() || hostName == "." || hostName == ".." || hostName.find('/') != std::string::npos ||
        hostName.find('\\') != std::string::npos) {
        Report("entry %s: the name is not a bare file name", PrintableName(archiveName).c_str());
        return 0;
    }
    // On Windows such a name writes somewhere else than it says (a device, a stream of another file, a
    // name without its last dot); no archive this tool makes carries one.
    if (const char* problem = WindowsNameProblem(hostName.c_str())) {
        Report("entry %s: not a name Windows can hold as written: %s", PrintableName(archiveName).c_str(),
               problem);
        return 0;
    }
    return 1;
}

int SameArchiveName(const char* a, const char* b) {
    return lstrcmpiA(a, b) == 0;
}

void FirstOfSameNames(const std::vector<const char*>& archiveNames, std::vector<size_t>& first) {
    size_t count = archiveNames.size();
    std::vector<std::string> keys(count);
    std::vector<size_t> order(count);
    for (size_t i = 0; i < count; ++i) {
        keys[i] = ArchiveNameSortKey(archiveNames[i]);
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return keys[a] < keys[b]; });
    first.assign(count, 0);
    for (size_t start = 0, end; start < count; start = end) {
        end = start + 1;
        while (end < count && keys[order[end]] == keys[order[start]])
            ++end;
        // Within one key the compare itself decides, in the names' given order. Where the key is exact (equal
        // keys for equal names only) the first compare settles each name, so even a group of thousands of
        // copies of one name costs one compare per name.
        for (size_t j = start; j < end; ++j) {
            size_t k = start;
            while (k < j && !SameArchiveName(archiveNames[order[k]], archiveNames[order[j]]))
                ++k;
            first[order[j]] = k < j ? first[order[k]] : order[j];
        }
    }
}

std::string PrintableName(const char* archiveName) {
    std::string hostName;
    if (Utf8FromCodePage932(archiveName, hostName)) {
        int printable = 1;
        for (unsigned char c : hostName)
            printable &= c >= 0x20 && c != 0x7F;
        if (printable) return "\"" + hostName + "\"";
    }
    std::string escaped = "\"";
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(archiveName); *p; ++p) {
        char escape[8];
        if (*p >= 0x20 && *p < 0x7F && *p != '\\' && *p != '"') {
            escaped += static_cast<char>(*p);
        } else {
            FormatText(escape, sizeof escape, "\\x%02X", *p);
            escaped += escape;
        }
    }
    return escaped + "\"";
}
