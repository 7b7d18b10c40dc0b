// The update notice's conversion: only a single-byte "\" before a lower-case "n" turns into one carriage
// return; double-byte characters pass whole, even when their trail byte is 0x5C.
#include "app/update_notice.h"

#include <doctest/doctest.h>

#include <cstring>
#include <string>

namespace {
std::string Convert(const char* text, size_t capacity = 1024) {
    char output[1024];
    memset(output, 'x', sizeof output);
    ConvertUpdateNotice(text, output, capacity);
    return output;
}
} // namespace

TEST_CASE("update notice conversion table") {
    struct Row {
        const char* input;
        const char* expected;
    };
    // "表" is 0x95 0x5C in code page 932: its trail byte is the backslash byte.
    const Row rows[] = {
        {"", ""},
        {"plain", "plain"},
        {"first\\nsecond", "first\rsecond"},
        {"a\\n\\nb", "a\r\rb"},
        {"\\n", "\r"},
        {"upper\\Ncase", "upper\\Ncase"},
        {"trailing\\", "trailing\\"},
        {"double\\\\n", "double\\\r"},
        {"C:\\new\\game", "C:\rew\\game"},
        {"tab\\t", "tab\\t"},
        {"\x95\x5Cn", "\x95\x5Cn"},
        {"\x95\x5C\\n", "\x95\x5C\r"},
        {"アップデート\\nのお知らせ", "アップデート\rのお知らせ"},
        {"表\\n示", "表\r示"},
        {"\x95", "\x95"},
    };
    for (const Row& row : rows) {
        CAPTURE(row.input);
        CHECK(Convert(row.input) == row.expected);
    }
}

TEST_CASE("update notice never writes past a small buffer nor splits a character") {
    CHECK(Convert("abcdef", 4) == "abc");
    CHECK(Convert("a\\nb", 3) == "a\r");
    // "アップ" is six bytes; with room for five only two whole characters fit.
    CHECK(Convert("アップ", 6) == "アッ");
    CHECK(Convert("x", 1) == "");
}
