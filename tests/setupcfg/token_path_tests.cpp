// The token scanner, the path join and the decimal conversions: pure logic over bytes, run in both builds.
#include "context/updater_context.h"
#include "setupcfg/path_join.h"
#include "setupcfg/profile_access.h"
#include "setupcfg/token_scanner.h"

#include <doctest/doctest.h>

#include <cstring>
#include <string>

namespace {

enum { MaxTokens = 6 };

struct TokenCase {
    const char* text;
    int startDisk; // CurrentDisk before the first scan
    int count;     // tokens before the scan that returns 0
    const char* tokens[MaxTokens];
    int disks[MaxTokens]; // CurrentDisk after each token
};

const TokenCase tokenCases[] = {
    {"a, b ,c", 0, 3, {"a", "b ", "c"}, {0, 0, 0}},
    {"a,,b", 0, 1, {"a"}, {0}},
    {"a,b,", 0, 2, {"a", "b"}, {0, 0}},
    {",a", 0, 0, {}, {}},
    {"", 0, 0, {}, {}},
    {" \t ", 0, 0, {}, {}},
    {"\t a b \t,c", 0, 2, {"a b \t", "c"}, {0, 0}},
    {"1:x,y,2:z", 0, 3, {"x", "y", "z"}, {1, 1, 2}},
    {"1:a,b,2:c,d", 0, 4, {"a", "b", "c", "d"}, {1, 1, 2, 2}},
    {"1:", 0, 1, {""}, {1}},
    {"1:,a", 0, 2, {"", "a"}, {1, 1}},
    {"x:abc", 7, 1, {"abc"}, {0}},
    {"C:\\Games", 4, 1, {"\\Games"}, {0}},
    {"1: a", 0, 1, {" a"}, {1}},
    {"12:a", 5, 1, {"12:a"}, {5}}, // only one character before the colon is a prefix
    {":a", 5, 1, {":a"}, {5}},
    {"a,b", 3, 2, {"a", "b"}, {3, 3}}, // tokens without a prefix leave the disk alone
    {"9:a,0:b", 0, 2, {"a", "b"}, {9, 0}},
    {" 2:a", 0, 1, {"a"}, {2}}, // blanks before the prefix are skipped
    {"a\rb\nc", 0, 3, {"a", "b", "c"}, {0, 0, 0}},
    {"a\r\nb", 0, 1, {"a"}, {0}}, // the line feed after the carriage return is an empty item
    {"\x83\x5C\x83\x74\x83\x67,\x95\x5C", 0, 2, {"\x83\x5C\x83\x74\x83\x67", "\x95\x5C"}, {0, 0}},
};

} // namespace

TEST_CASE("NextToken splits list values with sticky disk prefixes") {
    for (const TokenCase& c : tokenCases) {
        ResetUpdaterContext();
        std::string text = c.text;
        CAPTURE(text);
        Updater.CurrentDisk = c.startDisk;
        const char* cursor = c.text;
        char token[260];
        for (int i = 0; i < c.count; ++i) {
            CAPTURE(i);
            int cut = -1;
            REQUIRE(NextToken(token, sizeof token, &cursor, &cut) == 1);
            CHECK(std::string(token) == c.tokens[i]);
            CHECK(Updater.CurrentDisk == c.disks[i]);
            CHECK(cut == 0);
        }
        // No token: the destination is not written and the cursor stays on the byte that ended the scan.
        memset(token, 'Q', sizeof token);
        const char* before = cursor;
        int disk = Updater.CurrentDisk;
        CHECK(NextToken(token, sizeof token, &cursor, nullptr) == 0);
        CHECK(token[0] == 'Q');
        CHECK(Updater.CurrentDisk == disk);
        CHECK(cursor >= before);
        CHECK(cursor < c.text + strlen(c.text) + 1);
        CHECK(IsTokenEnd(static_cast<unsigned char>(*cursor)));
        CHECK(NextToken(token, sizeof token, &cursor, nullptr) == 0); // and stays there
    }
}

TEST_CASE("NextToken cuts a token that does not fit and goes on after it") {
    ResetUpdaterContext();
    char token[8];
    memset(token, 'Q', sizeof token);
    const char* cursor = "abcdefghij,xy,1:klm";
    int cut = 0;
    REQUIRE(NextToken(token, 4, &cursor, &cut) == 1);
    CHECK(std::string(token) == "abc");
    CHECK(cut == 1);
    CHECK(token[4] == 'Q'); // nothing past the capacity
    REQUIRE(NextToken(token, 4, &cursor, &cut) == 1);
    CHECK(std::string(token) == "xy");
    CHECK(cut == 0);
    REQUIRE(NextToken(token, 4, &cursor, &cut) == 1); // exactly capacity - 1 bytes is not cut
    CHECK(std::string(token) == "klm");
    CHECK(cut == 0);
    CHECK(Updater.CurrentDisk == 1);
    CHECK(NextToken(token, 4, &cursor, &cut) == 0);

    // A token of 300 bytes in the 260-byte entries of the model keeps its first 259 bytes.
    std::string longText(300, 'x');
    longText += ",next";
    char entry[260 + 4];
    memset(entry, 'Q', sizeof entry);
    cursor = longText.c_str();
    REQUIRE(NextToken(entry, 260, &cursor, &cut) == 1);
    CHECK(strlen(entry) == 259);
    CHECK(cut == 1);
    CHECK(entry[260] == 'Q');
    REQUIRE(NextToken(entry, 260, &cursor, &cut) == 1);
    CHECK(std::string(entry) == "next");
}

