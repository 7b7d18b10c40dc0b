// JSON text for build pipelines, written by hand: strings escaped as JSON requires, names of the archive
// turned from code page 932 into UTF-8 first.
#include "tools/updpack/updpack.h"

#include <cstdio>

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char escape[8];
                snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string TextFromArchive(const char* text) {
    std::string utf8;
    if (Utf8FromCodePage932(text, utf8)) return utf8;
    // Bytes that are no code page 932 text are shown as \xNN, as the tool's messages show such names.
    std::string printable = PrintableName(text);
    return printable.substr(1, printable.size() - 2);
}
