// One table of INI texts and queries, run natively against the stand-in's profile reader and under Wine
// against the real GetPrivateProfileStringA: both must give the same bytes and the same counts, since
// every profile read of the updater and the installer rests on what that reader returns.
#include "platform/win32.h"
#include "tests/setupcfg/ini_files.h"

#include <doctest/doctest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct ProfileCase {
    const char* what;
    const char* text; // file contents; null: the file does not exist
    const char* section;
    const char* key;
    DWORD size;
    const char* expected;
    DWORD count;
};

// Code page 932 is spelled out in bytes: "\x93\xFA\x96\x7B\x8C\xEA" is nihongo, "\x83\x5C" is katakana so
// and "\x95\x5C" is hyou (both with the trail byte 0x5C), "\x81\x40" is the full-width space.
const ProfileCase profileCases[] = {
    {"plain value, CR LF", "[SETUP]\r\nCompanyName=Acme\r\n", "SETUP", "CompanyName", 260, "Acme", 4},
    {"plain value, LF", "[SETUP]\nCompanyName=Acme\n", "SETUP", "CompanyName", 260, "Acme", 4},
    {"last line without line end", "[SETUP]\nCompanyName=Acme", "SETUP", "CompanyName", 260, "Acme", 4},
    {"section without regard to case", "[setup]\r\nGameTitle=Foo\r\n", "SETUP", "GameTitle", 260, "Foo", 3},
    {"key without regard to case", "[SETUP]\r\nGAMETITLE=Foo\r\n", "SETUP", "GameTitle", 260, "Foo", 3},
    {"other section", "[UPDATE]\r\nUpdateFile00=a.dat\r\n[SETUP]\r\nUpdateFile00=b\r\n", "UPDATE",
     "updatefile00", 260, "a.dat", 5},
    {"key in another section only", "[UPDATE]\r\nKey=x\r\n[SETUP]\r\nOther=y\r\n", "SETUP", "Key", 260, "",
     0},
    {"key before any section", "Key=x\r\n[SETUP]\r\nOther=y\r\n", "SETUP", "Key", 260, "", 0},
    {"first of two keys", "[SETUP]\r\nKey=one\r\nKey=two\r\n", "SETUP", "Key", 260, "one", 3},
    {"first of two sections", "[SETUP]\r\nA=1\r\n[SETUP]\r\nA=2\r\nB=3\r\n", "SETUP", "A", 260, "1", 1},
    {"key of the second of two sections", "[SETUP]\r\nA=1\r\n[SETUP]\r\nA=2\r\nB=3\r\n", "SETUP", "B", 260,
     "", 0},
    {"no prefix match", "[SETUP]\r\nKey0=a\r\n", "SETUP", "Key", 260, "", 0},
    {"blanks around key and value", "[SETUP]\r\n  Key \t=  value with  inner \t \r\n", "SETUP", "Key", 260,
     "value with  inner", 17},
    {"blanks around the section line", "  [SETUP]  \r\nKey=v\r\n", "SETUP", "Key", 260, "v", 1},
    {"blanks inside the brackets", "[ SETUP ]\r\nKey=v\r\n", "SETUP", "Key", 260, "v", 1},
    {"value with equals sign", "[SETUP]\r\nKey=a=b\r\n", "SETUP", "Key", 260, "a=b", 3},
    {"semicolon inside a value", "[SETUP]\r\nKey=a ; b\r\n", "SETUP", "Key", 260, "a ; b", 5},
    {"double quotes", "[SETUP]\r\nKey=\"quoted value\"\r\n", "SETUP", "Key", 260, "quoted value", 12},
    {"single quotes", "[SETUP]\r\nKey='single'\r\n", "SETUP", "Key", 260, "single", 6},
    {"quotes keep inner blanks", "[SETUP]\r\nKey=  \"  padded  \"  \r\n", "SETUP", "Key", 260, "  padded  ",
     10},
    {"mismatched quotes stay", "[SETUP]\r\nKey=\"mismatch'\r\n", "SETUP", "Key", 260, "\"mismatch'", 10},
    {"quote at one end only", "[SETUP]\r\nKey=\"open\r\n", "SETUP", "Key", 260, "\"open", 5},
    {"a lone quote stays", "[SETUP]\r\nKey=\"\r\n", "SETUP", "Key", 260, "\"", 1},
    {"empty quotes are empty", "[SETUP]\r\nKey=\"\"\r\n", "SETUP", "Key", 260, "", 0},
    {"quotes around a quote", "[SETUP]\r\nKey=\"a\"b\"\r\n", "SETUP", "Key", 260, "a\"b", 3},
    {"comment line with the key's name", "[SETUP]\r\n;Key=commented\r\nKey=real\r\n", "SETUP", "Key", 260,
     "real", 4},
    {"comment line", "[SETUP]\r\n; a comment\r\nKey=v\r\n", "SETUP", "Key", 260, "v", 1},
    {"line without equals sign", "[SETUP]\r\nJustText\r\nKey=v\r\n", "SETUP", "Key", 260, "v", 1},
    {"query of a line without equals sign", "[SETUP]\r\nJustText\r\nKey=v\r\n", "SETUP", "JustText", 260, "",
     0},
    {"empty lines", "\r\n\r\n[SETUP]\r\n\r\n\r\nKey=v\r\n\r\n", "SETUP", "Key", 260, "v", 1},
    {"empty value", "[SETUP]\r\nKey=\r\n", "SETUP", "Key", 260, "", 0},
    {"blank value", "[SETUP]\r\nKey=  \t \r\n", "SETUP", "Key", 260, "", 0},
    {"missing key", "[SETUP]\r\nOther=v\r\n", "SETUP", "Key", 260, "", 0},
    {"missing section", "[UPDATE]\r\nKey=v\r\n", "SETUP", "Key", 260, "", 0},
    {"empty file", "", "SETUP", "Key", 260, "", 0},
    {"missing file", nullptr, "SETUP", "Key", 260, "", 0},
    {"cut to size - 1", "[SETUP]\r\nKey=abcdefghij\r\n", "SETUP", "Key", 5, "abcd", 4},
    {"exactly size - 1", "[SETUP]\r\nKey=abcd\r\n", "SETUP", "Key", 5, "abcd", 4},
    {"size 2", "[SETUP]\r\nKey=abcd\r\n", "SETUP", "Key", 2, "a", 1},
    {"size 1", "[SETUP]\r\nKey=abcd\r\n", "SETUP", "Key", 1, "", 0},
    {"quoted value cut", "[SETUP]\r\nKey=\"abcdefgh\"\r\n", "SETUP", "Key", 5, "abcd", 4},
    {"quoted value one over", "[SETUP]\r\nKey=\"abcde\"\r\n", "SETUP", "Key", 5, "abcd", 4},
    {"line without equals sign before the key", "[SETUP]\r\nKey\r\nKey=v\r\n", "SETUP", "Key", 260, "", 0},
    {"code page 932 value", "[SETUP]\r\nGameTitle=\x93\xFA\x96\x7B\x8C\xEA\x83\x51\x81\x5B\x83\x80\r\n",
     "SETUP", "GameTitle", 260, "\x93\xFA\x96\x7B\x8C\xEA\x83\x51\x81\x5B\x83\x80", 12},
    {"code page 932 trail bytes 0x5C", "[SETUP]\r\nDir=C:\\\x83\x5C\x83\x74\x83\x67\\\x95\x5C\r\n", "SETUP",
     "Dir", 260, "C:\\\x83\x5C\x83\x74\x83\x67\\\x95\x5C", 12},
    {"half-width katakana", "[SETUP]\r\nKey=\xB1\xB2\xB3\r\n", "SETUP", "Key", 260, "\xB1\xB2\xB3", 3},
    {"code page 932 in quotes", "[SETUP]\r\nKey=\"\x93\xFA\x96\x7B\"\r\n", "SETUP", "Key", 260,
     "\x93\xFA\x96\x7B", 4},
    {"code page 932 cut between characters", "[SETUP]\r\nKey=\x93\xFA\x96\x7B\x8C\xEA\r\n", "SETUP", "Key", 5,
     "\x93\xFA\x96\x7B", 4},
    {"code page 932 cut inside a character", "[SETUP]\r\nKey=\x93\xFA\x96\x7B\x8C\xEA\r\n", "SETUP", "Key", 4,
     "\x93\xFA", 3},
    {"full-width spaces around a value", "[SETUP]\r\nKey=\x81\x40\x93\xFA\x81\x40\r\n", "SETUP", "Key", 260,
     "\x81\x40\x93\xFA\x81\x40", 6},
    {"lone carriage returns", "[SETUP]\rKey=v\rOther=w\r", "SETUP", "Other", 260, "w", 1},
    {"key with a blank inside", "[SETUP]\r\nInstall Title = x\r\n", "SETUP", "Install Title", 260, "x", 1},
};

