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
