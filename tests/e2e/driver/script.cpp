// The script's side of the driver: globals of the run, texts between UTF-8 and code page 932, the failure
// reports, and the parser of one script line.
#include "tests/e2e/driver/driver.h"

#include <cstdarg>
#include <cstdio>

namespace e2e {

DWORD DefaultTimeoutMs = 30000;
LARGE_INTEGER ScriptStart;
std::string ScriptPath;
std::string UpdaterPath;
std::string GamePath;
int LineNumber = 0;
std::string LineText;
std::map<std::string, Started> Processes;

std::string Convert(const std::string& text, UINT from, UINT to) {
    if (text.empty()) return text;
    int wide = MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), &w[0], wide);
    int narrow = WideCharToMultiByte(to, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(narrow), '\0');
    WideCharToMultiByte(to, 0, w.data(), wide, &out[0], narrow, nullptr, nullptr);
    return out;
}

// Shown text (code page 932) as UTF-8 for the log, control characters spelled out.
std::string Show(const std::string& cp932) {
    std::string escaped;
    for (size_t i = 0; i < cp932.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(cp932[i]);
        if (IsDBCSLeadByteEx(932, c) && i + 1 < cp932.size()) {
            escaped += cp932.substr(i, 2);
            ++i;
        } else if (c == '\r') {
            escaped += "\\r";
        } else if (c == '\n') {
            escaped += "\\n";
        } else if (c == '\t') {
            escaped += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            escaped += hex;
        } else {
            escaped += static_cast<char>(c);
        }
    }
    return "\"" + Convert(escaped, 932, CP_UTF8) + "\"";
}

// A script value (UTF-8 with escapes \r \n \t \\ \" \xHH) as the bytes the updater shows in code page 932.
// Escapes are taken out before the conversion, so \xHH gives that raw byte and a trail byte 0x5C of the
// converted text is never read as an escape.
std::string ScriptText(const std::string& utf8) {
    std::string out, chunk;
    for (size_t i = 0; i < utf8.size(); ++i) {
        if (utf8[i] != '\\' || i + 1 == utf8.size()) {
            chunk += utf8[i];
            continue;
        }
        out += Convert(chunk, CP_UTF8, 932);
        chunk.clear();
        char e = utf8[++i];
        if (e == 'r')
            out += '\r';
        else if (e == 'n')
            out += '\n';
        else if (e == 't')
            out += '\t';
        else if (e == 'x' && i + 2 < utf8.size()) {
            out += static_cast<char>(std::strtoul(utf8.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else
            out += e;
    }
    return out + Convert(chunk, CP_UTF8, 932);
}

[[noreturn]] void Failure(const char* format, ...) {
    std::printf("FAIL %s:%d: %s\n", ScriptPath.c_str(), LineNumber, LineText.c_str());
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    DumpWindows();
    std::fflush(stdout);
    for (auto& entry : Processes)
        TerminateProcess(entry.second.process, 99);
    std::exit(1);
}

[[noreturn]] void ScriptError(const char* message) {
    std::printf("SCRIPT ERROR %s:%d: %s\n  %s\n", ScriptPath.c_str(), LineNumber, message, LineText.c_str());
    std::fflush(stdout);
    for (auto& entry : Processes)
        TerminateProcess(entry.second.process, 99);
    std::exit(2);
}

std::string Compare(const char* what, const std::string& expected, const std::string& actual) {
    if (expected == actual) return "";
    return std::string("  ") + what + ":\n    expected " + Show(expected) + "\n    actual   " + Show(actual) +
           "\n";
}

Step Parse(const std::string& line) {
    Step step;
    size_t i = 0;
    bool first = true;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i == line.size() || line[i] == '#') break;
        std::string key, value;
        bool hasKey = false;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '=' && line[i] != '"')
            key += line[i++];
        if (i < line.size() && line[i] == '=') {
            hasKey = true;
            ++i;
        } else if (i < line.size() && line[i] == '"') {
            value = key; // a quoted positional word
            key.clear();
        }
        if (hasKey || (i < line.size() && line[i] == '"')) {
            if (i < line.size() && line[i] == '"') {
                ++i;
                while (i < line.size() && line[i] != '"') {
                    if (line[i] == '\\' && i + 1 < line.size()) value += line[i++];
                    value += line[i++];
                }
                if (i == line.size()) ScriptError("unterminated quotation");
                ++i;
            } else {
                while (i < line.size() && line[i] != ' ' && line[i] != '\t')
                    value += line[i++];
            }
        }
        if (first) {
            step.verb = key;
            first = false;
        } else if (hasKey) {
            step.values[key] = value;
        } else {
            step.words.push_back(key.empty() ? value : key);
        }
    }
    return step;
}

} // namespace e2e
