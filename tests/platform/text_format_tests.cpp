#include "platform/text_format.h"

#include <doctest/doctest.h>
#include <cstring>

TEST_CASE("FormatText cuts at the capacity and always terminates") {
    char buffer[8];
    memset(buffer, 'x', sizeof buffer);
    CHECK(FormatText(buffer, sizeof buffer, "%s-%i", "abc", 12) == 1);
    CHECK(strcmp(buffer, "abc-12") == 0);
    CHECK(FormatText(buffer, sizeof buffer, "%s", "0123456789") == 0);
    CHECK(strcmp(buffer, "0123456") == 0);
    CHECK(FormatText(buffer, 0, "%s", "a") == 0);
}

TEST_CASE("CopyText reports whether the text fitted") {
    char buffer[4];
    CHECK(CopyText(buffer, sizeof buffer, "abc") == 1);
    CHECK(strcmp(buffer, "abc") == 0);
    CHECK(CopyText(buffer, sizeof buffer, "abcd") == 0);
    CHECK(strcmp(buffer, "abc") == 0);
}
