// The host layer's message box, linked as updpack links it (without the tests' fakes): a box reached inside
// the tool cannot wait for a click, so its caption and text reach standard error in UTF-8 and it answers
// IDCANCEL.
#include "context/updater_context.h"
#include "report/messages.h"
#include "tests/support/standard_error.h"

#include <doctest/doctest.h>

#include <string>

TEST_CASE("an error box in a host program is written to standard error with its caption") {
    ResetUpdaterContext();
    std::string written = CapturedErrors([] { ShowError("ファイルが見つかりません。"); });
    CHECK(written == std::string(u8"error: message box: UPDATE: ファイルが見つかりません。\n"));

    written = CapturedErrors([] { ShowCommonError("SETUP.INIが読めません"); });
    CHECK(written == std::string(u8"error: message box: INSTCMMN: SETUP.INIが読めません\n"));
}

TEST_CASE("a question box in a host program answers cancel, and bytes of no character pass as they are") {
    int answer = 0;
    std::string written =
        CapturedErrors([&answer] { answer = MessageBoxA(nullptr, "az\x81", nullptr, MB_OKCANCEL); });
    CHECK(answer == IDCANCEL);
    CHECK(written == std::string("error: message box: : az\x81\n"));
}
