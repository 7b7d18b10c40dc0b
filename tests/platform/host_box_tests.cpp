// The host layer's message box, linked as updpack links it (without the tests' fakes): a box reached inside
// the tool cannot wait for a click, so its caption and text reach standard error in UTF-8 and it answers
// IDCANCEL.
#include "context/updater_context.h"
#include "report/messages.h"

#include <doctest/doctest.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

// Runs action with standard error sent to a temporary file, and gives back what was written there.
template <typename Action> std::string CapturedErrors(Action action) {
    char path[] = "/tmp/host-box-XXXXXX";
    int file = mkstemp(path);
    REQUIRE(file >= 0);
    fflush(stderr);
    int saved = dup(2);
    REQUIRE(saved >= 0);
    dup2(file, 2);
    action();
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::string text;
    char piece[512];
    lseek(file, 0, SEEK_SET);
    for (ssize_t got; (got = read(file, piece, sizeof piece)) > 0;)
        text.append(piece, static_cast<size_t>(got));
    close(file);
    unlink(path);
    return text;
}

} // namespace

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
