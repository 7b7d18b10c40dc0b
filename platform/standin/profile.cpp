// Stand-in private-profile reader: GetPrivateProfileStringA as the real reader behaves for everything the
// configuration code relies on, over the bytes of a code page 932 file (the agreement table in
// tests/setupcfg runs the same cases against the real reader under Wine). Lines end at LF or CR; blanks
// around lines, keys and values are trimmed; section and key names match without regard to case; the first
// matching section is the only one searched and its first matching key wins, even a key without "=", which
// gives the default; a value in a pair of matching quotes is given without them; a missing file reads as
// empty, and so does anything but a regular file; the copy keeps whole characters within the capacity minus
// one, and a cut value counts capacity - 1.
#include "platform/standin/host_files.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Span {
    const char* text;
    size_t length;
};

// ASCII white space and the DOS end-of-file mark, which the real reader trims as blanks too. None of these
// can be the trail byte of a double-byte character, so trimming from the end is safe.
bool IsProfileBlank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == 0x1A;
}

size_t CharLength(const char* p, const char* end) {
    return IsDBCSLeadByte(static_cast<BYTE>(*p)) && p + 1 < end ? 2 : 1;
}

Span Trimmed(const char* begin, const char* end) {
    while (begin < end && IsProfileBlank(static_cast<unsigned char>(*begin)))
        ++begin;
    while (end > begin && IsProfileBlank(static_cast<unsigned char>(end[-1])))
        --end;
    return Span{begin, static_cast<size_t>(end - begin)};
}

unsigned char Folded(unsigned char c) {
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32) : c;
}

// Single-byte letters fold; a double-byte character must match exactly, since its trail byte may look like
// a letter.
bool SameName(Span a, Span b) {
    if (a.length != b.length) return false;
    const char* end = a.text + a.length;
    for (size_t i = 0; i < a.length;) {
        size_t step = CharLength(a.text + i, end);
        if (step == 2) {
            if (a.text[i] != b.text[i] || a.text[i + 1] != b.text[i + 1]) return false;
        } else if (Folded(static_cast<unsigned char>(a.text[i])) !=
                   Folded(static_cast<unsigned char>(b.text[i]))) {
            return false;
        }
        i += step;
    }
    return true;
}

Span SpanOf(const char* text) {
    if (!text) return Span{"", 0};
    return Trimmed(text, text + strlen(text));
}

// The file's bytes, or null for a file that cannot be read (which reads as empty).
char* LoadFile(const char* path, size_t* length) {
    char host[2048];
    *length = 0;
    if (!path || !Standin::HostPath(path, host, sizeof host)) return nullptr;
    // Only a regular file is read: a named pipe would wait for a writer for ever, a device never end. The
    // open does not wait either, should the file be swapped for one in between.
    struct stat before;
    if (stat(host, &before) != 0 || !S_ISREG(before.st_mode)) return nullptr;
    int descriptor = open(host, O_RDONLY | O_NONBLOCK);
    if (descriptor < 0) return nullptr;
    struct stat info;
    char* bytes = nullptr;
    if (fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode)) {
        size_t size = static_cast<size_t>(info.st_size);
        bytes = static_cast<char*>(malloc(size + 1));
        size_t total = 0;
        while (bytes && total < size) {
            ssize_t got = read(descriptor, bytes + total, size - total);
            if (got <= 0) break;
            total += static_cast<size_t>(got);
        }
        if (bytes) *length = total;
    }
    close(descriptor);
    return bytes;
}

// Finds the value of key in the first section named section. Returns false when there is none, including
// a first matching key that has no "=".
bool FindValue(const char* bytes, size_t length, Span section, Span key, Span* value) {
    const char* end = bytes + length;
    bool inSection = section.length == 0; // keys before any section header belong to a nameless section
    bool sectionSeen = inSection;
    for (const char* line = bytes; line < end;) {
        const char* lineEnd = line;
        while (lineEnd < end && *lineEnd != '\n' && *lineEnd != '\r')
            ++lineEnd;
        Span text = Trimmed(line, lineEnd);
        line = lineEnd < end ? lineEnd + 1 : end;
        if (text.length == 0) continue;
        const char* textEnd = text.text + text.length;

        if (text.text[0] == '[') {
            const char* close = nullptr;
            for (const char* p = text.text + 1; p < textEnd; p += CharLength(p, textEnd)) {
                if (*p == ']') close = p;
            }
            if (close) {
                if (inSection) return false; // only the first matching section is searched
                inSection = !sectionSeen && SameName(Trimmed(text.text + 1, close), section);
                sectionSeen = sectionSeen || inSection;
                continue;
            }
        }
        if (!inSection) continue;

        const char* equals = static_cast<const char*>(memchr(text.text, '=', text.length));
        Span name = equals ? Trimmed(text.text, equals) : text;
        if (!SameName(name, key)) continue;
        if (!equals) return false;
        *value = Trimmed(equals + 1, textEnd);
        return true;
    }
    return false;
}

} // namespace

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer, DWORD capacity,
                               LPCSTR path) {
    if (!buffer || capacity == 0) return 0;
    size_t length = 0;
    char* bytes = LoadFile(path, &length);
    Span value;
    if (!bytes || !FindValue(bytes, length, SpanOf(section), SpanOf(key), &value)) {
        // The real reader trims only the end of a default.
        const char* text = defaultValue ? defaultValue : "";
        const char* textEnd = text + strlen(text);
        while (textEnd > text && IsProfileBlank(static_cast<unsigned char>(textEnd[-1])))
            --textEnd;
        value = Span{text, static_cast<size_t>(textEnd - text)};
    }

    // A value in a pair of matching quotes is given without them.
    if (value.length >= 2 && (value.text[0] == '"' || value.text[0] == '\'') &&
        value.text[value.length - 1] == value.text[0]) {
        value.text += 1;
        value.length -= 2;
    }

    // Whole characters only: a double-byte character that does not fit is left out, and the value still
    // counts as cut.
    const char* end = value.text + value.length;
    size_t copied = 0;
    const char* p = value.text;
    while (p < end) {
        size_t step = CharLength(p, end);
        if (copied + step > capacity - 1) break;
        memcpy(buffer + copied, p, step);
        copied += step;
        p += step;
    }
    buffer[copied] = '\0';
    free(bytes);
    return p < end ? capacity - 1 : static_cast<DWORD>(copied);
}
