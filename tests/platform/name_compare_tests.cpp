// One table of name pairs, run natively against the stand-in and under Wine against the real lstrcmpiA:
// both must agree on which names are equal, as archive lookup relies on.
#include "platform/win32.h"

#include <doctest/doctest.h>

namespace {
struct NamePair {
    const char* a;
    const char* b;
    bool equal;
};

// Code page 932 bytes are spelled out: "\x83\x41" is katakana A, whose trail byte is the letter A.
const NamePair namePairs[] = {
    {"UPDATE.INI", "update.ini", true},
    {"X.EXE", "x.exe", true},
    {"Setup.Ini", "SETUP.INI", true},
    {"a", "b", false},
    {"", "", true},
    {"", "a", false},
    {"abc", "abcd", false},
    {"data1.bin", "DATA1.BIN", true},
    {"[x]", "[X]", true},
    {"@", "`", false}, // 0x40 and 0x60 are not letters
    {"[", "{", false},
    {"\x83\x41.dat", "\x83\x41.DAT", true},   // katakana A, then single-byte letters fold
    {"\x83\x41", "\x83\x61", false},          // trail bytes 0x41 and 0x61 are different characters
    {"\x83\x5A", "\x83\x7A", false},          // likewise 0x5A and 0x7A
    {"\x83\x5C\x62", "\x83\x5C\x42", true},   // katakana so (trail 0x5C), then b against B
    {"\x8C\x8E\x93\xFA.txt", "\x8C\x8E\x93\xFA.TXT", true},
    {"\x8C\x8E", "\x8C\x8F", false},
    {"\xB1", "\xB1", true},                   // half-width katakana stays as is
    {"\xB1", "\xB2", false},
    {"\x82\xA0", "\x82\xA1", false},          // hiragana a and small a differ
};
} // namespace

TEST_CASE("lstrcmpiA folds single-byte letters and compares double-byte characters whole") {
    for (const NamePair& pair : namePairs) {
        CAPTURE(pair.a);
        CAPTURE(pair.b);
        CHECK((lstrcmpiA(pair.a, pair.b) == 0) == pair.equal);
        CHECK((lstrcmpiA(pair.b, pair.a) == 0) == pair.equal);
    }
}

TEST_CASE("IsDBCSLeadByte and CharNextA follow code page 932") {
    CHECK(IsDBCSLeadByte(0x81));
    CHECK(IsDBCSLeadByte(0x9F));
    CHECK(IsDBCSLeadByte(0xE0));
    CHECK(IsDBCSLeadByte(0xFC));
    CHECK_FALSE(IsDBCSLeadByte(0x80));
    CHECK_FALSE(IsDBCSLeadByte(0xA0));
    CHECK_FALSE(IsDBCSLeadByte(0xB1));
    CHECK_FALSE(IsDBCSLeadByte('\\'));
    const char text[] = "\x83\x5C\\n";
    CHECK(CharNextA(text) == text + 2);
    CHECK(CharNextA(text + 2) == text + 3);
    CHECK(CharNextA(text + 4) == text + 4);
}
