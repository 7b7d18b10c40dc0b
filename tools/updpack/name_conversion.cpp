// Entry names between the host's encoding (UTF-8) and the archive's (code page 932), and the updater's
// notion of two names being the same entry. Conversion is the host layer's; a name is only accepted when it
// comes back unchanged, since code page 932 folds some characters into others (the yen sign becomes the
// path separator 0x5C, the wave dash becomes the full-width tilde).
#include "tools/updpack/updpack.h"
#include "tools/updpack/host_files.h"

#include "platform/text_format.h"
#include "platform/win32.h"

#include <cstring>

int ArchiveNameFromHost(const char* hostName, std::string& archiveName) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(hostName); *p; ++p) {
        if (*p < 0x20 || *p == 0x7F || strchr("\\/:*?\"<>|", *p)) {
            Report("\"%s\": a Windows file name cannot hold the character 0x%02X", hostName, *p);
            return 0;
        }
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
    return 1;
}

int SameArchiveName(const char* a, const char* b) {
    return lstrcmpiA(a, b) == 0;
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
