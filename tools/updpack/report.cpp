// The tool's one way of telling the user what went wrong: a line on stderr, prefixed with the tool's name.
// A worker thread holds its lines instead (HoldReports), so that they come out in the order of the work,
// whichever thread finished first.
#include "tools/updpack/updpack.h"

#include <cstdarg>
#include <cstdio>

namespace {
thread_local std::string* heldReports = nullptr;
} // namespace

void HoldReports(std::string* held) {
    heldReports = held;
}

void Report(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    if (heldReports) {
        va_list again;
        va_copy(again, arguments);
        char line[512];
        int length = vsnprintf(line, sizeof line, format, arguments);
        if (length >= 0 && static_cast<size_t>(length) < sizeof line) {
            *heldReports += "updpack: " + std::string(line, static_cast<size_t>(length)) + "\n";
        } else if (length >= 0) {
            std::string longer(static_cast<size_t>(length) + 1, '\0');
            vsnprintf(&longer[0], longer.size(), format, again);
            longer.resize(static_cast<size_t>(length));
            *heldReports += "updpack: " + longer + "\n";
        }
        va_end(again);
    } else {
        fputs("updpack: ", stderr);
        vfprintf(stderr, format, arguments);
        fputc('\n', stderr);
    }
    va_end(arguments);
}

int ToolStatus(int done) {
    int boxes = HostMessageBoxesShown();
    if (boxes > 0)
        Report("%d message box%s of the updater's code reached the tool (above, on standard error); the "
               "command counts as failed",
               boxes, boxes == 1 ? "" : "es");
    return done && boxes == 0 ? ToolSucceeded : ToolFailed;
}
