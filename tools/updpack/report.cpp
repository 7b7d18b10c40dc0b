// The tool's one way of telling the user what went wrong: a line on stderr, prefixed with the tool's name.
#include "tools/updpack/updpack.h"

#include <cstdarg>
#include <cstdio>

void Report(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    fputs("updpack: ", stderr);
    vfprintf(stderr, format, arguments);
    fputc('\n', stderr);
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