TEST_CASE("scanner character classes") {
    for (int c = 0; c < 256; ++c) {
        CAPTURE(c);
        CHECK(IsBlank(static_cast<unsigned char>(c)) == (c == '\t' || c == ' '));
        CHECK(IsTokenEnd(static_cast<unsigned char>(c)) == (c == 0 || c == '\n' || c == '\r' || c == ','));
    }
}

namespace {

struct JoinCase {
    const char* path;
    size_t capacity;
    const char* name;
    int result;
    const char* joined; // the buffer's text afterwards (the path itself when the join did not fit)
};

// "\x83\x5C" (katakana so) and "\x95\x5C" (hyou) end in the byte 0x5C; "\x83\x80" (katakana mu) does not.
const JoinCase joinCases[] = {
    {"C:\\Game", 260, "SETUP.INI", 1, "C:\\Game\\SETUP.INI"},
    {"C:\\Game\\", 260, "SETUP.INI", 1, "C:\\Game\\SETUP.INI"},
    {"", 260, "SETUP.INI", 1, "SETUP.INI"},
    {"C:/Game/", 260, "SETUP.INI", 1, "C:/Game/SETUP.INI"},
    {"C:\\Game", 260, "", 1, "C:\\Game\\"},
    {"C:\\Game", 260, "data\\a.bin", 1, "C:\\Game\\data\\a.bin"},
    // The separator test is on the final byte alone, as in the installer that laid the folders out.
    {"C:\\\x83\x5C", 260, "SETUP.INI", 1, "C:\\\x83\x5CSETUP.INI"},
    {"C:\\\x83\x5C\x83\x74\x83\x67\x95\x5C", 260, "a.dat", 1,
     "C:\\\x83\x5C\x83\x74\x83\x67\x95\x5C"
     "a.dat"},
    {"C:\\\x83\x80", 260, "SETUP.INI", 1, "C:\\\x83\x80\\SETUP.INI"},
    // Path, separator, name and two NULs: 3 + 1 + 2 + 2 bytes.
    {"abc", 8, "de", 1, "abc\\de"},
    {"abc", 7, "de", 0, "abc"},
    {"abc\\", 8, "de", 1, "abc\\de"},
    {"abc\\", 7, "de", 0, "abc\\"},
    {"", 3, "x", 1, "x"},
    {"", 2, "x", 0, ""},
    {"", 2, "", 1, ""},
};

} // namespace

TEST_CASE("JoinPath joins with one separator and two NULs, or leaves the buffer when it does not fit") {
    for (const JoinCase& c : joinCases) {
        std::string path = c.path, name = c.name;
        CAPTURE(path);
        CAPTURE(name);
        CAPTURE(c.capacity);
        char buffer[300];
        memset(buffer, 'Q', sizeof buffer);
        memcpy(buffer, c.path, strlen(c.path) + 1);
        char before[300];
        memcpy(before, buffer, sizeof buffer);
        CHECK(JoinPath(buffer, c.capacity, c.name) == c.result);
        CHECK(std::string(buffer) == c.joined);
        if (c.result) {
            size_t length = strlen(c.joined);
            CHECK(buffer[length + 1] == '\0');
            CHECK(memcmp(buffer + length + 2, before + length + 2, sizeof buffer - length - 2) == 0);
        } else {
            CHECK(memcmp(buffer, before, sizeof buffer) == 0);
        }
        CHECK(memcmp(buffer + c.capacity, before + c.capacity, sizeof buffer - c.capacity) == 0);
    }

    // A path that is not even terminated inside its capacity is refused untouched.
    char unterminated[4] = {'a', 'b', 'c', 'd'};
    CHECK(JoinPath(unterminated, sizeof unterminated, "x") == 0);
    CHECK(memcmp(unterminated, "abcd", 4) == 0);
}

TEST_CASE("ConvertDecimal reads like the standard conversion and clamps to 32 bits") {
    struct {
        const char* text;
        int32_t value;
    } cases[] = {
        {"12abc", 12},
        {"abc", 0},
        {"", 0},
        {"  -42", -42},
        {"\t\r\n 5", 5},
        {"+7", 7},
        {"- 5", 0},
        {"0x10", 0},
        {"007", 7},
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MIN},
        {"99999999999999999999999999", INT32_MAX},
        {"-99999999999999999999999999", INT32_MIN},
        {"\x82\x50\x82\x51", 0}, // full-width digits are not digits
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        CAPTURE(text);
        CHECK(ConvertDecimal(c.text) == c.value);
    }
}

TEST_CASE("ConvertUnsignedDecimal64 reads 64-bit sizes") {
    struct {
        const char* text;
        uint64_t value;
    } cases[] = {
        {"4294967295", 4294967295ull},
        {"4294967296", 4294967296ull},
        {" 5000000000 bytes", 5000000000ull},
        {"9999999999999999999", 9999999999999999999ull},
        {"18446744073709551615", UINT64_MAX},
        {"18446744073709551616", UINT64_MAX},
        {"abc", 0},
        {"", 0},
        {"+12", 12},
        {"-1", UINT64_MAX}, // the standard conversion negates modulo 2^64
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        CAPTURE(text);
        CHECK(ConvertUnsignedDecimal64(c.text) == c.value);
    }
}
