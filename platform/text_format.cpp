// Bounded text formatting shared by every layer. vsnprintf of the C library is byte-transparent, so
// code page 932 arguments pass through unchanged.
#include "platform/text_format.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

int FormatTextV(char* destination, size_t capacity, const char* format, va_list arguments) {
    if (capacity == 0) return 0;
#ifdef _WIN32
    // The C runtime's own formatter: mingw's portable one would add most of the program's size.
    int needed = _vsnprintf(destination, capacity, format, arguments);
#else
    int needed = vsnprintf(destination, capacity, format, arguments);
#endif
    // Some C libraries leave the buffer unterminated when the output is cut.
    destination[capacity - 1] = '\0';
    return needed >= 0 && static_cast<size_t>(needed) < capacity;
}

int FormatText(char* destination, size_t capacity, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int fitted = FormatTextV(destination, capacity, format, arguments);
    va_end(arguments);
    return fitted;
}

int CopyText(char* destination, size_t capacity, const char* source) {
    if (capacity == 0) return 0;
    size_t length = strnlen(source, capacity);
    if (length == capacity) {
        memcpy(destination, source, capacity - 1);
        destination[capacity - 1] = '\0';
        return 0;
    }
    memcpy(destination, source, length + 1);
    return 1;
}
