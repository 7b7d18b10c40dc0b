// A message box that the updater's code reaches inside updpack, linked as the tool links it (the host
// layer, no fakes): nobody can answer it, so it is written to standard error and fails the command; one
// that the plan takes on purpose is neither written nor counted.
#include "context/updater_context.h"
#include "platform/standin/host_boxes.h"
#include "report/messages.h"
#include "tests/support/standard_error.h"
#include "tools/updpack/updpack.h"

#include <doctest/doctest.h>

#include <string>
#include <vector>

namespace {

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
