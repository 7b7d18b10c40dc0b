// Stand-in text routines of the ANSI code page 932. Case-insensitive comparison folds single-byte letters
// only; a double-byte character is compared whole, since its trail byte may lie in 0x41..0x5A.
#include "platform/win32.h"

#include <cstring>

BOOL IsDBCSLeadByte(BYTE c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

LPSTR CharNextA(LPCSTR p) {
    if (!*p) return const_cast<LPSTR>(p);
    if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1]) return const_cast<LPSTR>(p + 2);
    return const_cast<LPSTR>(p + 1);
}

static int Sign(int difference) { return difference < 0 ? -1 : difference > 0 ? 1 : 0; }

int lstrcmpiA(LPCSTR a, LPCSTR b) {
    const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
    for (;;) {
        unsigned cx = *x, cy = *y;
        if (IsDBCSLeadByte(static_cast<BYTE>(cx)) && x[1] && IsDBCSLeadByte(static_cast<BYTE>(cy)) && y[1]) {
            unsigned wx = (cx << 8) | x[1], wy = (cy << 8) | y[1];
            if (wx != wy) return Sign(static_cast<int>(wx) - static_cast<int>(wy));
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

int lstrcmpA(LPCSTR a, LPCSTR b) { return Sign(strcmp(a, b)); }