// Bytes as C escapes, so that a disagreement shows exactly which bytes differ; the run of NULs at the end
// is shown as its length.
std::string Escaped(const char* bytes, size_t length) {
    size_t trailingNuls = 0;
    while (trailingNuls < length && bytes[length - 1 - trailingNuls] == '\0')
        ++trailingNuls;
    length -= trailingNuls;
    std::string out;
    char hex[8];
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out + " + " + std::to_string(trailingNuls) + " NULs";
}

void CheckRead(const char* path, const char* section, const char* key, DWORD size, const char* expected,
               DWORD expectedCount) {
    enum { Guard = 16 };
    static char buffer[4096 + Guard];
    REQUIRE(size + Guard <= sizeof buffer);
    memset(buffer, 0, size);
    memset(buffer + size, 0x5A, Guard);
    DWORD count = GetPrivateProfileStringA(section, key, "", buffer, size, path);
    std::string expectedBytes(expected);
    expectedBytes.resize(size, '\0');
    CHECK(Escaped(buffer, size) == Escaped(expectedBytes.data(), size));
    CHECK(count == expectedCount);
    for (int i = 0; i < Guard; ++i)
        CHECK(static_cast<unsigned char>(buffer[size + i]) == 0x5A);
}

bool RunsUnderWine() {
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

} // namespace

