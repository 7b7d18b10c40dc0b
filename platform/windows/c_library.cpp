// The few routines of the C library that the updater's code and the compiler call, for the updater alone.
// The updater links no C runtime: msvcrt.dll would be one more library that the loader binds at process
// start, searched for in the program's own folder before the search can be restricted (Wine loads a DLL
// planted there under that name; Windows keeps it among its known DLLs). The formatter, the one routine of
// the C runtime worth its size, is taken from the system folder's msvcrt.dll through the table of
// platform/system_libraries.h. A routine the program starts calling that is missing here fails its link.
//
// Built without the compiler's knowledge of these routines, which would otherwise turn their loops back
// into calls of themselves. Copies and fills use the string instructions, which the processor runs in
// wide units; the decoder's runs of one byte go through memset.
#include <cstddef>

extern "C" {

void* memcpy(void* to, const void* from, size_t count) {
    void* destination = to;
    __asm__ volatile("rep movsb" : "+D"(to), "+S"(from), "+c"(count) : : "memory");
    return destination;
}

void* memmove(void* to, const void* from, size_t count) {
    unsigned char* out = static_cast<unsigned char*>(to);
    const unsigned char* in = static_cast<const unsigned char*>(from);
    if (out <= in || out >= in + count) return memcpy(to, from, count);
    while (count--)
        out[count] = in[count];
    return to;
}

void* memset(void* to, int value, size_t count) {
    void* destination = to;
    __asm__ volatile("rep stosb" : "+D"(to), "+c"(count) : "a"(value) : "memory");
    return destination;
}

int memcmp(const void* a, const void* b, size_t count) {
    const unsigned char* x = static_cast<const unsigned char*>(a);
    const unsigned char* y = static_cast<const unsigned char*>(b);
    for (; count; --count, ++x, ++y)
        if (*x != *y) return *x - *y;
    return 0;
}

void* memchr(const void* bytes, int value, size_t count) {
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    for (; count; --count, ++p)
        if (*p == static_cast<unsigned char>(value)) return const_cast<unsigned char*>(p);
    return nullptr;
}

size_t strlen(const char* text) {
    const char* end = text;
    while (*end)
        ++end;
    return static_cast<size_t>(end - text);
}

size_t strnlen(const char* text, size_t capacity) {
    size_t length = 0;
    while (length < capacity && text[length])
        ++length;
    return length;
}

int strcmp(const char* a, const char* b) {
    for (; *a && *a == *b; ++a, ++b) {
    }
    return static_cast<unsigned char>(*a) - static_cast<unsigned char>(*b);
}

int strncmp(const char* a, const char* b, size_t count) {
    for (; count && *a && *a == *b; --count, ++a, ++b) {
    }
    return count ? static_cast<unsigned char>(*a) - static_cast<unsigned char>(*b) : 0;
}

char* strcpy(char* to, const char* from) {
    char* destination = to;
    while ((*to++ = *from++) != '\0') {
    }
    return destination;
}

char* strchr(const char* text, int value) {
    for (;; ++text) {
        if (*text == static_cast<char>(value)) return const_cast<char*>(text);
        if (!*text) return nullptr;
    }
}

char* strrchr(const char* text, int value) {
    const char* found = nullptr;
    for (;; ++text) {
        if (*text == static_cast<char>(value)) found = text;
        if (!*text) return const_cast<char*>(found);
    }
}

} // extern "C"
