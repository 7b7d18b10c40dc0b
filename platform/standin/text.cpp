// Stand-in text routines of the ANSI code page 932. Case-insensitive comparison folds single-byte letters,
// and compares a double-byte character whole (its trail byte may lie in 0x41..0x5A) by the character it
// stands for: the full-width, Greek, Cyrillic and roman-numeral letters fold their case, and the codes
// that the code page holds twice (NEC and IBM rows) are one character, as the real lstrcmpiA has them.
#include "platform/win32.h"

#include <cstring>
#include <iconv.h>

BOOL IsDBCSLeadByte(BYTE c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

LPSTR CharNextA(LPCSTR p) {
    if (!*p) return const_cast<LPSTR>(p);
    if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1]) return const_cast<LPSTR>(p + 2);
    return const_cast<LPSTR>(p + 1);
}

static int Sign(long long difference) {
    return difference < 0 ? -1 : difference > 0 ? 1 : 0;
}

// The character a double-byte code stands for, with upper-case letters folded to lower case. A code the
// host cannot convert keeps a value of its own above every character.
static unsigned long FoldedCharacter(unsigned char lead, unsigned char trail) {
    static iconv_t converter = iconv_open("UTF-32LE", "CP932");
    unsigned long own = 0x110000ul + (static_cast<unsigned long>(lead) << 8 | trail);
    if (converter == reinterpret_cast<iconv_t>(-1)) return own;
    char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    unsigned char out[8];
    char* input = in;
    char* output = reinterpret_cast<char*>(out);
    size_t inputLeft = sizeof in, outputLeft = sizeof out;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    if (iconv(converter, &input, &inputLeft, &output, &outputLeft) == static_cast<size_t>(-1) || inputLeft ||
        sizeof out - outputLeft != 4)
        return own;
    unsigned long c = out[0] | static_cast<unsigned long>(out[1]) << 8 |
                      static_cast<unsigned long>(out[2]) << 16 | static_cast<unsigned long>(out[3]) << 24;
    if ((c >= 0xFF21 && c <= 0xFF3A) || (c >= 0x0391 && c <= 0x03A9) || (c >= 0x0410 && c <= 0x042F))
        return c + 0x20;
    if (c == 0x0401) return 0x0451;
    if (c >= 0x2160 && c <= 0x216F) return c + 0x10;
    return c;
}

int lstrcmpiA(LPCSTR a, LPCSTR b) {
    const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
    for (;;) {
        unsigned cx = *x, cy = *y;
        if (IsDBCSLeadByte(static_cast<BYTE>(cx)) && x[1] && IsDBCSLeadByte(static_cast<BYTE>(cy)) && y[1]) {
            unsigned long wx = FoldedCharacter(x[0], x[1]), wy = FoldedCharacter(y[0], y[1]);
            if (wx != wy) return Sign(static_cast<long long>(wx) - static_cast<long long>(wy));
            x += 2;
            y += 2;
            continue;
        }
        if (cx >= 'A' && cx <= 'Z') cx += 'a' - 'A';
        if (cy >= 'A' && cy <= 'Z') cy += 'a' - 'A';
        if (cx != cy || cx == 0) return Sign(static_cast<int>(cx) - static_cast<int>(cy));
        ++x;
        ++y;
    }
}

int lstrcmpA(LPCSTR a, LPCSTR b) {
    return Sign(strcmp(a, b));
}