TEST_CASE("the profile reader agrees with the table on every INI text") {
    TempFiles files;
    REQUIRE(OpenTempFiles(&files));
    for (const ProfileCase& c : profileCases) {
        char path[MAX_PATH + 16];
        if (c.text) {
            REQUIRE(WriteNextFile(&files, c.text, path, sizeof path));
        } else {
            NextFileName(&files, path, sizeof path);
        }
        std::string what = c.what;
        CAPTURE(what);
        CheckRead(path, c.section, c.key, c.size, c.expected, c.count);
    }

    SUBCASE("a long value is cut to the buffer size - 1") {
        std::string value;
        for (int i = 0; value.size() < 1500; ++i)
            value += static_cast<char>('a' + i % 26);
        std::string text = "[SETUP]\r\nLong=" + value + "\r\nAfter=ok\r\n";
        char path[MAX_PATH + 16];
        REQUIRE(WriteNextFile(&files, text.c_str(), path, sizeof path));
        CheckRead(path, "SETUP", "Long", 1024, value.substr(0, 1023).c_str(), 1023);
        CheckRead(path, "SETUP", "After", 260, "ok", 2);
    }
    CloseTempFiles(&files);
}

// Wine 8 loses the last character of a quoted value whose unquoted length is exactly the capacity minus
// one ("abcd" in quotes read with capacity 5 gives "abc"): its copy cuts the closing quote and then removes
// one more character in its place. Windows keeps every character that fits, and so does the stand-in; under
// Wine the test pins Wine's result so that a change in either is noticed.
TEST_CASE("a quoted value that just fits keeps its last character") {
    TempFiles files;
    REQUIRE(OpenTempFiles(&files));
    char path[MAX_PATH + 16];
    REQUIRE(WriteNextFile(&files, "[SETUP]\r\nKey=\"abcd\"\r\n", path, sizeof path));
    if (RunsUnderWine()) {
        CheckRead(path, "SETUP", "Key", 5, "abc", 3);
    } else {
        CheckRead(path, "SETUP", "Key", 5, "abcd", 4);
    }
    CheckRead(path, "SETUP", "Key", 6, "abcd", 4);
    CloseTempFiles(&files);
}
