// A message box that the updater's code reaches inside updpack, linked as the tool links it (the host
// layer, no fakes): nobody can answer it, so it is written to standard error and fails the command; one
// that the plan takes on purpose is neither written nor counted.
#include "context/updater_context.h"
#include "platform/standin/host_boxes.h"
#include "report/messages.h"
#include "tools/updpack/updpack.h"

#include <doctest/doctest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

template <typename Action> std::string CapturedErrors(Action action) {
    char path[] = "/tmp/tool-box-XXXXXX";
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

int Answer(const char* text, const char*, UINT, void* data) {
    static_cast<std::vector<std::string>*>(data)->push_back(text);
    return IDOK;
}

} // namespace

// One process: the count only grows, so the cases run in this order.
TEST_CASE("a box inside the tool fails the command; a box the tool takes does not") {
    ResetUpdaterContext();
    int status = -1;
    CHECK(CapturedErrors([&] { status = ToolStatus(1); }).empty());
    CHECK(status == ToolSucceeded);

    std::vector<std::string> taken;
    Standin::TakeMessageBoxes(Answer, &taken);
    CHECK(CapturedErrors([] { ShowError("taken"); }).empty());
    Standin::TakeMessageBoxes(nullptr, nullptr);
    CHECK(taken == std::vector<std::string>{"taken"});
    CHECK(ToolStatus(1) == ToolSucceeded);

    std::string written = CapturedErrors([&] {
        ShowError("Can't Find File in Resource !!");
        status = ToolStatus(1);
    });
    CHECK(status == ToolFailed);
    CHECK(written.find("error: message box: UPDATE: Can't Find File in Resource !!\n") == 0);
    CHECK(written.find("1 message box of the updater's code reached the tool") != std::string::npos);
    CHECK(ToolStatus(0) == ToolFailed);
}
