// Entry names between the host's encoding (UTF-8) and the archive's (code page 932), and the updater's
// notion of two names being the same entry. Conversion goes through iconv; a name is only accepted when it
// comes back unchanged, since code page 932 folds some characters into others (the yen sign becomes the
// path separator 0x5C, the wave dash becomes the full-width tilde).
#include "tools/updpack/updpack.h"

#include "platform/text_format.h"
#include "platform/win32.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>

static int Convert(const char* from, const char* to, const char* text, std::string& result) {
    result.clear();
    iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1)) return 0;
    size_t inputLeft = strlen(text);
    char* input = const_cast<char*>(text);
    int converted = 1;
    while (inputLeft > 0) {
        char chunk[256];
        char* output = chunk;
        size_t outputLeft = sizeof chunk;
        size_t status = iconv(converter, &input, &inputLeft, &output, &outputLeft);
        result.append(chunk, output - chunk);
        if (status == static_cast<size_t>(-1) && errno != E2BIG) {
            converted = 0;
            break;
        }
    }
    if (converted) {
        // Flush any shift state; neither encoding has one, but iconv asks for it.
        char chunk[16];
        char* output = chunk;
        size_t outputLeft = sizeof chunk;
        if (iconv(converter, nullptr, nullptr, &output, &outputLeft) == static_cast<size_t>(-1))
            converted = 0;
        result.append(chunk, output - chunk);
    }
    iconv_close(converter);
    // A converted NUL would cut the name short in the archive's fixed field.
    if (converted && result.find('\0') != std::string::npos) converted = 0;
    return converted;
}

int ArchiveNameFromHost(const char* hostName, std::string& archiveName) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(hostName); *p; ++p) {
        if (*p < 0x20 || *p == 0x7F || strchr("\\/:*?\"<>|", *p)) {
            Report("\"%s\": a Windows file name cannot hold the character 0x%02X", hostName, *p);
            return 0;
        }
    }
    std::string back;
    if (!Convert("UTF-8", "CP932", hostName, archiveName) ||
        !Convert("CP932", "UTF-8", archiveName.c_str(), back)) {
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
    if (!Convert("CP932", "UTF-8", archiveName, hostName)) {
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
    if (Convert("CP932", "UTF-8", archiveName, hostName)) {
        int printable = 1;
        for (unsigned char c : hostName)
            printable &= c >= 0x20 && c != 0x7F;
        if (printable) return "\"" + hostName + "\"";
    }
    std::string escaped = "\"";
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(archiveName); *p; ++p) {
        char byte[8];
        if (*p >= 0x20 && *p < 0x7F && *p != '\\' && *p != '"') {
            escaped += static_cast<char>(*p);
        } else {
            FormatText(byte, sizeof byte, "\\x%02X", *p);
            escaped += byte;
        }
    }
    return escaped + "\"";
}
